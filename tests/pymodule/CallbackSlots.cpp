// Storing callables into slots and calling them: reference counts, refused candidates, errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "CaptureOutput.h"
#include "ScriptFixture.h"
#include "pymodule/PyCallUtils.h"

using ::testing::HasSubstr;

namespace {

std::string refusalLine(PyObject* candidate) {
    std::ostringstream line;
    line << " Failed to setCallbackByRef. " << static_cast<const void*>(candidate)
         << " is not a callable object.\n";
    return line.str();
}

class CallbackSlots : public ::testing::Test {
protected:
    ScriptFixture script;
};

TEST_F(CallbackSlots, StoringTheCallableTheSlotHoldsKeepsItsCountAndAnswersNone) {
    ASSERT_TRUE(script.run("def f():\n    return 1\n"));
    PySession::Use use(script.session());
    PyRef f = script.eval("f");
    PyObject* slot = nullptr;
    PyRef first = PyRef::steal(setCallbackByRef(&slot, f.get()));
    ASSERT_EQ(first.get(), Py_None);
    const Py_ssize_t held = Py_REFCNT(f.get());

    PyRef again = PyRef::steal(setCallbackByRef(&slot, f.get()));

    EXPECT_EQ(again.get(), Py_None);
    EXPECT_EQ(slot, f.get());
    EXPECT_EQ(Py_REFCNT(f.get()), held);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    PyRef owned = PyRef::steal(slot);  // the test's slot gives its reference back
}

TEST_F(CallbackSlots, ReplacingACallableMovesTheSlotsReferenceToTheNewOne) {
    ASSERT_TRUE(script.run("def f():\n    pass\ndef g():\n    pass\n"));
    PySession::Use use(script.session());
    PyRef f = script.eval("f");
    PyRef g = script.eval("g");
    const Py_ssize_t fBefore = Py_REFCNT(f.get());
    const Py_ssize_t gBefore = Py_REFCNT(g.get());
    PyObject* slot = nullptr;
    PyRef stored = PyRef::steal(setCallbackByRef(&slot, f.get()));
    EXPECT_EQ(Py_REFCNT(f.get()), fBefore + 1);

    PyRef replaced = PyRef::steal(setCallbackByRef(&slot, g.get()));

    EXPECT_EQ(slot, g.get());
    EXPECT_EQ(Py_REFCNT(f.get()), fBefore);
    EXPECT_EQ(Py_REFCNT(g.get()), gBefore + 1);
    PyRef owned = PyRef::steal(slot);
}

TEST_F(CallbackSlots, ARefusedCandidateIsReportedTwiceAndLeavesTheSlotAsItWas) {
    ASSERT_TRUE(script.run("def f():\n    pass\n"));
    PySession::Use use(script.session());
    PyRef f = script.eval("f");
    PyRef notCallable = script.eval("[5]");  // a fresh object: small ints are shared
    PyObject* slot = nullptr;
    PyRef stored = PyRef::steal(setCallbackByRef(&slot, f.get()));
    const Py_ssize_t fCount = Py_REFCNT(f.get());
    const Py_ssize_t notCallableCount = Py_REFCNT(notCallable.get());

    CaptureOutput capture;
    PyObject* refused = setCallbackByRef(&slot, notCallable.get());
    const std::string err = capture.err();

    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(slot, f.get());
    EXPECT_EQ(Py_REFCNT(f.get()), fCount);
    EXPECT_EQ(Py_REFCNT(notCallable.get()), notCallableCount);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_THAT(err,
                HasSubstr("ReferenceError: Object passed as argument is not a callable one\n"));
    EXPECT_THAT(err, HasSubstr(refusalLine(notCallable.get())));
    // The Python report comes first, then the line.
    EXPECT_LT(err.find("ReferenceError"), err.find(" Failed to setCallbackByRef. "));
    PyRef owned = PyRef::steal(slot);
}

TEST_F(CallbackSlots, ANullCandidateIsRefusedAndPrintedAsZero) {
    PySession::Use use(script.session());
    PyObject* slot = nullptr;

    CaptureOutput capture;
    PyObject* refused = setCallbackByRef(&slot, nullptr);
    const std::string err = capture.err();

    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(slot, nullptr);
    EXPECT_THAT(err, HasSubstr(" Failed to setCallbackByRef. 0 is not a callable object.\n"));
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

TEST_F(CallbackSlots, ACallThatRaisesPrintsItsTracebackAndGivesNoResult) {
    ASSERT_TRUE(script.run("def boom():\n    raise ValueError('boom here')\n"));
    PySession::Use use(script.session());
    PyRef boom = script.eval("boom");

    CaptureOutput capture;
    PyObject* result = evalCallback(boom.get(), nullptr);
    const std::string err = capture.err();

    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_THAT(err, HasSubstr("Traceback (most recent call last):"));
    EXPECT_THAT(err, HasSubstr("in boom"));
    EXPECT_THAT(err, HasSubstr("ValueError: boom here"));
}

TEST_F(CallbackSlots, ACallThatReturnsHandsOverItsOwnReference) {
    ASSERT_TRUE(script.run("def pair(a, b):\n    return [a, b]\n"));
    PySession::Use use(script.session());
    PyRef pair = script.eval("pair");
    PyRef args = script.eval("(1, 2)");

    PyRef result = PyRef::steal(evalCallback(pair.get(), args.get()));

    ASSERT_TRUE(result);
    EXPECT_EQ(Py_REFCNT(result.get()), 1);
    EXPECT_EQ(PyList_Size(result.get()), 2);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

TEST_F(CallbackSlots, ASystemExitInACallIsPrintedAndTheProcessGoesOn) {
    ASSERT_TRUE(script.run("import sys\ndef leave():\n    sys.exit(3)\n"));
    PySession::Use use(script.session());
    PyRef leave = script.eval("leave");

    CaptureOutput capture;
    PyObject* result = evalCallback(leave.get(), nullptr);
    const std::string err = capture.err();

    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_THAT(err, HasSubstr("SystemExit: 3"));
}

}  // namespace
