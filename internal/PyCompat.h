// Every difference of the CPython C API between 3.7 and 3.13 that this project meets, hidden
// behind one name each. Nothing else in the project tests PY_VERSION_HEX.
#pragma once

#include <Python.h>

#include <cstdio>
#include <string>

#include "PyRef.h"

namespace pycompat {

// Initialises the runtime of an embedding process: no signal handlers, unbuffered standard
// streams on both the Python and the C side (so that C, C++ and Python output appears in call
// order on a pipe), PYTHON* environment variables ignored, no argument parsing. `home`
// ("prefix" or "prefix:exec_prefix") names the installation the standard library and its
// extension modules come from, and `executable` what sys.executable names; each may be empty to
// let CPython search for it (from the first "python3" on PATH). Returns with the calling thread
// holding the interpreter lock. Precondition: !Py_IsInitialized(). A runtime that cannot start
// ends the process with CPython's own message.
inline void initializeRuntime(const std::string& home, const std::string& executable) {
#if PY_VERSION_HEX >= 0x03080000
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Sanitized builds: Python objects come from malloc, where the sanitizers see them; in
    // CPython's own arenas LeakSanitizer takes what only they reference for leaks. (This is what
    // PYTHONMALLOC=malloc asks for, which use_environment = 0 ignores.)
    PyPreConfig preconfig;
    PyPreConfig_InitPythonConfig(&preconfig);
    preconfig.use_environment = 0;
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;
    PyStatus preinitialized = Py_PreInitialize(&preconfig);
    if (PyStatus_Exception(preinitialized)) {
        Py_ExitStatusException(preinitialized);
    }
#endif
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    config.install_signal_handlers = 0;
    config.buffered_stdio = 0;  // with configure_c_stdio (on by default) C stdio too
    config.use_environment = 0;
    config.parse_argv = 0;
    PyStatus status = PyStatus_Ok();
    if (!home.empty()) {
        status = PyConfig_SetBytesString(&config, &config.home, home.c_str());
    }
    if (!executable.empty() && !PyStatus_Exception(status)) {
        // An absolute program name is taken as the executable without a search of PATH.
        status = PyConfig_SetBytesString(&config, &config.program_name, executable.c_str());
        if (!PyStatus_Exception(status)) {
            status = PyConfig_SetBytesString(&config, &config.executable, executable.c_str());
        }
    }
    if (!PyStatus_Exception(status)) {
        status = Py_InitializeFromConfig(&config);
    }
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
        Py_ExitStatusException(status);
    }
#else
    Py_IgnoreEnvironmentFlag = 1;
    Py_UnbufferedStdioFlag = 1;
    // The runtime keeps pointers to both texts: they are never freed.
    if (!home.empty()) {
        Py_SetPythonHome(Py_DecodeLocale(home.c_str(), nullptr));
    }
    if (!executable.empty()) {
        Py_SetProgramName(Py_DecodeLocale(executable.c_str(), nullptr));
    }
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
// is the lock holder's, whatever thread asks: it counts as the caller's only when it is the
// calling thread's own PyGILState state (made on this thread), which a state lent to another
// thread (the set-up state of PyMainInterp) never is. The current state is only compared, never
// read: it may be another thread's, which that thread may delete at any moment. Lock free; for
// callers whose own records say they hold nothing.
inline PyThreadState* callingThreadState() {
#if PY_VERSION_HEX >= 0x030C0000
    return currentThreadStateUnchecked();
#else
    PyThreadState* current = _PyThreadState_UncheckedGet();
    return current != nullptr && current == PyGILState_GetThisThreadState() ? current : nullptr;
#endif
}

// Whether a thread waiting for the interpreter lock raises its request to release it in its own
// interpreter only (3.9 to 3.12), so that a holder running another interpreter never sees it. 3.7
// and 3.8 have one process-wide request; from 3.13 the waiter raises it in the holder's thread.
constexpr bool kLockRequestStaysInWaitersInterpreter =
    PY_VERSION_HEX >= 0x03090000 && PY_VERSION_HEX < 0x030D0000;

// Whether a sub-interpreter can have an interpreter lock of its own (Py_NewInterpreterFromConfig
// with PyInterpreterConfig_OWN_GIL, from 3.12).
constexpr bool kOwnInterpreterLock = PY_VERSION_HEX >= 0x030C0000;

#if PY_VERSION_HEX >= 0x030D0000 && PY_VERSION_HEX < 0x030E0000
// The frame evaluator of checkRecursionLimitOnEveryCall: CPython's own, entered through the
// interpreter's evaluator slot.
inline PyObject* evaluateFrameThroughSlot(PyThreadState* state, struct _PyInterpreterFrame* frame,
                                          int throwFlag) {
    return _PyEval_EvalFrameDefault(state, frame, throwFlag);
}
#endif

// CPython 3.13.0 to 3.13.7 skip the recursion limit's check in a specialised call of a Python
// function whose arguments do not match its parameters exactly (defaults filled in, *args,
// **kwargs; CPython issue 132744, fixed in 3.13.8): a script recursing without end through such
// a function grows its frame stack until the host runs out of memory, where any other version
// raises RecursionError. An interpreter with a frame evaluator of its own (PEP 523) specialises
// no Python call and enters every callee through the evaluator, whose entry checks the limit;
// this sets one that only calls CPython's. The cost, on those versions alone: calls between
// Python functions of the scripts are not inlined (each is a C call, as before 3.11). The
// runtime's version decides: the library may run on another 3.13 than the one it was built
// with. Precondition: `state` is current, its interpreter new: no code has run in it yet.
inline void checkRecursionLimitOnEveryCall(PyThreadState* state) {
#if PY_VERSION_HEX >= 0x030D0000 && PY_VERSION_HEX < 0x030E0000
    if (Py_Version < 0x030D08F0) {
        _PyInterpreterState_SetEvalFrameFunc(state->interp, evaluateFrameThroughSlot);
    }
#else
    (void)state;
#endif
}

// A new sub-interpreter, returned with its state current and its lock held, as Py_NewInterpreter
// does: the caller's state is no longer current, and on 3.12+ the caller's lock is released. With
// `ownLock` (3.12+ only, see kOwnInterpreterLock) it gets a lock and an object allocator of its
// own; threads and daemon threads are allowed, os.fork() is not, subprocess is; an extension
// module without multi-phase initialisation refuses to import with CPython's ImportError. On
// failure: null, the caller's state current again, `error` says why. Precondition: the calling
// thread holds the interpreter lock with some state current.
inline PyThreadState* newInterpreter(bool ownLock, std::string* error) {
#if PY_VERSION_HEX >= 0x030C0000
    if (ownLock) {
        PyInterpreterConfig config = {};
        config.use_main_obmalloc = 0;
        config.allow_fork = 0;
        config.allow_exec = 1;
        config.allow_threads = 1;
        config.allow_daemon_threads = 1;
        config.check_multi_interp_extensions = 1;
        config.gil = PyInterpreterConfig_OWN_GIL;
        PyThreadState* state = nullptr;
        const PyStatus status = Py_NewInterpreterFromConfig(&state, &config);
        if (PyStatus_Exception(status)) {
            *error = status.err_msg != nullptr ? status.err_msg : "unknown error";
            return nullptr;
        }
        checkRecursionLimitOnEveryCall(state);
        return state;
    }
#else
    (void)ownLock;
#endif
    PyThreadState* state = Py_NewInterpreter();
    if (state == nullptr) {
        *error = "Py_NewInterpreter failed";
        return nullptr;
    }
    checkRecursionLimitOnEveryCall(state);
    return state;
}

// `callable(argument)`: what PyObject_CallFunctionObjArgs(callable, argument, NULL) does, through
// the fastest call each version offers (no argument list walked, no tuple built from 3.8 on). A
// new reference, or null with the error pending. Precondition: the interpreter lock is held.
inline PyObject* callOneArgument(PyObject* callable, PyObject* argument) {
#if PY_VERSION_HEX >= 0x03090000
    return PyObject_CallOneArg(callable, argument);
#elif PY_VERSION_HEX >= 0x03080000
    PyObject* arguments[] = {argument};
    return _PyObject_Vectorcall(callable, arguments, 1, nullptr);
#else
    return PyObject_CallFunctionObjArgs(callable, argument, nullptr);
#endif
}

// `callable(first, second)`, the same way as callOneArgument.
inline PyObject* callTwoArguments(PyObject* callable, PyObject* first, PyObject* second) {
#if PY_VERSION_HEX >= 0x03090000
    PyObject* arguments[] = {first, second};
    return PyObject_Vectorcall(callable, arguments, 2, nullptr);
#elif PY_VERSION_HEX >= 0x03080000
    PyObject* arguments[] = {first, second};
    return _PyObject_Vectorcall(callable, arguments, 2, nullptr);
#else
    return PyObject_CallFunctionObjArgs(callable, first, second, nullptr);
#endif
}

// Looks up attribute `name` of `object`: 1 with a new reference in *result, 0 when there is none
// (no error left), -1 with the error pending (a property that raises). PyObject_HasAttrString
// would hide such an error on 3.7 to 3.12 and print it on 3.13. Precondition: the interpreter
// lock is held.
inline int lookupAttribute(PyObject* object, const char* name, PyObject** result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttrString(object, name, result);
#else
    *result = PyObject_GetAttrString(object, name);
    if (*result != nullptr) {
        return 1;
    }
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return 0;
    }
    return -1;
#endif
}

