// Set-up of a proxy plug-in when the host hands it an ICD handler: the sub-interpreter, its
// session and modules proxyplugin and proxyplugin_ext (once), then per handler the handler's
// constants, a handler bridge, the script run, the plug-in's name and its help action.
//
// Lock rules: the interpreter lock is taken only inside PyMainInterp::newSubInterpreter, inside
// PySession::Use guards, and inside
// PySession::eval / exec_file (which enter the session themselves, so no guard is held around
// them).
#include "ProxyPythonPlugin.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "pymodule/ProxyPluginExtModule.h"
#include "pymodule/ProxyPluginPyModule.h"
#include "plugin/ScriptErrors.h"
#include "PrintLine.h"

namespace {

// PYTHON_API_VERSION of every CPython from 3.7 to 3.13.
constexpr int kModuleApiVersion = 1013;
constexpr const char* kModuleName = "proxyplugin";
constexpr const char* kExtModuleName = "proxyplugin_ext";

// A directory opens for reading here but not on Windows; it is no script either way.
bool fileOpensForReading(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return false;
    }
    std::ifstream file(path);
    return file.is_open();
}

// Precondition: the module's session is held. On failure the Python error stays pending.
bool addStringConstant(PyObject* module, const char* name, const std::string& value) {
    return PyModule_AddStringConstant(module, name, value.c_str()) == 0;
}

// Module proxyplugin_ext in the current interpreter's module table, so that the script imports it
// like proxyplugin; the table keeps it alive. A failure is reported and leaves the script without
// it, module proxyplugin works all the same. Precondition: the interpreter lock is held.
void createExtModule() {
    PyRef module = PyRef::steal(PyModule_Create2(ProxyPluginExtModule_def(), kModuleApiVersion));
    const bool made =
        module && ProxyPluginExtModule_addConstants(module.get()) &&
        PyDict_SetItemString(PyImport_GetModuleDict(), kExtModuleName, module.get()) == 0;
    if (!made) {
        PyErr_Clear();
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "ProxyPythonPlugin: cannot create module ",
                              kExtModuleName);
    }
}

}  // namespace

void ProxyPythonPlugin::onSetICDHandler(ICDHandler* handler) {
    if (handler == nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "ProxyPythonPlugin: no ICD handler given to ", _name);
        return;
    }
    if (!_initialised) {
        init();
    }
    // A plug-in whose set-up failed stays inert; init has said why, once.
    if (!isReady()) {
        return;
    }
    publishHandler(handler);

    if (fileOpensForReading(_fileName)) {
        loadPythonFile(_fileName);
    } else {
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "python plugin file ", _fileName, " not found");
    }
    _name = _interface->getName();
    ppp_output::printLine(std::cout, "ProxyPythonPlugin::", _name);
    createHelpMenu();
}

void ProxyPythonPlugin::init() {
    // Once per plug-in, even when called directly: a second run would make a second script.
    if (_initialised) {
        return;
    }
    // The identifier exists before any Python work, so the module can publish it.
    _interface = ProxyPluginPyInterface::new_ProxyPluginPyInterface(this);
    createSubInterpreter();
    if (_threadState == nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr,
                              "ProxyPythonPlugin: cannot create the Python sub-interpreter");
    } else {
        // Never deleted: the session lives as long as the sub-interpreter, until the process ends.
        _session = new PySession(_threadState);
        createModule();
    }
    _scriptDir = scriptDirOf(_fileName);
    if (isReady()) {
        // The directory goes in unquoted: a quote in it makes the line fail, and eval reports it.
        _session->eval("import sys");
        _session->eval("import os,pydoc");
        _session->eval("sys.path.append('" + _scriptDir + "')");
        _session->eval("sys.path.append('" + _scriptDir + "lib/site-packages')");
    }
    _initialised = true;
}

void ProxyPythonPlugin::createSubInterpreter() {
    std::string error;
    _threadState = PyMainInterp::PyMainInterpInstance()->newSubInterpreter(&error);
    // The shared lock's failure has always been reported by init alone.
    if (_threadState == nullptr && PyMainInterp::ownLocks()) {
        ppp_output::printLine(std::cerr, "ProxyPythonPlugin: ", error);
    }
}

void ProxyPythonPlugin::createModule() {
    PySession::Use use(_session);
    pycompat::setArgvEx(0, nullptr, 0);

    PyRef module = PyRef::steal(PyModule_Create2(ProxyPluginPyModule_def(), kModuleApiVersion));
    bool made = static_cast<bool>(module);
    if (made) {
        PyRef handlers = PyRef::steal(PyDict_New());
        // SetAttr does not steal: the module takes its own reference to the dictionary.
        made = handlers && PyObject_SetAttrString(module.get(), "proxy_plugin_handlers_dict",
                                                  handlers.get()) == 0;
    }
    if (made) {
        const std::string identifier = _interface->getIdentifier();
        ppp_output::printLine(std::cout, "Module::", PyModule_GetName(module.get()), "->",
                              identifier);
        made = addStringConstant(module.get(), "__proxy_plugin_identifier__", identifier) &&
               PyModule_AddIntConstant(module.get(), "ACTION_TYPE_MENU", ACTION_TYPE_MENU) == 0 &&
               PyModule_AddIntConstant(module.get(), "ACTION_TYPE_CHECKABLE",
                                       ACTION_TYPE_CHECKABLE) == 0 &&
               PyModule_AddIntConstant(module.get(), "ACTION_TYPE_EX_GROUP",
                                       ACTION_TYPE_EX_GROUP) == 0 &&
               PyModule_AddIntConstant(module.get(), "ACTION_TYPE_NORMAL", ACTION_TYPE_NORMAL) == 0;
    }
    if (made) {
        // So that the script's "import proxyplugin" yields this very object. The module table is
        // borrowed; SetItemString does not steal the module.
        made = PyDict_SetItemString(PyImport_GetModuleDict(), kModuleName, module.get()) == 0;
    }
    if (!made) {
        PyErr_Clear();
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "ProxyPythonPlugin: cannot create module proxyplugin");
        return;
    }
    // The plug-in keeps the creation reference for the life of the process.
    _module = module.release();
    createExtModule();
}

void ProxyPythonPlugin::publishHandler(ICDHandler* handler) {
    PySession::Use use(_session);
    const std::string key = handlerKeyOf(handler);
    char busClock[32];
    std::snprintf(busClock, sizeof busClock, "%lu", handler->getBusClockPeriod());
    // Adding a constant again replaces it: the four always describe the handler set last.
    const bool published =
        addStringConstant(_module, "__proxy_plugin_icd_identifier__", key) &&
        addStringConstant(_module, "__proxy_plugin_icd_interface__", handler->getName()) &&
        addStringConstant(_module, "__proxy_plugin_icd_filename__",
                          handler->getXMLConfigFileName()) &&
        addStringConstant(_module, "__proxy_plugin_icd_us_busclock__", busClock);
    if (!published) {
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
    }
    // Never deleted: the bridge stays registered on its handler until the process ends. The
    // registry starts its background thread, which waits for this guard to end.
    ProxyPluginPyHandlerInterface* bridge = new ProxyPluginPyHandlerInterface(handler, _session);
    _interface->addHandlerInterface(key, bridge);
}

bool ProxyPythonPlugin::loadPythonFile(std::string path) {
    if (_session == nullptr) {
        return false;
    }
    if (_session->exec_file(path)) {
        return true;
    }
    ProxyPythonPluginNS::noteScriptError();
    ppp_output::printLine(std::cerr, _session->_errorText);
    return false;
}
