// Sessions on real sub-interpreters, made the way plug-in set-up makes them, and small helpers to
// run Python in them, read results and let Python call back into the test (as a Python bus driver
// calls the host). Shared by the bridge and transcoder tests.
#pragma once

#include <Python.h>

#include <functional>
#include <memory>
#include <string>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"

namespace plugin_sessions {

// A new sub-interpreter and its session, made as plug-in set-up makes them.
// Precondition: the calling thread holds no interpreter.
inline PySession* newSession() {
    PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
    PyEval_RestoreThread(main->getPyThreadState());
    Py_NewInterpreter();
    main->setPyThreadState(PyEval_SaveThread());
    return new PySession(main->getPyThreadState());
}

// Two sessions for the whole test program, on two sub-interpreters; never deleted.
inline PySession* sessionA() {
    static PySession* session = newSession();
    return session;
}
inline PySession* sessionB() {
    static PySession* session = (sessionA(), newSession());
    return session;
}

// Runs statements in the session's namespace; false after printing the error.
inline bool run(PySession* session, const std::string& source) {
    PySession::Use use(session);
    PyRef result = PyRef::steal(
        PyRun_String(source.c_str(), Py_file_input, session->globals(), session->globals()));
    if (!result) {
        pycompat::printPendingError();
        return false;
    }
    return true;
}

// Evaluates an expression; a new reference, or null after printing the error.
// Precondition: the session is held.
inline PyRef evaluate(PySession* session, const std::string& expression) {
    PyRef result = PyRef::steal(
        PyRun_String(expression.c_str(), Py_eval_input, session->globals(), session->globals()));
    if (!result) {
        pycompat::printPendingError();
    }
    return result;
}

// An expression's value as an integer (-1 and a printed error when it is not one).
inline long long evalInteger(PySession* session, const std::string& expression) {
    PySession::Use use(session);
    PyRef value = evaluate(session, expression);
    if (!value) {
        return -1;
    }
    long long result = PyLong_AsLongLong(value.get());
    if (PyErr_Occurred()) {
        pycompat::printPendingError();
    }
    return result;
}

// An expression's value as its repr() text, UTF-8 ("<error>" when it fails).
inline std::string evalRepr(PySession* session, const std::string& expression) {
    PySession::Use use(session);
    PyRef value = evaluate(session, expression);
    PyRef text = PyRef::steal(value ? PyObject_Repr(value.get()) : nullptr);
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;  // borrowed from `text`
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "<error>";
    }
    return utf8;
}

// Binds `name` in the session's namespace to a Python callable that runs `body` with any
// arguments and returns None. Precondition: the calling thread holds no interpreter.
inline void bindHostCall(PySession* session, const std::string& name, std::function<void()> body) {
    struct Call {
        static PyObject* invoke(PyObject* self, PyObject*) {
            auto* function =
                static_cast<std::function<void()>*>(PyCapsule_GetPointer(self, "hostcall"));
            (*function)();
            Py_RETURN_NONE;
        }
        static void release(PyObject* capsule) {
            delete static_cast<std::function<void()>*>(PyCapsule_GetPointer(capsule, "hostcall"));
        }
    };
    // One definition per binding: CPython keeps a pointer to it for the function's life.
    auto* definition = new PyMethodDef{"hostcall", &Call::invoke, METH_VARARGS, nullptr};
    PySession::Use use(session);
    PyRef capsule = PyRef::steal(
        PyCapsule_New(new std::function<void()>(std::move(body)), "hostcall", &Call::release));
    PyRef function = PyRef::steal(PyCFunction_New(definition, capsule.get()));
    PyDict_SetItemString(session->globals(), name.c_str(), function.get());  // does not steal
}

}  // namespace plugin_sessions