// A number no other thread state of `state`'s interpreter ever had, its deleted ones included.
inline uint64_t threadStateId(PyThreadState* state) {
#if PY_VERSION_HEX >= 0x03090000
    return PyThreadState_GetID(state);
#else
    return state->id;
#endif
}

inline PyInterpreterState* interpreterOf(PyThreadState* state) {
#if PY_VERSION_HEX >= 0x03090000
    return PyThreadState_GetInterpreter(state);
#else
    return state->interp;
#endif
}

// The pending exception taken out of the calling thread, in the form CPython 3.12's
// PyErr_GetRaisedException gives on every version: normalised, with its traceback set on it.
// Dropped when this object goes, unless restore() makes it pending again. Precondition: the
// interpreter lock is held for the object's whole life.
class TakenError {
public:
    TakenError() {
#if PY_VERSION_HEX >= 0x030C0000
        _value = PyRef::steal(PyErr_GetRaisedException());
        if (_value) {
            _type = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(_value.get())));
            _traceback = PyRef::steal(PyException_GetTraceback(_value.get()));
        }
#else
        PyObject* type = nullptr;  // the three are owned after Fetch
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        if (type != nullptr) {
            PyErr_NormalizeException(&type, &value, &traceback);
        }
        _type = PyRef::steal(type);
        _value = PyRef::steal(value);
        _traceback = PyRef::steal(traceback);
        if (_value && _traceback) {
            PyException_SetTraceback(_value.get(), _traceback.get());
        }
