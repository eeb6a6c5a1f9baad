#include <mutex>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "ThreadStates.h"

namespace {

std::mutex storedStateMutex;

// Guards PyMainInterp::_threadState. Precondition: Python never runs while it is held.
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

}  // namespace

PyMainInterp* PyMainInterp::PyMainInterpInstance() {
    // Never deleted: finalising CPython with sub-interpreters alive aborts the process.
    static PyMainInterp* instance = new PyMainInterp();
    return instance;
}

PyMainInterp::PyMainInterp() : _threadState(nullptr) {
    if (!Py_IsInitialized()) {
        pycompat::initializeRuntime();
        interpreter_detail::markInitialisingThread();
        // The first thread to import threading becomes its "MainThread".
        PyRef threading = PyRef::steal(PyImport_ImportModule("threading"));
        if (!threading) {
            pycompat::printPendingError();
        }
        threading.reset();
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
