// Lock hand-off between interpreters. All interpreters share one interpreter lock, but on CPython
// 3.9 to 3.12 a thread waiting for it raises its request to release it in its own interpreter
// only: a holder running another interpreter's Python (a script thread spinning in a pure-Python
// loop) never sees the request and keeps the lock until it blocks or ends, so that every other
// plug-in's session entry waits for good. On those versions a watcher thread looks at the waits
// of the library's threads; when one has lasted longer than a scan period it has one thread state
// of every interpreter wait for the lock too, so that each interpreter's own request is raised and
// whichever interpreter holds the lock lets go within a switch interval. Elsewhere (3.7, 3.8 with
// one process-wide request; 3.13, where the request reaches the holder) nothing here runs.
#pragma once

#include <Python.h>

#include <atomic>

#include "PyCompat.h"

namespace interpreter_detail {

// One thread's wait marker: odd while the thread waits for the interpreter lock; only that thread
// writes it. Constant-initialised and trivially destructible, for the thread's initial-exec record.
using LockWaitMarker = std::atomic<unsigned>;

// Shows `marker` to the watcher until unwatchWaits. Precondition: called on the marker's thread,
// before its first wait; unwatchWaits before the thread's storage goes.
void watchWaits(const LockWaitMarker* marker);
void unwatchWaits(const LockWaitMarker* marker);

// Adds an interpreter whose holders must be made to let go, and starts the watcher with the first
// one. Precondition: `interpreter` is never ended.
void watchInterpreter(PyInterpreterState* interpreter);

// PyEval_RestoreThread(state), its wait shown by `marker` where the hand-off is needed. The two
// relaxed stores cost next to nothing on the usual, uncontended entry.
inline void takeLock(PyThreadState* state, LockWaitMarker& marker) {
    if (pycompat::kLockRequestStaysInWaitersInterpreter) {
        const unsigned count = marker.load(std::memory_order_relaxed);
        marker.store(count + 1, std::memory_order_relaxed);
        PyEval_RestoreThread(state);
        marker.store(count + 2, std::memory_order_relaxed);
    } else {
        PyEval_RestoreThread(state);
    }
}

}  // namespace interpreter_detail
