// Storing callables into slots, the texts made of Python errors, and replacing text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "pymodule/PyCallUtils.h"
#include "tests/plugin/ScriptedPluginSupport.h"

using ::testing::HasSubstr;

using plugintest::ScriptedPlugin;

TEST(CallUtils, StoringTheHeldCallableAgainKeepsItsCountAndARefusedOneChangesNothing) {
    ScriptedPlugin script;
    PySession::Use use(script.plugin->getSession());
    PyRef f = script.value("lambda: 1"), notCallable = script.value("[5]");
    PyObject* slot = nullptr;
    PyRef first = PyRef::steal(setCallbackByRef(&slot, f.get()));
    const Py_ssize_t held = Py_REFCNT(f.get()), refused = Py_REFCNT(notCallable.get());
    PyRef again = PyRef::steal(setCallbackByRef(&slot, f.get()));
    CaptureOutput capture;
    const bool refusedGivesNull = setCallbackByRef(&slot, notCallable.get()) == nullptr;
    const std::string err = capture.err();

    EXPECT_EQ(again.get(), Py_None);
    EXPECT_TRUE(refusedGivesNull);
    std::ostringstream line;
    line << "ReferenceError: Object passed as argument is not a callable one\n"
         << " Failed to setCallbackByRef. " << static_cast<const void*>(notCallable.get())
         << " is not a callable object.\n";
    EXPECT_THAT(err, HasSubstr(line.str()));
    EXPECT_EQ(slot, f.get());
    EXPECT_EQ(Py_REFCNT(f.get()), held);
    EXPECT_EQ(Py_REFCNT(notCallable.get()), refused);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    PyRef owned = PyRef::steal(slot);  // the test's slot gives its reference back
}

TEST(CallUtils, AnErrorTextNamesTheOutermostFrameOrNothingForNativeErrors) {
    ScriptedPlugin script;
    ASSERT_TRUE(
        script.run("exec(compile('def inner():\\n    raise KeyError(1)\\n"
                   "def outer():\\n    return inner()\\n', 'nested.py', 'exec'))"));
    PySession::Use use(script.plugin->getSession());
    EXPECT_FALSE(PyRef::steal(PyObject_CallObject(script.value("outer").get(), nullptr)));
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
