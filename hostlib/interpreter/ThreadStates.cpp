// Thread states of the library, one per (thread, interpreter), and entering and leaving an
// interpreter on the calling thread.
#include "ThreadStates.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "LineOutput.h"
#include "LockHandOff.h"
#include "PyCompat.h"
#include "PyInterpreter.h"

namespace interpreter_detail {
namespace {

// Every state this library made or adopted that is still alive, with its interpreter. A state is
// deleted only by the thread that takes it out of here, so nothing is deleted twice.
struct StateRegistry {
    std::mutex mutex;
    std::unordered_map<PyThreadState*, PyInterpreterState*> states;
};

// Never destroyed: threads may end while the process runs its static destructors.
StateRegistry& registry() {
    static StateRegistry* instance = new StateRegistry();
    return *instance;
}

// Precondition: the calling thread does not hold the registry lock. A leaf (docs/design.md).
class RegistryLock {
public:
    RegistryLock() : _lock(registry().mutex) {}
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

private:
    std::lock_guard<std::mutex> _lock;
};

void registerState(PyThreadState* state, PyInterpreterState* interpreter) {
    RegistryLock lock;
    registry().states.emplace(state, interpreter);
}

bool unregisterState(PyThreadState* state) {
    RegistryLock lock;
    return registry().states.erase(state) != 0;
}

void releaseThreadStates(struct ThreadRecord& record);

struct OwnedState {
    PyInterpreterState* interpreter;
    PyThreadState* state;
    // The state Py_NewInterpreter returned, the interpreter's first: it lives as long as the
    // interpreter. CPython 3.11 reuses the storage of that first state when the interpreter's
    // last state is deleted and then aborts, so an interpreter never loses all its states.
    bool pinned;
};

// What the thread holds and the pair it used last: all an entry of a known interpreter reads.
// Trivially destructible and constant-initialised, so that reading it needs no initialisation
// check; initial-exec, so that it sits at a fixed offset from the thread pointer (its few bytes
// come from the static TLS reserve when the library is loaded with dlopen).
struct HeldRecord {
    // The pair used last: most threads enter one interpreter, so this is the usual answer.
    PyInterpreterState* lastInterpreter;
    PyThreadState* lastState;
    PyThreadState* held;
    ExecKind kind;
    LockWaitMarker waits{0};  // shows this thread's waits for the interpreter lock
};

#if defined(__GNUC__)
__attribute__((tls_model("initial-exec")))
#endif
thread_local HeldRecord heldRecord = {nullptr, nullptr, nullptr, kKindNone};

// The states the thread owns; its destructor deletes them when the thread ends.
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
    registerState(state, interpreter);
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
        if (owned.pinned || !unregisterState(owned.state)) {
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
    registerState(state, interpreter);
    remember(record, interpreter, state, true);
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

// Defined here, beside the per-thread record, so that the usual entry is one call with no further
// calls of the library inside it.
PySession::Use::Use(PySession* session)
    : _previous(nullptr), _entered(nullptr), _previousKind(interpreter_detail::kKindUntouched) {
    if (session == nullptr || session->_interpreter == nullptr) {
        return;
    }
    using namespace interpreter_detail;
    HeldRecord& record = heldRecord;
    // The usual entry: the interpreter used last, nothing held. The record is written before the
    // lock is taken so that taking it is the last thing done.
    if (record.lastInterpreter == session->_interpreter && record.held == nullptr &&
        pycompat::callingThreadState() == nullptr) {
        _entered = record.lastState;
        _previousKind = record.kind;
        record.held = _entered;
        record.kind = kKindUse;
        takeLock(_entered, record.waits);
        return;
    }
    EntryRecord entry;
    enter(session->_interpreter, kKindUse, entry);
    _previous = entry.previous;
    _entered = entry.entered;
    _previousKind = entry.previousKind;
}

PySession::Use::~Use() {
    using namespace interpreter_detail;
    // Runs last: the start of a line the session code printed goes out before the host goes on.
    PendingLinesAtExit pendingLines;
    if (_previous == nullptr && _entered != nullptr) {
        // Left as entered by the usual entry: release last.
        HeldRecord& record = heldRecord;
        record.held = nullptr;
        record.kind = _previousKind;
        PyEval_SaveThread();
        return;
    }
    EntryRecord entry;
    entry.previous = _previous;
    entry.entered = _entered;
    entry.previousKind = _previousKind;
    leave(entry);
}
