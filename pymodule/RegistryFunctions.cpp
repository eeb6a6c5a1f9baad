// Module functions that address the script's own registry object.
#include <string>

#include "PyRef.h"
#include "pymodule/ModuleFunctions.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace proxyplugin_module {

namespace {

using Setter = PyObject* (ProxyPluginPyInterface::*)(PyObject*);

// The three callback setters: an unknown identifier is silently ignored; a refused callable is
// reported by setCallbackByRef and keeps the slot's previous callable.
PyObject* setCallback(PyObject* args, const char* format, Setter setter) {
    const char* identifier = nullptr;
    PyObject* callable = nullptr;  // borrowed
    if (!PyArg_ParseTuple(args, format, &identifier, &callable)) {
        return parserError();
    }
    ProxyPluginPyInterface* owner =
        ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(identifier);
    if (owner == nullptr) {
        return none();
    }
    PyRef stored = PyRef::steal((owner->*setter)(callable));
    return handOver(nullptr);
}

}  // namespace

PyObject* setStartCallback(PyObject*, PyObject* args) {
    return setCallback(args, "sO:setStartCallback", &ProxyPluginPyInterface::setOnStart);
}

PyObject* setStopCallback(PyObject*, PyObject* args) {
    return setCallback(args, "sO:setStopCallback", &ProxyPluginPyInterface::setOnStop);
}

PyObject* setOnPluginActionCallback(PyObject*, PyObject* args) {
    return setCallback(args, "sO:setOnPluginActionCallback",
                       &ProxyPluginPyInterface::setOnPluginAction);
}

PyObject* setName(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* name = nullptr;
    if (!PyArg_ParseTuple(args, "ss:setName", &identifier, &name)) {
        return argumentError("wrong args: must be name [string]");
    }
    ProxyPluginPyInterface* owner = interfaceOrReport(identifier);
    if (owner == nullptr) {
        return none();
    }
    owner->setName(name);
    return none();
}

PyObject* addSimpleAction(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    int id = 0;
    const char* name = nullptr;
    int type = 0;
    int parentId = -1;
    if (!PyArg_ParseTuple(args, "sisi|i:addAction", &identifier, &id, &name, &type, &parentId)) {
        return parserError();
    }
    ProxyPluginPyInterface* owner = interfaceOrReport(identifier);
    if (owner == nullptr) {
        return none();
    }
    std::string nameCopy = name;
    // Ids and types keep their 32-bit pattern.
    return handOver(owner->addAction(static_cast<unsigned int>(id), nameCopy.data(),
                                     static_cast<unsigned int>(type), parentId));
}

PyObject* addCallableAction(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    int id = 0;
    const char* name = nullptr;
    PyObject* callable = nullptr;  // borrowed
    int parentId = -1;
    if (!PyArg_ParseTuple(args, "sisO|i:addAction", &identifier, &id, &name, &callable,
                          &parentId)) {
        return parserError();
    }
    ProxyPluginPyInterface* owner = interfaceOrReport(identifier);
    if (owner == nullptr) {
        return none();
    }
    std::string nameCopy = name;
    return handOver(
        owner->addAction(static_cast<unsigned int>(id), nameCopy.data(), callable, parentId));
}

PyObject* setChecked(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    int id = 0;
    int value = 0;
    if (!PyArg_ParseTuple(args, "sii:setChecked", &identifier, &id, &value)) {
        return argumentError("wrong args: must be id,val [int,boolean]");
    }
    ProxyPluginPyInterface* owner = interfaceOrReport(identifier);
    if (owner == nullptr) {
        return none();
    }
    return handOver(owner->setChecked(static_cast<unsigned int>(id), value != 0));
}

PyObject* getChecked(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    int id = 0;
    if (!PyArg_ParseTuple(args, "si:getChecked", &identifier, &id)) {
        return argumentError("wrong args: must be id [int]");
    }
    ProxyPluginPyInterface* owner = interfaceOrReport(identifier);
    if (owner == nullptr) {
        return none();
    }
    return handOver(owner->getChecked(static_cast<unsigned int>(id)));
}

}  // namespace proxyplugin_module