#endif
    }
    TakenError(const TakenError&) = delete;
    TakenError& operator=(const TakenError&) = delete;

    // False when no exception was pending.
    explicit operator bool() const {
        return static_cast<bool>(_type);
    }
    // Borrowed from this object; null when no exception was pending (the traceback may be null).
    PyObject* type() const {
        return _type.get();
    }
    PyObject* value() const {
        return _value.get();
    }
    PyObject* traceback() const {
        return _traceback.get();
    }

    // Makes the exception pending again in place of whatever is pending now (with none taken,
    // clears the pending one); afterwards this object holds none.
    void restore() {
#if PY_VERSION_HEX >= 0x030C0000
        _type.reset();
        _traceback.reset();
        if (_value) {
            PyErr_SetRaisedException(_value.release());  // steals it
        } else {
            PyErr_Clear();
        }
#else
        // Steals all three.
        PyErr_Restore(_type.release(), _value.release(), _traceback.release());
#endif
    }

private:
    PyRef _type;
    PyRef _value;
    PyRef _traceback;
};

// The pending exception put aside for a scope and made pending again at its end, replacing any
// raised meanwhile (as pybind11's error_scope): code that runs Python while an error is pending,
// such as a destructor during unwinding, runs it in this scope. Precondition: as TakenError.
class ErrorScope {
public:
    ErrorScope() = default;
    ~ErrorScope() { _taken.restore(); }
    ErrorScope(const ErrorScope&) = delete;
    ErrorScope& operator=(const ErrorScope&) = delete;

    // The exception put aside, borrowed; null when none was pending.
    PyObject* value() const { return _taken.value(); }

private:
    TakenError _taken;
};

