// Sub-interpreter sessions made the way plug-in set-up makes them, and the folder's test data.
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

inline std::string dataFile(const std::string& name) {
    return std::string(PPP_TEST_DATA_DIR) + "/interpreter/" + name;
}

}  // namespace interpreter_test
