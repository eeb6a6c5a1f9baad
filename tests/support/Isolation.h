// Which isolation the plug-ins of a test's child processes (icdhost, the probe host) run with:
// the suites run once as they are and, on CPython 3.12 and later, once more with
// PROXYPLUGIN_ISOLATION=own-gil in the environment (scripts/versions.sh).
#pragma once

#include <cstdlib>
#include <cstring>

namespace isolation {

// True when the environment asks for a lock per interpreter and the CPython built against
// offers it.
inline bool ownLockRequested() {
    const char* mode = std::getenv("PROXYPLUGIN_ISOLATION");
    return PPP_OWN_LOCK_POSSIBLE && mode != nullptr && std::strcmp(mode, "own-gil") == 0;
}

}  // namespace isolation
