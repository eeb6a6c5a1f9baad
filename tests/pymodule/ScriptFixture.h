// A script's world as plug-in set-up makes it, without running a script file or building the help
// menu: a sub-interpreter with its session, module proxyplugin registered in it with the script
// identifier and action-type constants, and the script's registry object owned by a plug-in
// object that is never set up. Handlers with their bridges are attached on request.
//
// In the script namespace: `pp` is module proxyplugin and `ID` the script identifier; attaching a
// handler adds its key as `KEY` (the last one attached).
#pragma once

#include <Python.h>
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ICDHandler.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "pymodule/ProxyPluginPyModule.h"

class ScriptFixture {
public:
    ScriptFixture() {
        _owner = new ProxyPythonPlugin("ProxyPythonPlugin?");
        _interface = ProxyPluginPyInterface::new_ProxyPluginPyInterface(_owner);

        PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
        PyEval_RestoreThread(main->getPyThreadState());
        PyThreadState* state = Py_NewInterpreter();
        main->setPyThreadState(PyEval_SaveThread());
        if (state == nullptr) {
            throw std::runtime_error("no sub-interpreter");
        }
        _session = new PySession(state);  // lives until the process ends, as set-up's does

        PySession::Use use(_session);
        PyRef module = PyRef::steal(PyModule_Create2(ProxyPluginPyModule_def(), 1013));
        if (!module ||
            PyModule_AddStringConstant(module.get(), "__proxy_plugin_identifier__",
                                       _interface->getIdentifier().c_str()) != 0 ||
            PyModule_AddIntConstant(module.get(), "ACTION_TYPE_MENU", 2) != 0 ||
            PyModule_AddIntConstant(module.get(), "ACTION_TYPE_CHECKABLE", 4) != 0 ||
            PyModule_AddIntConstant(module.get(), "ACTION_TYPE_EX_GROUP", 3) != 0 ||
            PyModule_AddIntConstant(module.get(), "ACTION_TYPE_NORMAL", 1) != 0 ||
            PyDict_SetItemString(PyImport_GetModuleDict(), "proxyplugin", module.get()) != 0) {
            pycompat::printPendingError();
            throw std::runtime_error("module proxyplugin not created");
        }
        _module = module.release();
        if (!run("import proxyplugin as pp\nID = pp.__proxy_plugin_identifier__\n")) {
            throw std::runtime_error("module proxyplugin not importable");
        }
    }

    // The registry object stays registered, as it does when a plug-in is deleted; the owner goes.
    ~ScriptFixture() {
        _interface->detachPlugin();
        delete _owner;
    }

    ScriptFixture(const ScriptFixture&) = delete;
    ScriptFixture& operator=(const ScriptFixture&) = delete;

    ProxyPythonPlugin& owner() { return *_owner; }
    ProxyPluginPyInterface& registry() { return *_interface; }
    PySession* session() { return _session; }
    std::string identifier() const { return _interface->getIdentifier(); }
    // Borrowed. Precondition: the session is held.
    PyObject* module() const { return _module; }

    // A new handler with a bridge registered under its key (which starts the bridge's thread),
    // as set-up does for each handler; `KEY` names it in the script. Both live until the process
    // ends.
    std::string attachHandler(const std::string& name = "TEST_BUS") {
        ICDHandler* handler = new ICDHandler(name, name + ".xml", 1000);
        _handlers.push_back(handler);
        const std::string key = keyOf(handler);
        ProxyPluginPyHandlerInterface* bridge = nullptr;
        {
            PySession::Use use(_session);
            bridge = new ProxyPluginPyHandlerInterface(handler, _session);
            PyModule_AddStringConstant(_module, "__proxy_plugin_icd_identifier__", key.c_str());
        }
        _interface->addHandlerInterface(key, bridge);
        run("KEY = pp.__proxy_plugin_icd_identifier__\n");
        return key;
    }
    ICDHandler* handler(std::size_t index = 0) { return _handlers.at(index); }

    static std::string keyOf(const ICDHandler* handler) {
        char key[32];
        std::snprintf(key, sizeof key, "%016" PRIxPTR, reinterpret_cast<std::uintptr_t>(handler));
        return key;
    }

    // Runs statements in the script namespace, entering the session. False when they raised;
    // the error is then printed.
    bool run(const std::string& code) {
        PySession::Use use(_session);
        PyRef result =
            PyRef::steal(PyRun_String(code.c_str(), Py_file_input, globals(), globals()));
        if (!result) {
            pycompat::printPendingError();
        }
        return static_cast<bool>(result);
    }

    // Evaluates an expression in the script namespace. Precondition: the session is held.
    PyRef eval(const std::string& expression) {
        PyRef result =
            PyRef::steal(PyRun_String(expression.c_str(), Py_eval_input, globals(), globals()));
        if (!result) {
            pycompat::printPendingError();
        }
        return result;
    }

    // The expression's value as a C++ value, entering the session.
    std::string text(const std::string& expression) {
        PySession::Use use(_session);
        PyRef value = eval("str(" + expression + ")");
        const char* utf8 = value ? PyUnicode_AsUTF8(value.get()) : nullptr;
        return utf8 != nullptr ? utf8 : "<error>";
    }
    long number(const std::string& expression) {
        PySession::Use use(_session);
        PyRef value = eval(expression);
        return value ? PyLong_AsLong(value.get()) : -999999;
    }
    bool truth(const std::string& expression) {
        PySession::Use use(_session);
        PyRef value = eval(expression);
        return value && PyObject_IsTrue(value.get()) == 1;
    }

    // Precondition: the session is held.
    PyObject* globals() const { return _session->globals(); }

private:
    ProxyPythonPlugin* _owner = nullptr;
    ProxyPluginPyInterface* _interface = nullptr;
    PySession* _session = nullptr;
    PyObject* _module = nullptr;  // owned; never released, like set-up's
    std::vector<ICDHandler*> _handlers;
};

// Reference counts say nothing about immortal objects (None, True, False from 3.12 on).
inline bool isImmortal(PyObject* object) {
    return Py_REFCNT(object) > (static_cast<Py_ssize_t>(1) << 28);
}
