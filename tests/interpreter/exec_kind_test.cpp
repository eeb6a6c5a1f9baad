// What getExecType tells a transcoder about the code running on a thread state.

#include <gtest/gtest.h>

#include <thread>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "SessionTestSupport.h"

using namespace interpreter_test;

namespace {

int probedKind = -1;

PyObject* probe(PyObject*, PyObject*) {
    probedKind = PySession::getExecType(pycompat::currentThreadStateUnchecked());
    return PyLong_FromLong(probedKind);
}

PyMethodDef probeDefinition = {"probe", probe, METH_NOARGS, nullptr};

PySession* sessionWithProbe() {
    PySession* session = newSubInterpreterSession();
    PySession::Use use(session);
    PyRef function = PyRef::steal(PyCFunction_New(&probeDefinition, nullptr));
    PyDict_SetItemString(session->globals(), "probe", function.get());
    return session;
}

}  // namespace

TEST(ExecKind, InsideAUseTheKindIsOne) {
    PySession* session = sessionWithProbe();
    PySession::Use use(session);
    EXPECT_EQ(PySession::getExecType(pycompat::currentThreadStateUnchecked()), 1);
}

TEST(ExecKind, CodeRunByEvalSeesTwoAndCodeRunByExecFileSeesThree) {
    PySession* session = sessionWithProbe();
    probedKind = -1;
    EXPECT_TRUE(session->eval("line_kind = probe()"));
    EXPECT_EQ(probedKind, 2);
    probedKind = -1;
    EXPECT_TRUE(session->exec_file(dataFile("probes_exec_kind.py")));
    EXPECT_EQ(probedKind, 3);
}

TEST(ExecKind, AnEvalNestedInAUseSeesTwoAndTheUseSeesOneAgainAfterwards) {
    PySession* session = sessionWithProbe();
    probedKind = -1;
    int after = -1;
    {
        PySession::Use use(session);
        session->eval("probe()");
        after = PySession::getExecType(pycompat::currentThreadStateUnchecked());
    }
    EXPECT_EQ(probedKind, 2);
    EXPECT_EQ(after, 1);
}

TEST(ExecKind, OutsideAnyEntryOrForAnotherThreadsStateTheKindIsZero) {
    PySession* session = sessionWithProbe();
    PyThreadState* held = nullptr;
    int fromOtherThread = -1;
    {
        PySession::Use use(session);
        held = pycompat::currentThreadStateUnchecked();
        std::thread([&] { fromOtherThread = PySession::getExecType(held); }).join();
    }
    EXPECT_EQ(fromOtherThread, 0);
    EXPECT_EQ(PySession::getExecType(held), 0);
    EXPECT_EQ(PySession::getExecType(nullptr), 0);
}
