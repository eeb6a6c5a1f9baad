// Internal to module proxyplugin: the 21 functions of its method table and the reporting rules
// they share. Every function runs with the script's interpreter held, returns a new reference
// (None when it has nothing else to give) and never leaves a Python error pending.
#pragma once

#include <Python.h>

class ProxyPluginPyInterface;
class ProxyPluginPyHandlerInterface;

namespace proxyplugin_module {

// A new reference to None.
PyObject* none();
// An argument mismatch reported with the parser's own error: prints it, returns None.
PyObject* parserError();
// An argument mismatch reported as an AttributeError carrying `text` in place of the parser's
// error: prints it, returns None.
PyObject* argumentError(const char* text);
// The script's interface, or null after printing a RuntimeError "no proxyinterface found".
ProxyPluginPyInterface* interfaceOrReport(const char* identifier);
// The bridge registered under `key`, or null after printing a RuntimeError
// "no proxyHandlderinterface found".
ProxyPluginPyHandlerInterface* bridgeOrReport(const char* key);
// Hands an operation's result (a new reference, or null) to the script: any error left pending
// is printed, and a null result becomes None.
PyObject* handOver(PyObject* result);

// Registry functions.
PyObject* setStartCallback(PyObject* module, PyObject* args);
PyObject* setStopCallback(PyObject* module, PyObject* args);
PyObject* setOnPluginActionCallback(PyObject* module, PyObject* args);
PyObject* setName(PyObject* module, PyObject* args);
PyObject* addSimpleAction(PyObject* module, PyObject* args);
PyObject* addCallableAction(PyObject* module, PyObject* args);
PyObject* setChecked(PyObject* module, PyObject* args);
PyObject* getChecked(PyObject* module, PyObject* args);

// Dialog functions.
PyObject* messageBox(PyObject* module, PyObject* args);
PyObject* inputBox(PyObject* module, PyObject* args);
PyObject* openFileDialog(PyObject* module, PyObject* args);
PyObject* saveFileDialog(PyObject* module, PyObject* args);
PyObject* openDirDialog(PyObject* module, PyObject* args);

// ICD handler functions.
PyObject* setConsumeICDEventCallback(PyObject* module, PyObject* args);
PyObject* raiseError(PyObject* module, PyObject* args);
PyObject* commitSingleMessageField(PyObject* module, PyObject* args);
PyObject* commitSingleMessage(PyObject* module, PyObject* args);
PyObject* sendICDEvent(PyObject* module, PyObject* args);
PyObject* setMessageFieldReserved(PyObject* module, PyObject* args);
PyObject* setEncodingFrom(PyObject* module, PyObject* args);
PyObject* getEncoderName(PyObject* module, PyObject* args);

}  // namespace proxyplugin_module