namespace detail {

// The last line of a traceback ("TYPE: VALUE"), written straight to the C library's standard
// error: for when Python cannot print (no usable sys.stderr, no room left on the stack).
inline void writeExceptionLine(PyObject* type, PyObject* value) {
    const char* name = PyExceptionClass_Check(type) ? PyExceptionClass_Name(type) : "exception";
    PyObject* text = value != nullptr ? PyObject_Str(value) : nullptr;      // new reference
    const char* utf8 = text != nullptr ? PyUnicode_AsUTF8(text) : nullptr;  // borrowed from text
    PyErr_Clear();
    if (utf8 != nullptr && *utf8 != '\0') {
        std::fprintf(stderr, "%s: %s\n", name, utf8);
    } else {
        std::fprintf(stderr, "%s\n", name);
    }
    std::fflush(stderr);
    Py_XDECREF(text);
}

// Shows an exception on sys.stderr as the interpreter does, through the traceback module. Never
// through PyErr_Display: when it cannot write (sys.stderr missing or raising, the recursion
// limit reached) it falls back on _PyObject_Dump, whose PyGILState_Ensure deadlocks a thread
// running a sub-interpreter. Whatever fails here ends in writeExceptionLine; nothing stays
// pending. Precondition: the interpreter lock is held; no error is pending.
inline void displayException(PyObject* type, PyObject* value, PyObject* traceback) {
    PyObject* stream = PySys_GetObject("stderr");  // borrowed
    if (stream == Py_None) {
        return;  // the script silenced its errors, as the interpreter allows
    }
    // Owned for the call: importing may run script code that rebinds sys.stderr.
    Py_XINCREF(stream);
    PyObject* result = nullptr;  // new reference
    if (stream != nullptr) {
        PyObject* module = PyImport_ImportModule("traceback");  // new reference
        if (module != nullptr) {
            result = PyObject_CallMethod(
                module, "print_exception", "OOOOO", type, value != nullptr ? value : Py_None,
                traceback != nullptr ? traceback : Py_None, Py_None, stream);
            Py_DECREF(module);
        }
    }
    Py_XDECREF(stream);
    if (result == nullptr) {
        PyErr_Clear();
        writeExceptionLine(type, value);
        return;
    }
    Py_DECREF(result);
}

}  // namespace detail

// Prints the pending exception with its traceback and clears it, as PyErr_Print does: through
// sys.excepthook, recording sys.last_type, last_value and last_traceback. Unlike PyErr_Print it
// never ends the process (PyErr_Print exits on a SystemExit, also on one a script's excepthook
// raises) and never hangs it (see detail::displayException). A SystemExit is shown without the
// hook; a hook that raises is reported with the original exception, as the interpreter reports
// it. Precondition: the interpreter lock is held.
inline void printPendingError() {
    if (!PyErr_Occurred()) {
        return;
    }
    TakenError error;
    PyObject* type = error.type();  // borrowed, as the two below
    PyObject* value = error.value();
    PyObject* traceback = error.traceback();
    PyObject* shownValue = value != nullptr ? value : Py_None;              // borrowed
    PyObject* shownTraceback = traceback != nullptr ? traceback : Py_None;  // borrowed
    bool shown = false;
    if (!PyErr_GivenExceptionMatches(type, PyExc_SystemExit)) {
        // SetObject does not steal; a failure only loses the post-mortem record.
        PySys_SetObject("last_type", type);
        PySys_SetObject("last_value", shownValue);
        PySys_SetObject("last_traceback", shownTraceback);
#if PY_VERSION_HEX >= 0x030C0000
        PySys_SetObject("last_exc", shownValue);
#endif
        PyErr_Clear();
        PyObject* hook = PySys_GetObject("excepthook");             // borrowed
        PyObject* builtinHook = PySys_GetObject("__excepthook__");  // borrowed
        // The built-in hook would print through PyErr_Display.
        if (hook != nullptr && hook != Py_None && hook != builtinHook) {
            PyObject* result =  // new reference
                PyObject_CallFunctionObjArgs(hook, type, shownValue, shownTraceback, nullptr);
            if (result != nullptr) {
                Py_DECREF(result);
                shown = true;
            } else {
                TakenError hookError;
                PySys_WriteStderr("Error in sys.excepthook:\n");
                if (hookError) {
                    detail::displayException(hookError.type(), hookError.value(),
                                             hookError.traceback());
                }
                PySys_WriteStderr("\nOriginal exception was:\n");
                PyErr_Clear();
            }
        }
    }
    if (!shown) {
        detail::displayException(type, value, traceback);
    }
    PyErr_Clear();
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
