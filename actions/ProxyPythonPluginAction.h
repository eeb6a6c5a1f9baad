// A plug-in action whose body is a Python callable taking keyword arguments and returning a dict.
// Preconditions of every operation: the caller holds the script's session.
#pragma once

#include <Python.h>

#include <string>

#include "ICDPlatform.h"
#include "PyInterpreter.h"

class PPP_API ProxyPythonPluginAction : public PyPluginAction {
public:
    ProxyPythonPluginAction(unsigned int id, std::string name, ICDPluginAction* parent,
                            PyObject* callable);
    std::string help() override;
    bool execute(ICDDictionary input, ICDDictionary* output) override;
    ~ProxyPythonPluginAction() override;
    PyObject* eval(PyObject* args, PyObject* kwargs) override;

    PyObject* getCallable() const { return _callable; }

private:
    PyObject* _callable;
};
