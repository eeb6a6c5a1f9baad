// Base of plug-in actions whose body is Python: no help, no body and no result by default.
#include "PyInterpreter.h"

PyPluginAction::PyPluginAction(unsigned int id, std::string name, ICDPluginActionType type,
                               ICDPluginActionKind kind, ICDPluginAction* parent)
    : ICDPluginAction(id, std::move(name), type, kind, parent) {}

std::string PyPluginAction::help() {
    return std::string();
}

bool PyPluginAction::execute(ICDDictionary input, ICDDictionary* output) {
    (void)input;
    (void)output;
    return false;
}

PyPluginAction::~PyPluginAction() = default;

PyObject* PyPluginAction::eval(PyObject* args, PyObject* kwargs) {
    (void)args;
    (void)kwargs;
    return nullptr;
}
