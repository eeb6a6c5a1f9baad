// The proxy plug-in object itself: construction, destruction, version and the two text forms
// set-up derives from its inputs.
#include "ProxyPythonPlugin.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <vector>

#include "Isolation.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "pymodule/PyCallUtils.h"

ProxyPythonPlugin::ProxyPythonPlugin(std::string name)
    : ICDPluginObject(std::move(name)),
      _threadState(nullptr),
      _module(nullptr),
      _session(nullptr),
      _interface(nullptr),
      _running(false),
      _initialised(false) {
    plugin_isolation::settle();
}

ProxyPythonPlugin::~ProxyPythonPlugin() {
    // The registry object, the session, the sub-interpreter and the bridges outlive the plug-in;
    // once detached, nothing the script or a bridge thread does later reaches this object. The
    // interface takes its own lock for that, so a top-level action being added on a bridge
    // thread right now finishes first.
    // First of all no more events: a script's thread may be delivering one to this object right
    // now (sendICDEvent), and that delivery must end before the object starts to go.
    if (_handler != nullptr) {
        _handler->unregisterUiObject(this);
    }
    if (_interface != nullptr) {
        _interface->detachPlugin();
    }
    // Actions live until the process ends (the host, a parent action or the script's registry may
    // still point at them): once their plug-in is gone they stay listed here, reachable, rather
    // than lost. Detached, no thread adds to _actions any more.
    static auto* keptActions = new std::vector<ICDPluginAction*>();  // never destroyed
    static std::mutex keptActionsMutex;                              // a leaf (docs/design.md)
    std::lock_guard<std::mutex> lock(keptActionsMutex);
    keptActions->insert(keptActions->end(), _actions.begin(), _actions.end());
}

std::string ProxyPythonPlugin::getVersion() {
    std::ostringstream version;
    version << 4 << "." << 0 << "." << 0;
    return version.str();
}

std::string ProxyPythonPlugin::scriptDirOf(const std::string& fileName) {
    const std::string forward = ReplaceAll(fileName, "\\", "/");
    const std::size_t slash = forward.rfind('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return forward.substr(0, slash + 1);
}

std::string ProxyPythonPlugin::handlerKeyOf(const ICDHandler* handler) {
    // Formatted by hand: glibc's "%p" adds "0x" and drops the zero padding.
    char key[2 * sizeof(std::uintptr_t) + 1];
    std::snprintf(key, sizeof key, "%016" PRIxPTR, reinterpret_cast<std::uintptr_t>(handler));
    return key;
}
