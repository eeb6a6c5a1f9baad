// Thread states of the library: one per (thread, interpreter), made on first entry, reused, and
// deleted when the thread ends; and the per-thread record of what the thread holds, which is the
// only reliable answer to "does this thread hold Python?" on every supported version.
#pragma once

#include <Python.h>

#include "LockHandOff.h"

// Checks of the session entry path in builds without NDEBUG, as CPython's Py_DEBUG checks: a
// broken rule ends the process at once with the rule and where it broke, instead of corrupting
// the thread states. Release builds compile them away.
#ifndef NDEBUG
#define PPP_SESSION_CHECK(condition, rule) \
    ((condition) ? (void)0 : ::interpreter_detail::sessionCheckFailed(rule, __FILE__, __LINE__))
#else
#define PPP_SESSION_CHECK(condition, rule) ((void)0)
#endif

// Constant initialisation asked for, so that a thread-local declared extern is read without a
// call to its initialiser.
#if defined(__clang__)
#define PPP_CONSTINIT [[clang::require_constant_initialization]]
#elif defined(__GNUC__)
#define PPP_CONSTINIT __constinit
#else
#define PPP_CONSTINIT
#endif

namespace interpreter_detail {

// What session code runs on the state a thread holds: the first four are recorded while a state
// is held, and PySession::getExecType reports them by their values. The two negative ones are
// markers kept only in what an entry saved (declared opaque in PyInterpreter.h).
enum ExecKind : int {
    kKindNone = 0,      // no session code: nothing held, or held outside any entry
    kKindUse = 1,       // inside a PySession::Use (native code called into the session)
    kKindEval = 2,      // inside PySession::eval
    kKindExecFile = 3,  // inside PySession::exec_file
    // The thread held a state this library did not make current (a Python thread, a host's own
    // state): leaving forgets it rather than recording it as held.
    kKindForeign = -1,
    // The entry changed nothing at all (null session): leaving does nothing.
    kKindUntouched = -2,
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

// The calling thread's record (ThreadStates.cpp). Only its own thread reads or writes it.
extern PPP_CONSTINIT thread_local HeldRecord heldRecord
#if defined(__GNUC__)
    __attribute__((tls_model("initial-exec")))
#endif
    ;

// What one entry changed, so that leaving it restores exactly what was there before.
struct EntryRecord {
    PyThreadState* previous = nullptr;  // state held before entry, or null
    PyThreadState* entered = nullptr;   // state made current by the entry, or null
    ExecKind previousKind = kKindUntouched;
};

// Whether every interpreter has an interpreter lock of its own (see PyMainInterp::useOwnLocks).
// Set once, before the first sub-interpreter exists; read on every switch between two states.
void setSeparateLocks(bool separate);
bool separateLocks();

// Makes `interpreter` current on the calling thread with the thread's own state for it and
// records `kind`. Holding it already: only the kind changes. Holding another state: switched
// with PyThreadState_Swap under the one shared lock, or with separate locks by releasing the
// held one (PyEval_SaveThread) before taking the other, so that no thread ever waits for one
// interpreter's lock while it holds another's. Holding nothing: PyEval_RestoreThread.
// Precondition: `interpreter` is alive (interpreters are never ended).
void enterInterpreter(PyInterpreterState* interpreter, ExecKind kind, EntryRecord& entry);
// Undoes enterInterpreter. Precondition: same thread, entries left in reverse order.
void leaveInterpreter(const EntryRecord& entry);

// Makes `state` the calling thread's state for its interpreter (the state Py_NewInterpreter
// returned). Unlike the states made on entry it is not deleted when the thread ends: it stays,
// unused, as long as the interpreter. Precondition: the thread has no state for that interpreter
// yet; `state` is not current anywhere.
void adoptThreadState(PyThreadState* state);

// The state the calling thread holds through this library and its kind (null and 0 when none).
PyThreadState* heldState();
ExecKind heldKind();
// Forget / restore what the thread holds, around a PyEval_SaveThread ... RestoreThread pair.
void recordHeld(PyThreadState* state, ExecKind kind);

// PyEval_RestoreThread(state) with the wait watched for the lock hand-off (LockHandOff.h); for
// waits outside an entry (a released interpreter taken back, the plug-in set-up's state).
void takeLockOnThisThread(PyThreadState* state);

// The calling thread's own state for `interpreter`, or null when it has none yet; for the debug
// checks.
PyThreadState* ownStateOf(PyInterpreterState* interpreter);

// Reports a broken rule of the entry path and ends the process (PPP_SESSION_CHECK).
[[noreturn]] void sessionCheckFailed(const char* rule, const char* file, int line);

// Marks the calling thread as the one that initialised Python: its states are never deleted,
// since they die with the process and its exit may run while other threads hold the lock.
void markInitialisingThread();

}  // namespace interpreter_detail
