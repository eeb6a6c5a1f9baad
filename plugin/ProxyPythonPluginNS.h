// Entry points through which a host creates and destroys proxy plug-in objects.
#pragma once

#include <string>
#include <vector>

#include "ICDPlatform.h"

class ProxyPythonPlugin;
class ICDPluginObject;
class PySession;

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
// load the library with dlopen. Precondition: no session is held.
extern "C" PPP_API bool ProxyPythonPluginWaitForEvents(unsigned long timeoutMs);

// The interpreter session of a plug-in object this library created (enter it with PySession::Use
// to call into the script: its actions' execute and help, its menu changes), or null when the
// session does not exist yet (no handler given) or when `object` was not made by onCreate, was
// destroyed, or is null. Exported undecorated for hosts that load the library with dlopen, so
// that they never cast an ICDPluginObject to the library's own classes. Same thread rule as
// onCreate and onDestroy.
extern "C" PPP_API PySession* ProxyPythonPluginSessionOf(const ICDPluginObject* object);

// Whether a plug-in object this library created runs (its start callable succeeded and no stop
// callable succeeded since): 1 or 0; -1 when `object` was not made by onCreate, was destroyed,
// or is null. Exported undecorated; same thread rule as onCreate and onDestroy.
extern "C" PPP_API int ProxyPythonPluginIsRunning(const ICDPluginObject* object);

// How many errors the library has reported on behalf of scripts since it was loaded (a script
// that failed to load or is missing, a traceback or error line printed for a callable, encoder,
// action or module function call). A host compares it before and after a run to learn that a
// script went wrong. Exported undecorated; any thread.
extern "C" PPP_API unsigned long long ProxyPythonPluginScriptErrorCount();
// Chooses how the plug-ins' sub-interpreters share the interpreter lock: "shared" (one lock for
// all, the default) or "own-gil" (one lock per plug-in, CPython 3.12 and later; on an older
// CPython one warning line and the shared lock). Without a call, the environment variable
// PROXYPLUGIN_ISOLATION gives the choice (an unknown value: one error line, the shared lock).
// Precondition: called before the first plug-in object is created; afterwards a different choice
// is refused with one error line on standard error. False when refused (also for an unknown
// mode). Exported undecorated for hosts that load the library with dlopen.
extern "C" PPP_API bool ProxyPythonPluginSetIsolation(const char* mode);
// The isolation in force: "own-gil" or "shared". Settles the choice if no plug-in exists yet.
extern "C" PPP_API const char* ProxyPythonPluginIsolation();
