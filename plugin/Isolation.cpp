// The isolation choice (shared or own interpreter lock), settled once for the process.
#include "Isolation.h"

#include <Python.h>

#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "ProxyPythonPluginNS.h"
#include "PyInterpreter.h"

namespace {

constexpr const char* kOwnLock = "own-gil";
constexpr const char* kSharedLock = "shared";
constexpr const char* kVariable = "PROXYPLUGIN_ISOLATION";

struct Choice {
    std::mutex mutex;
    bool requested = false;  // the host called ProxyPythonPluginSetIsolation
    bool ownLock = false;    // what was asked; after settling, what is in force
    bool settled = false;
};

// Never destroyed: a host may create plug-ins while the process runs its static destructors.
Choice& choice() {
    static auto* instance = new Choice();
    return *instance;
}

// Precondition: the calling thread does not hold it. Python never runs under it: a leaf
// (docs/design.md).
class ChoiceLock {
public:
    ChoiceLock() : _lock(choice().mutex) {}
    ChoiceLock(const ChoiceLock&) = delete;
    ChoiceLock& operator=(const ChoiceLock&) = delete;

private:
    std::lock_guard<std::mutex> _lock;
};

bool parseMode(const std::string& text, bool* ownLock) {
    if (text == kOwnLock || text == kSharedLock) {
        *ownLock = text == kOwnLock;
        return true;
    }
    return false;
}

}  // namespace

namespace plugin_isolation {

void settle() {
    ChoiceLock lock;
    Choice& chosen = choice();
    if (chosen.settled) {
        return;
    }
    chosen.settled = true;
    if (!chosen.requested) {
        const char* value = std::getenv(kVariable);
        if (value != nullptr && *value != '\0' && !parseMode(value, &chosen.ownLock)) {
            std::cerr << "ProxyPythonPlugin: " << kVariable << "=" << value << " is neither "
                      << kOwnLock << " nor " << kSharedLock
                      << ": the plug-ins share one interpreter lock" << std::endl;
        }
    }
    if (chosen.ownLock && !PyMainInterp::useOwnLocks(true)) {
        chosen.ownLock = false;
        std::cerr << "ProxyPythonPlugin: isolation " << kOwnLock
                  << " needs CPython 3.12 or later (this is " PY_VERSION
                     "): the plug-ins share one interpreter lock"
                  << std::endl;
    }
}

}  // namespace plugin_isolation

bool ProxyPythonPluginSetIsolation(const char* mode) {
    const std::string text = mode != nullptr ? mode : "";
    bool ownLock = false;
    if (!parseMode(text, &ownLock)) {
        std::cerr << "ProxyPythonPlugin: unknown isolation '" << text << "' (" << kOwnLock << " or "
                  << kSharedLock << ")" << std::endl;
        return false;
    }
    ChoiceLock lock;
    Choice& chosen = choice();
    if (chosen.settled) {
        if (ownLock == chosen.ownLock) {
            return true;
        }
        std::cerr << "ProxyPythonPlugin: the isolation is chosen before the first plug-in is "
                     "created; it stays "
                  << (chosen.ownLock ? kOwnLock : kSharedLock) << std::endl;
        return false;
    }
    chosen.requested = true;
    chosen.ownLock = ownLock;
    return true;
}

const char* ProxyPythonPluginIsolation() {
    plugin_isolation::settle();
    ChoiceLock lock;
    return choice().ownLock ? kOwnLock : kSharedLock;
}
