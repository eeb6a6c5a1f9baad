// The version layer's handling of a pending exception: taken out normalised with its traceback on
// every CPython version, put aside for a scope and pending again after it, references balanced.
#include <gtest/gtest.h>

#include "PyCompat.h"
#include "PyRef.h"
#include "tests/interpreter/SessionTestSupport.h"

using namespace interpreter_test;

namespace {

// Raises ValueError('outer') from inside a function, so that the exception has a traceback.
// Precondition: the session is held.
void raiseFromFunction(PySession* session) {
    PyObject* globals = session->globals();  // borrowed
    PyRef result = PyRef::steal(PyRun_String("def fail():\n    raise ValueError('outer')\nfail()\n",
                                             Py_file_input, globals, globals));
    (void)result;
}

}  // namespace

TEST(PendingErrors, ATakenErrorIsNormalisedWithItsTracebackOnItAndReleasedWithTheTaker) {
    PySession* session = newSubInterpreterSession();
    PySession::Use use(session);

    // Set the way C code sets errors: on CPython before 3.12 the value is still the bare text.
    PyErr_SetString(PyExc_KeyError, "raw");
    PyRef kept;
    {
        pycompat::TakenError error;
        EXPECT_EQ(PyErr_Occurred(), nullptr);
        ASSERT_TRUE(error);
        EXPECT_EQ(PyObject_IsInstance(error.value(), PyExc_KeyError), 1);
        EXPECT_EQ(error.type(), reinterpret_cast<PyObject*>(Py_TYPE(error.value())));
        kept = PyRef::borrow(error.value());
    }
    EXPECT_EQ(Py_REFCNT(kept.get()), 1);

    raiseFromFunction(session);
    {
        pycompat::TakenError error;
        ASSERT_TRUE(error && error.traceback() != nullptr);
        PyRef onValue = PyRef::steal(PyException_GetTraceback(error.value()));
        EXPECT_EQ(onValue.get(), error.traceback());
        kept = PyRef::borrow(error.value());
    }
    // The traceback's frames do not hold the exception: only `kept` does.
    EXPECT_EQ(Py_REFCNT(kept.get()), 1);

    pycompat::TakenError none;
    EXPECT_FALSE(none);
    EXPECT_TRUE(none.type() == nullptr && none.value() == nullptr && none.traceback() == nullptr);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

TEST(PendingErrors, AnErrorPutAsideForAScopeIsPendingAgainAloneAfterItWithItsReferencesBalanced) {
    PySession* session = newSubInterpreterSession();
    PySession::Use use(session);

    raiseFromFunction(session);
    PyRef outer;
    Py_ssize_t before = 0;
    {
        pycompat::TakenError error;
        outer = PyRef::borrow(error.value());
        before = Py_REFCNT(outer.get());
        error.restore();
        EXPECT_FALSE(error);
    }
    EXPECT_EQ(Py_REFCNT(outer.get()), before);
    {
        pycompat::ErrorScope scope;
        EXPECT_EQ(scope.value(), outer.get());
        EXPECT_EQ(PyErr_Occurred(), nullptr);
        // Python run in the scope may raise: what it raises is dropped at the scope's end.
        PyErr_SetString(PyExc_RuntimeError, "inner");
    }
    {
        pycompat::TakenError error;
        EXPECT_EQ(error.value(), outer.get());
        EXPECT_EQ(Py_REFCNT(outer.get()), before);
    }
    EXPECT_EQ(Py_REFCNT(outer.get()), 1);

    // With nothing pending at its start, a scope leaves nothing pending.
    {
        pycompat::ErrorScope scope;
        EXPECT_EQ(scope.value(), nullptr);
        PyErr_SetString(PyExc_RuntimeError, "inner");
    }
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}
