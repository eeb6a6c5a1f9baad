// Module proxyplugin_ext: what a script can do beyond module proxyplugin, on the same identifier
// and handler-key rules: read a field's value, receive each event with its data word, and name
// the message box's numbers.
#pragma once

#include <Python.h>

#include "ICDPlatform.h"

extern "C" {
PPP_API PyObject* PyInit_proxyplugin_ext(void);
PPP_API PyModuleDef* ProxyPluginExtModule_def(void);
// The entries, followed by the sentinel.
PPP_API PyMethodDef* ProxyPluginExtModule_methods(void);
}

// Adds the module's constants to `module`. False with the Python error pending when one could not
// be added. Precondition: the module's session is held.
bool ProxyPluginExtModule_addConstants(PyObject* module);
