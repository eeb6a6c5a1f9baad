// Every difference of the CPython C API between 3.7 and 3.13 that this project meets, hidden
// behind one name each. Nothing else in the project tests PY_VERSION_HEX.
#pragma once

#include <Python.h>
#include <frameobject.h>

namespace pycompat {

// The state of whichever thread holds the interpreter lock, or null. Before 3.12 it is not "this
// thread's state": it is the lock holder's, on any thread.
inline PyThreadState* currentThreadStateUnchecked() {
#if PY_VERSION_HEX >= 0x030D0000
    return PyThreadState_GetUnchecked();
#else
    return _PyThreadState_UncheckedGet();
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
