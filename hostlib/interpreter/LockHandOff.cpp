// The lock hand-off watcher thread and its per-interpreter helper threads (CPython 3.9 to 3.12).
#include "LockHandOff.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace interpreter_detail {
namespace {

using Clock = std::chrono::steady_clock;

// A wait seen in two scans this far apart has outlasted the switch interval (5 ms unless a script
// changes it), after which CPython's own request would have been raised. With nothing waiting the
// scans slow down to the idle period, which bounds how late a new wait is first seen.
constexpr std::chrono::milliseconds kBusyPeriod(10);
constexpr std::chrono::milliseconds kIdlePeriod(80);

struct Interpreter {
    PyInterpreterState* interpreter;
    bool helped;  // its helper thread runs
};

struct HandOff {
    std::mutex mutex;
    std::condition_variable nudged;  // helpers wait on it for the next round
    unsigned long round = 0;         // rounds of hand-off so far
    bool watching = false;
    std::vector<const LockWaitMarker*> markers;
    std::vector<Interpreter> interpreters;
};

// Never destroyed: the watcher and the helpers run until the process ends.
HandOff& handOff() {
    static HandOff* instance = new HandOff();
    return *instance;
}

// Precondition: the calling thread does not hold the hand-off lock. Python never runs under it,
// and no thread waits for the interpreter lock while holding it: a leaf (docs/design.md).
class HandOffLock {
public:
    HandOffLock() : _lock(handOff().mutex) {}
    HandOffLock(const HandOffLock&) = delete;
    HandOffLock& operator=(const HandOffLock&) = delete;
    std::unique_lock<std::mutex>& lock() { return _lock; }

private:
    std::unique_lock<std::mutex> _lock;
};

// One per interpreter: at every round its own state waits for the interpreter lock, which raises
// its interpreter's request once the wait outlasts the switch interval, and gives the lock back at
// once. Its state is made here and never deleted (interpreters are never ended).
void helperMain(PyInterpreterState* interpreter) {
    PyThreadState* state = PyThreadState_New(interpreter);
    if (state == nullptr) {
        return;
    }
    HandOff& shared = handOff();
    unsigned long done = 0;
    for (;;) {
        {
            HandOffLock lock;
            shared.nudged.wait(lock.lock(), [&] { return shared.round != done; });
            done = shared.round;
        }
        PyEval_RestoreThread(state);
        PyEval_SaveThread();
    }
}

// Starts a round when a marker shows the same wait in two scans in a row.
void watcherMain() {
    HandOff& shared = handOff();
    std::vector<std::pair<const LockWaitMarker*, unsigned>> seen, scanned;
    auto period = kBusyPeriod;
    for (;;) {
        std::this_thread::sleep_for(period);
        bool waiting = false;
        bool stuck = false;
        scanned.clear();
        HandOffLock lock;
        for (const LockWaitMarker* marker : shared.markers) {
            const unsigned count = marker->load(std::memory_order_relaxed);
            if ((count & 1u) == 0) {
                continue;
            }
            waiting = true;
            scanned.emplace_back(marker, count);
            stuck = stuck || std::find(seen.begin(), seen.end(), scanned.back()) != seen.end();
        }
        seen.swap(scanned);
        period = waiting ? kBusyPeriod : std::min(period * 2, kIdlePeriod);
        if (!stuck) {
            continue;
        }
        for (Interpreter& known : shared.interpreters) {
            if (!known.helped) {
                known.helped = true;
                std::thread(helperMain, known.interpreter).detach();
            }
        }
        ++shared.round;
        shared.nudged.notify_all();
    }
}

}  // namespace

void watchWaits(const LockWaitMarker* marker) {
    if (!pycompat::kLockRequestStaysInWaitersInterpreter) {
        return;
    }
    HandOffLock lock;
    handOff().markers.push_back(marker);
}

void unwatchWaits(const LockWaitMarker* marker) {
    if (!pycompat::kLockRequestStaysInWaitersInterpreter) {
        return;
    }
    HandOffLock lock;
    std::vector<const LockWaitMarker*>& markers = handOff().markers;
    markers.erase(std::remove(markers.begin(), markers.end(), marker), markers.end());
}

void watchInterpreter(PyInterpreterState* interpreter) {
    if (!pycompat::kLockRequestStaysInWaitersInterpreter) {
        return;
    }
    HandOffLock lock;
    HandOff& shared = handOff();
    for (const Interpreter& known : shared.interpreters) {
        if (known.interpreter == interpreter) {
            return;
        }
    }
    shared.interpreters.push_back(Interpreter{interpreter, false});
    if (!shared.watching) {
        shared.watching = true;
        // A holder may also run the main interpreter (the plug-in set-up, a host's own Python).
        if (interpreter != PyInterpreterState_Main()) {
            shared.interpreters.push_back(Interpreter{PyInterpreterState_Main(), false});
        }
        std::thread(watcherMain).detach();
    }
}

}  // namespace interpreter_detail
