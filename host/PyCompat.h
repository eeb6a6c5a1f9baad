// Every difference of the CPython C API between 3.7 and 3.13 that this project meets, hidden
// behind one name each. Nothing else in the project tests PY_VERSION_HEX.
#pragma once

#include <Python.h>
#include <frameobject.h>

#include <cstdio>

namespace pycompat {

// Initialises the runtime of an embedding process: no signal handlers, unbuffered standard
// streams on both the Python and the C side (so that C, C++ and Python output appears in call
// order on a pipe), PYTHON* environment variables ignored, no argument parsing. Returns with the
// calling thread holding the interpreter lock. Precondition: !Py_IsInitialized(). A runtime that
// cannot start ends the process with CPython's own message.
inline void initializeRuntime() {
#if PY_VERSION_HEX >= 0x03080000
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    config.install_signal_handlers = 0;
    config.buffered_stdio = 0;  // with configure_c_stdio (on by default) C stdio too
    config.use_environment = 0;
    config.parse_argv = 0;
    PyStatus status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }
#else
    Py_IgnoreEnvironmentFlag = 1;
    Py_UnbufferedStdioFlag = 1;
    // 3.7 makes only its own streams unbuffered; C stdio must follow, or lines written before a
    // Python call could appear after its output.
    std::fflush(stdout);
    std::fflush(stderr);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    Py_InitializeEx(0);
#endif
}

// The state of whichever thread holds the interpreter lock, or null. Before 3.12 it is not "this
// thread's state": it is the lock holder's, on any thread.
inline PyThreadState* currentThreadStateUnchecked() {
#if PY_VERSION_HEX >= 0x030D0000
    return PyThreadState_GetUnchecked();
#else
    return _PyThreadState_UncheckedGet();
#endif
}

// The thread state the calling thread has made current, if that can be told; null otherwise.
// From 3.12 the current state is per thread and the answer is exact. Before, the "current" state
// is the lock holder's, whatever thread asks: it counts as the caller's only when it was created
// on the calling thread and is that thread's own PyGILState state, which a state lent to another
// thread (the set-up state of PyMainInterp) never is. Lock free; for callers whose own records
// say they hold nothing.
inline PyThreadState* callingThreadState() {
#if PY_VERSION_HEX >= 0x030C0000
    return currentThreadStateUnchecked();
#else
    PyThreadState* current = _PyThreadState_UncheckedGet();
    if (current == nullptr || current->thread_id != PyThread_get_thread_ident()) {
        return nullptr;
    }
    return current == PyGILState_GetThisThreadState() ? current : nullptr;
#endif
}

inline PyInterpreterState* interpreterOf(PyThreadState* state) {
#if PY_VERSION_HEX >= 0x03090000
    return PyThreadState_GetInterpreter(state);
#else
    return state->interp;
#endif
}

// Prints the pending exception with its traceback to sys.stderr and clears it. Unlike
// PyErr_Print, a SystemExit does not end the process: it is printed like any other exception.
// Precondition: the interpreter lock is held; an error is pending.
inline void printPendingError() {
    if (!PyErr_Occurred()) {
        return;
    }
    if (PyErr_ExceptionMatches(PyExc_SystemExit)) {
        PyObject* type = nullptr;   // owned after Fetch
        PyObject* value = nullptr;  // owned after Fetch
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        if (traceback != nullptr && value != nullptr) {
            PyException_SetTraceback(value, traceback);
        }
        PyErr_Display(type, value, traceback);
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        PyErr_Clear();
        return;
    }
    PyErr_Print();
}

// PySys_SetArgvEx, deprecated from 3.11 on but still the one call that sets sys.argv of the
// current (sub-)interpreter alone. Precondition: the interpreter lock is held.
inline void setArgvEx(int argc, wchar_t** argv, int updatePath) {
#if PY_VERSION_HEX >= 0x030B0000
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    PySys_SetArgvEx(argc, argv, updatePath);
#if PY_VERSION_HEX >= 0x030B0000
#pragma GCC diagnostic pop
#endif
}

}  // namespace pycompat
