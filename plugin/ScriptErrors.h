// The count of errors the library has reported on behalf of scripts: a script that failed to load
// or is missing, a traceback or error line printed for a callable, an encoder, an action or a
// module function call. Hosts read it through ProxyPythonPluginScriptErrorCount, to fail a run in
// which a script went wrong without reading its output.
#pragma once

namespace ProxyPythonPluginNS {

// Adds one report. Called next to the line that reports it; lock-free, from any thread, with or
// without an interpreter held.
void noteScriptError() noexcept;
// Reports made since the library was loaded.
unsigned long long scriptErrorCount() noexcept;

}  // namespace ProxyPythonPluginNS
