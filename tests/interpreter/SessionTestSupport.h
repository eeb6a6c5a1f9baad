// Sub-interpreter sessions made the way plug-in set-up makes them, and small probes of what a
// thread holds.
#pragma once

#include <Python.h>

#include <string>

#include "PyCompat.h"
#include "PyInterpreter.h"

namespace interpreter_test {

// Plug-in set-up: take the stored state, make a sub-interpreter, release the lock, store the new
// state for the next set-up, and build the session on it. Precondition: the calling thread holds
// no interpreter.
inline PySession* newSubInterpreterSession() {
    PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
    PyEval_RestoreThread(main->getPyThreadState());
    PyThreadState* state = Py_NewInterpreter();
    main->setPyThreadState(PyEval_SaveThread());
    return new PySession(state);
}

// Number of thread states the session's interpreter has. Precondition: the session is held.
inline int threadStateCount(const PySession* session) {
    int count = 0;
    for (PyThreadState* state = PyInterpreterState_ThreadHead(session->interpreter());
         state != nullptr; state = PyThreadState_Next(state)) {
        ++count;
    }
    return count;
}

// The interpreter of the calling thread's current state. Precondition: an interpreter is held.
inline PyInterpreterState* currentInterpreter() {
    return pycompat::interpreterOf(PyThreadState_Get());
}

inline std::string dataFile(const std::string& name) {
    return std::string(PPP_TEST_DATA_DIR) + "/interpreter/" + name;
}

}  // namespace interpreter_test
