// Entry points through which a host creates and destroys proxy plug-in objects.
#pragma once

#include <string>
#include <vector>

#include "ICDPlatform.h"

class ProxyPythonPlugin;
class ICDPluginObject;

// "$Revision: 122971 $ P8.8". Exported under its plain, undecorated name.
extern "C" PPP_API std::string getPluginAPIVersion();

namespace ProxyPythonPluginNS {

// Every plug-in object made by onCreate, in creation order; owns them until onDestroy.
// No lock: the host calls the entry points from one thread at a time.
PPP_API extern std::vector<ProxyPythonPlugin*> plugins_vect;

PPP_API ICDPluginObject* onCreate();
PPP_API void onDestroy();

}  // namespace ProxyPythonPluginNS

// Waits until every handler bridge of the process has delivered its queued events and no event
// call runs, or until `timeoutMs` passes; true when idle. Exported undecorated for hosts that
// load the library with dlopen. Precondition: the caller holds no interpreter session.
extern "C" PPP_API bool ProxyPythonPluginWaitForEvents(unsigned long timeoutMs);
