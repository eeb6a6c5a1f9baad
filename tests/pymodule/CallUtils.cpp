// Storing callables into slots, calling them, and the texts made of Python errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "CaptureOutput.h"
#include "ScriptFixture.h"
#include "pymodule/PyCallUtils.h"

using ::testing::HasSubstr;

namespace {

class CallUtils : public ::testing::Test {
protected:
    ScriptFixture script;
};

TEST_F(CallUtils, StoringTheHeldCallableAgainKeepsItsCountAndARefusedOneChangesNothing) {
    ASSERT_TRUE(script.run("def f():\n    return 1\n"));
    PySession::Use use(script.session());
    PyRef f = script.eval("f");
    PyRef notCallable = script.eval("[5]");
    PyObject* slot = nullptr;
    PyRef first = PyRef::steal(setCallbackByRef(&slot, f.get()));
    const Py_ssize_t held = Py_REFCNT(f.get());
    const Py_ssize_t refusedCount = Py_REFCNT(notCallable.get());

    PyRef again = PyRef::steal(setCallbackByRef(&slot, f.get()));
    EXPECT_EQ(again.get(), Py_None);
    EXPECT_EQ(Py_REFCNT(f.get()), held);

    CaptureOutput capture;
    EXPECT_EQ(setCallbackByRef(&slot, notCallable.get()), nullptr);
    const std::string err = capture.err();
    std::ostringstream line;
    line << "ReferenceError: Object passed as argument is not a callable one\n"
         << " Failed to setCallbackByRef. " << static_cast<const void*>(notCallable.get())
         << " is not a callable object.\n";
    EXPECT_THAT(err, HasSubstr(line.str()));
    EXPECT_EQ(slot, f.get());
    EXPECT_EQ(Py_REFCNT(f.get()), held);
    EXPECT_EQ(Py_REFCNT(notCallable.get()), refusedCount);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    PyRef owned = PyRef::steal(slot);  // the test's slot gives its reference back
}

TEST_F(CallUtils, ARaisingCallIsPrintedAndLeavesNothingPending) {
    ASSERT_TRUE(script.run("import sys\ndef boom():\n    raise ValueError('boom here')\n"));
    PySession::Use use(script.session());
    CaptureOutput capture;
    for (const char* callable : {"boom", "lambda: sys.exit(3)"}) {
        EXPECT_EQ(evalCallback(script.eval(callable).get(), nullptr), nullptr) << callable;
        EXPECT_EQ(PyErr_Occurred(), nullptr) << callable;
    }
    const std::string err = capture.err();
    EXPECT_THAT(err, HasSubstr("in boom\nValueError: boom here\n"));
    EXPECT_THAT(err, HasSubstr("SystemExit: 3"));
}

TEST_F(CallUtils, AnErrorTextNamesTheOutermostFrameOrNothingForNativeErrors) {
    ASSERT_TRUE(
        script.run("exec(compile('def inner():\\n    raise KeyError(1)\\ndef outer():\\n    return "
                   "inner()\\n',"
                   " 'nested.py', 'exec'))\n"));
    PySession::Use use(script.session());
    EXPECT_FALSE(PyRef::steal(PyObject_CallObject(script.eval("outer").get(), nullptr)));
    EXPECT_EQ(PyError2StdString(PyErr_Occurred()),
              "File \"nested.py\", line 4, in outer\n<class 'KeyError'>: 1");
    EXPECT_EQ(PyErr_Occurred(), nullptr);

    PyErr_SetString(PyExc_ValueError, "native failure");
    EXPECT_EQ(PyError2StdString(nullptr), "");
    EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_ValueError));
    EXPECT_EQ(PyError2StdString(PyErr_Occurred()),
              "File \"\", line -1, in \n<class 'ValueError'>: native failure");
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

TEST(ReplaceAll, DoesNotSearchTheReplacementAgain) {
    EXPECT_EQ(ReplaceAll("aba", "a", "aa"), "aabaa");
    EXPECT_EQ(ReplaceAll("C:\\dir\\x.py", "\\", "/"), "C:/dir/x.py");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

}  // namespace
