// The process-wide count of script errors the library reported, read by hosts at any time.
#include "ScriptErrors.h"

#include <atomic>

namespace ProxyPythonPluginNS {
namespace {
// Only ever counted up and read: no order with other memory is needed.
std::atomic<unsigned long long> reports{0};
}  // namespace

void noteScriptError() noexcept {
    reports.fetch_add(1, std::memory_order_relaxed);
}

unsigned long long scriptErrorCount() noexcept {
    return reports.load(std::memory_order_relaxed);
}

}  // namespace ProxyPythonPluginNS
