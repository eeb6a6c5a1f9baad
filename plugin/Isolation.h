// How the plug-ins' sub-interpreters share the interpreter lock: one lock for all (the default) or,
// on CPython 3.12 and later, one lock per plug-in. Chosen once, before the first plug-in object
// exists, by the host (ProxyPythonPluginSetIsolation) or else by PROXYPLUGIN_ISOLATION.
#pragma once

namespace plugin_isolation {

// Settles the choice when the first plug-in object is made: the host's, or the environment's
// when the host chose nothing. A choice that cannot hold (unknown value, CPython older than 3.12)
// is reported in one line on standard error and falls back on the shared lock. Later calls do
// nothing. Thread-safe.
void settle();

}  // namespace plugin_isolation
