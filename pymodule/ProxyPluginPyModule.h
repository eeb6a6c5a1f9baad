// Module proxyplugin: the script's way into the plug-in, the host and the dialogs.
#pragma once

#include <Python.h>

#include "ICDPlatform.h"

extern "C" {
PPP_API PyObject* PyInit_proxyplugin(void);
PPP_API PyModuleDef* ProxyPluginPyModule_def(void);
// The 21 entries, followed by the sentinel.
PPP_API PyMethodDef* ProxyPluginPyModule_methods(void);
}
