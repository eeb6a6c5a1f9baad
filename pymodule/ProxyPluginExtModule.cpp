// Module proxyplugin_ext. Its functions follow every rule of module proxyplugin's functions:
// positional arguments, the identifier first and the handler key second, the same lookups with
// the same printed errors, None after any failure, never an error left pending.
#include "pymodule/ProxyPluginExtModule.h"

#include "PyRef.h"
#include "QtInterpreter.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ModuleFunctions.h"

namespace {

namespace fn = proxyplugin_module;

ProxyPluginPyHandlerInterface* resolve(const char* identifier, const char* key) {
    if (fn::interfaceOrReport(identifier) == nullptr) {
        return nullptr;
    }
    return fn::bridgeOrReport(key);
}

PyObject* getAsUInt(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    const char* message = nullptr;
    const char* field = nullptr;
    if (!PyArg_ParseTuple(args, "ssss:getAsUInt", &identifier, &key, &message, &field)) {
        return fn::argumentError("wrong args: must be msg,field [string,string]");
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return fn::none();
    }
    return fn::handOver(bridge->getAsUInt(message, field));
}

PyObject* setConsumeICDEventDataCallback(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    PyObject* callable = nullptr;  // borrowed
    if (!PyArg_ParseTuple(args, "ssO:setConsumeICDEventDataCallback", &identifier, &key,
                          &callable)) {
        return fn::parserError();
    }
    ProxyPluginPyHandlerInterface* bridge = resolve(identifier, key);
    if (bridge == nullptr) {
        return fn::none();
    }
    PyRef stored = PyRef::steal(bridge->setOnConsumeICDEventData(callable));
    return fn::handOver(nullptr);
}

PyMethodDef methods[] = {
    {"getAsUInt", getAsUInt, METH_VARARGS,
     "Get the value of an integer message field as an unsigned 32-bit int"},
    {"setConsumeICDEventDataCallback", setConsumeICDEventDataCallback, METH_VARARGS,
     "Assign the python method to manage events provided by ICD environment, with their data"},
    {nullptr, nullptr, 0, nullptr},
};

// No per-module state: everything the functions need is found by identifier and handler key.
PyModuleDef moduleDef = {
    PyModuleDef_HEAD_INIT,
    "proxyplugin_ext",
    "Proxy plugin python extension: field values, event data and message box numbers",
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

bool ProxyPluginExtModule_addConstants(PyObject* module) {
    namespace mb = QtInterpreterMessageBox;
    const struct {
        const char* name;
        int value;
    } constants[] = {
        {"BUTTONS_OK", mb::BUTTONS_OK},
        {"BUTTONS_OK_CANCEL", mb::BUTTONS_OK_CANCEL},
        {"BUTTONS_YES_NO_CANCEL", mb::BUTTONS_YES_NO_CANCEL},
        {"BUTTONS_YES_NO", mb::BUTTONS_YES_NO},
        {"ICON_NONE", mb::ICON_NONE},
        {"ICON_INFORMATION", mb::ICON_INFORMATION},
        {"ICON_QUESTION", mb::ICON_QUESTION},
        {"ICON_WARNING", mb::ICON_WARNING},
        {"ICON_CRITICAL", mb::ICON_CRITICAL},
        {"ANSWER_NONE", mb::ANSWER_NONE},
        {"ANSWER_OK", mb::ANSWER_OK},
        {"ANSWER_YES", mb::ANSWER_YES},
        {"ANSWER_NO", mb::ANSWER_NO},
    };
    for (const auto& constant : constants) {
        if (PyModule_AddIntConstant(module, constant.name, constant.value) != 0) {
            return false;
        }
    }
    return true;
}

extern "C" {

PyObject* PyInit_proxyplugin_ext(void) {
    PyRef module = PyRef::steal(PyModule_Create2(&moduleDef, 1013));
    if (module && !ProxyPluginExtModule_addConstants(module.get())) {
        return nullptr;
    }
    return module.release();
}

PyModuleDef* ProxyPluginExtModule_def(void) {
    return &moduleDef;
}

PyMethodDef* ProxyPluginExtModule_methods(void) {
    return methods;
}
}
