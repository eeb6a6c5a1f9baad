// The host controls of ICDHost.h (the trace switch and line writer, the events the host
// refuses) and what the rest of the host library reads of them.
#include "ICDHost.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "HostControls.h"
#include "WriteAll.h"

namespace {

std::atomic<bool> traceOn{false};

std::mutex refusedMutex;  // guards refusedEvents(); a leaf (docs/design.md)
std::set<unsigned int>& refusedEvents() {
    static std::set<unsigned int> events;
    return events;
}

}  // namespace

namespace ICDHost {

void setTrace(bool on) {
    traceOn.store(on);
}

bool traceEnabled() {
    return traceOn.load();
}

void trace(const std::string& text) {
    if (!traceEnabled()) {
        return;
    }
    const std::string line = "host: " + text + "\n";
    // Holding stdout's own lock while flushing it and writing the line keeps the line after
    // whatever C or C++ code queued before it, and keeps other threads' stdio output out of it.
    flockfile(stdout);
    std::fflush(stdout);
    icdhost_text::writeAll(STDOUT_FILENO, line);
    funlockfile(stdout);
}

void setRefusedEvents(std::set<unsigned int> events) {
    std::lock_guard<std::mutex> lock(refusedMutex);
    refusedEvents() = std::move(events);
}

}  // namespace ICDHost

namespace icdhost_controls {

bool isRefusedEvent(unsigned int event) {
    std::lock_guard<std::mutex> lock(refusedMutex);
    const auto& events = refusedEvents();
    return !events.empty() && events.count(event) != 0;
}

}  // namespace icdhost_controls
