// Module functions that act on an ICD handler through the bridge registered under a handler key.
// The key is not tied to the identifier: any registered script reaches any registered bridge.
#include <string>

#include "PyRef.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ModuleFunctions.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace proxyplugin_module {

namespace {

// Both lookups in order, each reported when it fails; null when either did.
ProxyPluginPyHandlerInterface* resolve(const char* identifier, const char* key) {
    if (interfaceOrReport(identifier) == nullptr) {
        return nullptr;
    }
    return bridgeOrReport(key);
}

}  // namespace

PyObject* setConsumeICDEventCallback(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    PyObject* callable = nullptr;  // borrowed
    if (!PyArg_ParseTuple(args, "ssO:setOnConsumeICDEventCallback", &identifier, &key, &callable)) {
        return parserError();
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    PyRef stored = PyRef::steal(bridge->setOnConsumeICDEvent(callable));
    return handOver(nullptr);
}

PyObject* raiseError(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    const char* message = nullptr;
    int severity = 0;
    if (!PyArg_ParseTuple(args, "sssi:raiseError", &identifier, &key, &message, &severity)) {
        return argumentError("wrong args: must be msg [string],severity [int]");
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    return handOver(bridge->raiseError(message, severity));
}

PyObject* commitSingleMessageField(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    const char* message = nullptr;
    const char* field = nullptr;
    if (!PyArg_ParseTuple(args, "ssss:commitSingleMessageField", &identifier, &key, &message,
                          &field)) {
        return parserError();
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    return handOver(bridge->commitSingleMessageField(message, field));
}

PyObject* commitSingleMessage(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    const char* message = nullptr;
    if (!PyArg_ParseTuple(args, "sss:commitSingleMessage", &identifier, &key, &message)) {
        return parserError();
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    return handOver(bridge->commitSingleMessage(message));
}

PyObject* sendICDEvent(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    unsigned int event = 0;  // "I": a negative int passes as its 32-bit pattern
    if (!PyArg_ParseTuple(args, "ssI:sendICDEvent", &identifier, &key, &event)) {
        return argumentError("wrong args: must be arg_event_id [int]");
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    bridge->sendICDEvent(event);
    return handOver(nullptr);
}

PyObject* setMessageFieldReserved(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    const char* message = nullptr;
    const char* field = nullptr;
    int flag = 0;
    if (!PyArg_ParseTuple(args, "ssssi:setMessageFieldReserved", &identifier, &key, &message,
                          &field, &flag)) {
        return argumentError("wrong args: must be msg,field,flag [string,string,boolean]");
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    return handOver(bridge->setMessageFieldReserved(message, field, flag != 0));
}

PyObject* setEncodingFrom(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    const char* message = nullptr;
    const char* field = nullptr;
    PyObject* encoder = nullptr;  // borrowed
    if (!PyArg_ParseTuple(args, "ssssO:setEncodingFrom", &identifier, &key, &message, &field,
                          &encoder)) {
        return argumentError("wrong args: must be msg,field,encoder [string,string,object]");
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    return handOver(bridge->setEncodingFrom(message, field, encoder));
}

PyObject* getEncoderName(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    const char* message = nullptr;
    const char* field = nullptr;
    if (!PyArg_ParseTuple(args, "ssss:getEncoderName", &identifier, &key, &message, &field)) {
        return argumentError("wrong args: must be msg,field [string,string]");
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return none();
    }
    return handOver(bridge->getEncoderName(message, field));
}

}  // namespace proxyplugin_module
