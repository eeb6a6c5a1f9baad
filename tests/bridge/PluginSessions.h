// Sessions on real sub-interpreters, made the way plug-in set-up makes them, and small helpers to
// read results. Shared by the bridge and transcoder tests.
#pragma once

#include <Python.h>

#include <string>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"

namespace plugin_sessions {

// A new sub-interpreter and its session. Precondition: the calling thread holds no interpreter.
inline PySession* newSession() {
    PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
    PyEval_RestoreThread(main->getPyThreadState());
    Py_NewInterpreter();
    main->setPyThreadState(PyEval_SaveThread());
    return new PySession(main->getPyThreadState());
}

// Two sessions for the whole test program, on two sub-interpreters; never deleted.
inline PySession* session(int which) {
    static PySession* sessions[2] = {newSession(), newSession()};
    return sessions[which];
}

// An expression's value as its repr() text, UTF-8 ("<error>" after printing the error).
inline std::string evalRepr(PySession* session, const std::string& expression) {
    PySession::Use use(session);
    PyRef value = PyRef::steal(
        PyRun_String(expression.c_str(), Py_eval_input, session->globals(), session->globals()));
    PyRef text = PyRef::steal(value ? PyObject_Repr(value.get()) : nullptr);
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;  // borrowed from `text`
    if (utf8 == nullptr) {
        pycompat::printPendingError();
        return "<error>";
    }
    return utf8;
}

// A global of the session (borrowed). Precondition: the session is held.
inline PyObject* global(PySession* session, const char* name) {
    return PyDict_GetItemString(session->globals(), name);
}

}  // namespace plugin_sessions
