// A script's world as plug-in set-up makes it, without running a script file: a sub-interpreter
// with its session, module proxyplugin registered in it, and the script's registry object owned by
// a plug-in object that is never set up. In the script namespace `pp` is the module, `ID` the
// script identifier and, once a handler is attached, `KEY` its key.
#pragma once

#include <Python.h>
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <stdexcept>
#include <string>

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
    ScriptFixture()
        : _owner(new ProxyPythonPlugin("ProxyPythonPlugin?")),
          _interface(ProxyPluginPyInterface::new_ProxyPluginPyInterface(_owner)) {
        PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
        PyEval_RestoreThread(main->getPyThreadState());
        PyThreadState* state = Py_NewInterpreter();
        main->setPyThreadState(PyEval_SaveThread());
        if (state == nullptr) {
            throw std::runtime_error("no sub-interpreter");
        }
        _session = new PySession(state);  // lives until the process ends, as set-up's does
        PySession::Use use(_session);
        _module = PyModule_Create2(ProxyPluginPyModule_def(), 1013);  // never released
        PyModule_AddStringConstant(_module, "__proxy_plugin_identifier__", identifier().c_str());
        const std::pair<const char*, int> types[] = {{"ACTION_TYPE_NORMAL", 1},
                                                     {"ACTION_TYPE_MENU", 2},
                                                     {"ACTION_TYPE_EX_GROUP", 3},
                                                     {"ACTION_TYPE_CHECKABLE", 4}};
        for (const auto& [name, value] : types) {
            PyModule_AddIntConstant(_module, name, value);
        }
        PyDict_SetItemString(PyImport_GetModuleDict(), "proxyplugin", _module);
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
    PyObject* module() const { return _module; }  // borrowed

    // A handler with a bridge registered under its key, as set-up makes them; both live until
    // the process ends.
    struct Attached {
        ICDHandler* handler;
        ProxyPluginPyHandlerInterface* bridge;
    };
    Attached attachHandler(const std::string& name = "TEST_BUS") {
        auto* handler = new ICDHandler(name, name + ".xml", 1000);
        char key[32];
        std::snprintf(key, sizeof key, "%016" PRIxPTR, reinterpret_cast<std::uintptr_t>(handler));
        ProxyPluginPyHandlerInterface* bridge = nullptr;
        {
            PySession::Use use(_session);
            bridge = new ProxyPluginPyHandlerInterface(handler, _session);
        }
        _interface->addHandlerInterface(key, bridge);
        run(std::string("KEY = '") + key + "'\n");
        return {handler, bridge};
    }

    // Runs statements in the script namespace, entering the session; a raised error is printed.
    bool run(const std::string& code) {
        PySession::Use use(_session);
        return static_cast<bool>(PyRef::steal(evalCode(code, Py_file_input)));
    }
    // Precondition: the session is held.
    PyRef eval(const std::string& expression) {
        return PyRef::steal(evalCode(expression, Py_eval_input));
    }
    std::string text(const std::string& expression) {
        PySession::Use use(_session);
        PyRef value = eval("str(" + expression + ")");
        const char* utf8 = value ? PyUnicode_AsUTF8(value.get()) : nullptr;
        return utf8 != nullptr ? utf8 : "<error>";
    }

private:
    PyObject* evalCode(const std::string& code, int start) {
        PyObject* globals = _session->globals();
        PyObject* result = PyRun_String(code.c_str(), start, globals, globals);
        if (result == nullptr) {
            pycompat::printPendingError();
        }
        return result;
    }

    ProxyPythonPlugin* _owner;
    ProxyPluginPyInterface* _interface;
    PySession* _session = nullptr;
    PyObject* _module = nullptr;
};
