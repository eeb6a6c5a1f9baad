// Thread states of the library, one per (thread, interpreter), and entering and leaving an
// interpreter on the calling thread.
#include "ThreadStates.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "LineOutput.h"
#include "LockHandOff.h"
#include "PyCompat.h"
#include "PyInterpreter.h"

namespace interpreter_detail {

#if defined(__GNUC__)
__attribute__((tls_model("initial-exec")))
#endif
PPP_CONSTINIT thread_local HeldRecord heldRecord = {nullptr, nullptr, nullptr, kKindNone};

namespace {

void releaseThreadStates(struct ThreadRecord& record);

struct OwnedState {
    PyInterpreterState* interpreter;
    PyThreadState* state;
    // The state Py_NewInterpreter returned, the interpreter's first: it lives as long as the
    // interpreter. CPython 3.11 reuses the storage of that first state when the interpreter's
    // last state is deleted and then aborts, so an interpreter never loses all its states.
    bool pinned;
};

// The states the thread owns; its destructor deletes them when the thread ends. A state is listed
// in its own thread's record alone, so it is deleted once, by that thread.
struct ThreadRecord {
    bool initialising = false;
    std::vector<OwnedState> states;

    // Made on the thread's first entry, before its first wait for the lock.
    ThreadRecord() { watchWaits(&heldRecord.waits); }
    ThreadRecord(const ThreadRecord&) = delete;
    ThreadRecord& operator=(const ThreadRecord&) = delete;
    ~ThreadRecord() {
        releaseThreadStates(*this);
        unwatchWaits(&heldRecord.waits);
    }
};

thread_local ThreadRecord threadRecord;

std::atomic<bool> g_separateLocks{false};

// Makes `next` current in place of the state the calling thread holds (through this library or
// its own). With one shared lock it is swapped under the lock; with a lock per interpreter the
// held one is released before `next`'s is taken (swapping would keep the first lock held while
// running under the second, and a thread holding B while waiting for A would deadlock with one
// holding A while waiting for B).
inline void switchTo(PyThreadState* next, LockWaitMarker& waits) {
    if (g_separateLocks.load(std::memory_order_relaxed)) {
        PyEval_SaveThread();
        takeLock(next, waits);
    } else {
        PyThreadState_Swap(next);
    }
}

void remember(ThreadRecord& record, PyInterpreterState* interpreter, PyThreadState* state,
              bool pinned) {
    record.states.push_back(OwnedState{interpreter, state, pinned});
    heldRecord.lastInterpreter = interpreter;
    heldRecord.lastState = state;
}

// Precondition: `interpreter` is not the one used last. Kept out of line so that the usual entry
// stays short.
[[gnu::noinline]] PyThreadState* otherStateFor(PyInterpreterState* interpreter) {
    ThreadRecord& record = threadRecord;
    for (const OwnedState& owned : record.states) {
        if (owned.interpreter == interpreter) {
            heldRecord.lastInterpreter = interpreter;
            heldRecord.lastState = owned.state;
            return owned.state;
        }
    }
    // The lock need not be held to make a state; this one also becomes the thread's PyGILState
    // state when it has none yet.
    PyThreadState* state = PyThreadState_New(interpreter);
    if (state == nullptr) {
        Py_FatalError("cannot allocate a thread state");
    }
    remember(record, interpreter, state, false);
    return state;
}

// The thread that initialised Python keeps its states: they die with the process, and at its
// exit other threads may still be inside Python. After the runtime is gone nothing is touched.
void releaseThreadStates(ThreadRecord& record) {
    if (record.states.empty() || record.initialising || !Py_IsInitialized()) {
        return;
    }
    HeldRecord& held = heldRecord;
    if (held.held != nullptr) {
        PyEval_SaveThread();
        held.held = nullptr;
    }
    for (const OwnedState& owned : record.states) {
        if (owned.pinned) {
            continue;
        }
        takeLock(owned.state, held.waits);
        PyThreadState_Clear(owned.state);
        PyThreadState_DeleteCurrent();  // releases the lock
    }
    record.states.clear();
    held.lastInterpreter = nullptr;
    held.lastState = nullptr;
}

inline void enter(PyInterpreterState* interpreter, ExecKind kind, EntryRecord& entry) {
    HeldRecord& record = heldRecord;
    PyThreadState* state =
        record.lastInterpreter == interpreter ? record.lastState : otherStateFor(interpreter);
    entry.previous = record.held;
    entry.previousKind = record.kind;
    entry.entered = nullptr;
    if (record.held == state) {
        record.kind = kind;
        return;
    }
    if (record.held != nullptr) {
        switchTo(state, record.waits);
    } else if (PyThreadState* foreign = pycompat::callingThreadState()) {
        // The thread already runs Python on a state this library did not make current (a Python
        // thread, or a host that holds its own state): restoring would deadlock.
        entry.previous = foreign;
        entry.previousKind = kKindForeign;
        if (foreign == state) {
            record.held = state;
            record.kind = kind;
            return;
        }
        switchTo(state, record.waits);
    } else {
        takeLock(state, record.waits);
    }
    entry.entered = state;
    record.held = state;
    record.kind = kind;
}

inline void leave(const EntryRecord& entry) {
    if (entry.previousKind == kKindUntouched) {
        return;
    }
    HeldRecord& record = heldRecord;
    PPP_SESSION_CHECK(
        record.held != nullptr && (entry.entered == nullptr || record.held == entry.entered),
        "a session is left on the thread that entered it, in nested order");
    PPP_SESSION_CHECK(pycompat::currentThreadStateUnchecked() == record.held,
                      "the state being left is the calling thread's current state");
    if (entry.entered != nullptr) {
        if (entry.previous != nullptr) {
            switchTo(entry.previous, record.waits);
        } else {
            PyEval_SaveThread();
        }
    }
    if (entry.previousKind == kKindForeign) {
        record.held = nullptr;
        record.kind = kKindNone;
    } else {
        record.held = entry.previous;
        record.kind = entry.previousKind;
    }
}

}  // namespace

void setSeparateLocks(bool separate) {
    g_separateLocks.store(separate, std::memory_order_relaxed);
}

bool separateLocks() {
    return g_separateLocks.load(std::memory_order_relaxed);
}

void enterInterpreter(PyInterpreterState* interpreter, ExecKind kind, EntryRecord& entry) {
    enter(interpreter, kind, entry);
}

void leaveInterpreter(const EntryRecord& entry) {
    leave(entry);
}

void adoptThreadState(PyThreadState* state) {
    PyInterpreterState* interpreter = pycompat::interpreterOf(state);
    ThreadRecord& record = threadRecord;
    for (const OwnedState& owned : record.states) {
        if (owned.interpreter == interpreter) {
            return;
        }
    }
    remember(record, interpreter, state, true);
}

PyThreadState* ownStateOf(PyInterpreterState* interpreter) {
    for (const OwnedState& owned : threadRecord.states) {
        if (owned.interpreter == interpreter) {
            return owned.state;
        }
    }
    return nullptr;
}

void sessionCheckFailed(const char* rule, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: session entry check failed: %s\n", file, line, rule);
    std::fflush(stderr);
    std::abort();
}

PyThreadState* heldState() {
    return heldRecord.held;
}

ExecKind heldKind() {
    return heldRecord.kind;
}

void recordHeld(PyThreadState* state, ExecKind kind) {
    HeldRecord& record = heldRecord;
    record.held = state;
    record.kind = kind;
}

void markInitialisingThread() {
    threadRecord.initialising = true;
}

void takeLockOnThisThread(PyThreadState* state) {
    ThreadRecord& record = threadRecord;  // made first, so that the wait is watched
    (void)record;
    takeLock(state, heldRecord.waits);
}

}  // namespace interpreter_detail

void PyMainInterp::restoreThread(PyThreadState* state) {
    interpreter_detail::takeLockOnThisThread(state);
}
