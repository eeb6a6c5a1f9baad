// Module proxyplugin: its method table, its state and the helpers its functions share.
#include "pymodule/ProxyPluginPyModule.h"

#include "PyCompat.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ModuleFunctions.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "plugin/ScriptErrors.h"

namespace proxyplugin_module {

PyObject* none() {
    Py_RETURN_NONE;
}

PyObject* parserError() {
    ProxyPythonPluginNS::noteScriptError();
    pycompat::printPendingError();
    return none();
}

PyObject* argumentError(const char* text) {
    PyErr_Clear();
    PyErr_SetString(PyExc_AttributeError, text);
    ProxyPythonPluginNS::noteScriptError();
    pycompat::printPendingError();
    return none();
}

ProxyPluginPyInterface* interfaceOrReport(const char* identifier) {
    ProxyPluginPyInterface* found = ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(
        identifier != nullptr ? identifier : "");
    if (found == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "no proxyinterface found");
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
    }
    return found;
}

ProxyPluginPyHandlerInterface* bridgeOrReport(const char* key) {
    ProxyPluginPyHandlerInterface* found =
        ProxyPluginPyInterface::getHandlerInterface(key != nullptr ? key : "");
    if (found == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "no proxyHandlderinterface found");
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
    }
    return found;
}

PyObject* handOver(PyObject* result) {
    if (PyErr_Occurred() != nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
    }
    return result != nullptr ? result : none();
}

}  // namespace proxyplugin_module

namespace {

namespace fn = proxyplugin_module;

// Per-module state: one object reference, null at creation; nothing stores an object there.
PyObject** moduleState(PyObject* module) {
    return static_cast<PyObject**>(PyModule_GetState(module));
}

int traverseModule(PyObject* module, visitproc visit, void* arg) {
    PyObject** state = moduleState(module);
    if (state != nullptr && *state != nullptr) {
        return visit(*state, arg);
    }
    return 0;
}

int clearModule(PyObject* module) {
    PyObject** state = moduleState(module);
    if (state != nullptr) {
        Py_CLEAR(*state);  // empties the slot before the object is released
    }
    return 0;
}

PyMethodDef methods[] = {
    {"setStartCallback", fn::setStartCallback, METH_VARARGS,
     "Assign the python method on bus Start event"},
    {"setStopCallback", fn::setStopCallback, METH_VARARGS,
     "Assign the python method on bus Stop event"},
    {"setOnPluginActionCallback", fn::setOnPluginActionCallback, METH_VARARGS,
     "Assign the python method to manage a request of plugin action based on identifier"},
    {"setConsumeICDEventCallback", fn::setConsumeICDEventCallback, METH_VARARGS,
     "Assign the python method to manage events provided by ICD environment"},
    {"setName", fn::setName, METH_VARARGS, "Assign the plugin name"},
    {"addSimpleAction", fn::addSimpleAction, METH_VARARGS, "Append action to the plugin"},
    {"addCallableAction", fn::addCallableAction, METH_VARARGS,
     "Append callable action to the plugin"},
    {"setChecked", fn::setChecked, METH_VARARGS, "Set checkable Action value"},
    {"getChecked", fn::getChecked, METH_VARARGS, "Get checkable Action value"},
    {"raiseError", fn::raiseError, METH_VARARGS,
     "Raise an Error to the application based on message string and severity passed as "
     "arguments"},
    {"messageBox", fn::messageBox, METH_VARARGS, "Utility to open a messageBox dialog"},
    {"inputBox", fn::inputBox, METH_VARARGS, "Utility to open a inputBox dialog"},
    {"openFileDialog", fn::openFileDialog, METH_VARARGS, "Utility to open a openFile dialog"},
    {"saveFileDialog", fn::saveFileDialog, METH_VARARGS, "Utility to open a saveFile dialog"},
    {"openDirDialog", fn::openDirDialog, METH_VARARGS, "Utility to open a openDir dialog"},
    {"commitSingleMessageField", fn::commitSingleMessageField, METH_VARARGS,
     "In case of reserved message field it performs an hidden message commitment (no events or "
     "sending operation are performed)"},
    {"commitSingleMessage", fn::commitSingleMessage, METH_VARARGS,
     "It performs a single message commitment (no events or sending operation are performed)"},
    {"sendICDEvent", fn::sendICDEvent, METH_VARARGS, "Send event to the ICD"},
    {"setMessageFieldReserved", fn::setMessageFieldReserved, METH_VARARGS,
     "Set reservation handle (for writing ) on message field"},
    {"setEncodingFrom", fn::setEncodingFrom, METH_VARARGS, "Set encoder for message field"},
    {"getEncoderName", fn::getEncoderName, METH_VARARGS, "Get encoder name for message field"},
    {nullptr, nullptr, 0, nullptr},
};

// Shared by every sub-interpreter: each creates its own module object from it.
PyModuleDef moduleDef = {
    PyModuleDef_HEAD_INIT, "proxyplugin", "Proxy plugin python extension",
    sizeof(PyObject*),     methods,       nullptr,
    traverseModule,        clearModule,   nullptr,
};

}  // namespace

extern "C" {

PyObject* PyInit_proxyplugin(void) {
    return PyModule_Create2(&moduleDef, 1013);
}

PyModuleDef* ProxyPluginPyModule_def(void) {
    return &moduleDef;
}

PyMethodDef* ProxyPluginPyModule_methods(void) {
    return methods;
}
}
