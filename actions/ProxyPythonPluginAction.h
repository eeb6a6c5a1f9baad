// A plug-in action whose body is a Python callable taking keyword arguments and returning a dict.
// The body runs in the session of the script that registered it (the rule of
// PySession::current), which every operation enters itself: it may be another plug-in's than the
// one whose menu holds the action. Precondition of the constructor: the registering script's
// session is held (a module function).
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
    PySession* _session;  // the registering session, where _callable is used
};
