// The process's embedded CPython: initialised once, on first use, and the thread state plug-in
// set-up takes the interpreter lock through.
#include <cstdio>
#include <mutex>
#include <string>

#include "InterruptMain.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "RuntimeLocation.h"
#include "RuntimePlatform.h"
#include "ThreadStates.h"

namespace {

std::mutex storedStateMutex;

// Guards PyMainInterp::_threadState; a leaf (docs/design.md).
class StoredStateLock {
public:
    StoredStateLock() : _lock(storedStateMutex) {}
    StoredStateLock(const StoredStateLock&) = delete;
    StoredStateLock& operator=(const StoredStateLock&) = delete;

private:
    std::lock_guard<std::mutex> _lock;
};

// The main-interpreter state handed out first. Made for this purpose only: it is no thread's
// PyGILState state, so lending it to any thread is safe. Later the stored state is the one the
// last Py_NewInterpreter returned, which is never deleted either.
PyThreadState* setupState = nullptr;

// Process-wide preparations before CPython starts in this process. Extension modules of the
// standard library (decimal, ctypes, ssl, ...) do not link libpython: they find its symbols in
// the global scope, where a host that loaded us with RTLD_LOCAL did not put it. Then the
// installation: see RuntimeLocation.h. Messages go to the C library's standard error (one line
// each), since Python cannot print yet.
void startRuntime() {
    std::string error;
    if (!interpreter_platform::makeLibraryGlobal(reinterpret_cast<const void*>(&Py_InitializeEx),
                                                 &error)) {
        std::fprintf(stderr, "ProxyPythonPlugin: Python's extension modules may not load: %s\n",
                     error.c_str());
    }
    const interpreter_detail::RuntimeLocation location = interpreter_detail::chooseRuntimeLocation(
        PY_INTERP_PYTHON_HOME, PY_INTERP_PYTHON_EXECUTABLE,
        interpreter_platform::environmentValue("VIRTUAL_ENV"));
    if (!location.warning.empty()) {
        std::fprintf(stderr, "%s\n", location.warning.c_str());
    }
    std::fflush(stderr);
    pycompat::initializeRuntime(location.home, location.executable);
}

}  // namespace

PyMainInterp* PyMainInterp::PyMainInterpInstance() {
    // Never deleted: finalising CPython with sub-interpreters alive aborts the process.
    static PyMainInterp* instance = new PyMainInterp();
    return instance;
}

PyMainInterp::PyMainInterp() : _threadState(nullptr) {
    if (!Py_IsInitialized()) {
        startRuntime();
        interpreter_detail::markInitialisingThread();
        // The first thread to import threading becomes its "MainThread".
        PyRef threading = PyRef::steal(PyImport_ImportModule("threading"));
        if (!threading) {
            pycompat::printPendingError();
        }
        threading.reset();
        interpreter_detail::quietInterruptMain();
        PyEval_SaveThread();
        setupState = PyThreadState_New(PyInterpreterState_Main());
    } else {
        // A host that runs Python itself: this thread may or may not hold it. PyGILState gives
        // the thread a state of its own for the call, so the set-up state made meanwhile does not
        // become this thread's PyGILState state.
        PyGILState_STATE gil = PyGILState_Ensure();
        setupState = PyThreadState_New(PyInterpreterState_Main());
        PyGILState_Release(gil);
    }
    _threadState = setupState;
}

PyThreadState* PyMainInterp::getPyThreadState() {
    StoredStateLock lock;
    return _threadState;
}

void PyMainInterp::setPyThreadState(PyThreadState* state) {
    StoredStateLock lock;
    _threadState = state;
}

bool PyMainInterp::useOwnLocks(bool own) {
    if (own && !pycompat::kOwnInterpreterLock) {
        return false;
    }
    interpreter_detail::setSeparateLocks(own);
    return true;
}

bool PyMainInterp::ownLocks() {
    return interpreter_detail::separateLocks();
}

PyThreadState* PyMainInterp::newSubInterpreter(std::string* error) {
    // Making an interpreter needs the lock held with some state current: before 3.12
    // Py_NewInterpreter returns without the lock when called from a thread with no state. The
    // stored state is the one the previous set-up released (or the main interpreter's), so the
    // lock is taken through it. Restoring a state on top of a current one deadlocks: a caller's
    // interpreter is given up for this span.
    PyInterpreterRelease release;
    PyMainInterp::restoreThread(getPyThreadState());
    // On failure the caller's state is current again, so the state saved below is the one
    // restored above either way.
    const bool own = ownLocks();
    PyThreadState* made = pycompat::newInterpreter(own, error);
    PyThreadState* released = PyEval_SaveThread();
    // With a lock per interpreter the next one is made from the main interpreter again: taking
    // a plug-in's lock for it would make the set-up wait for that plug-in's busy threads.
    if (!own) {
        setPyThreadState(released);
    }
    return made;
}
