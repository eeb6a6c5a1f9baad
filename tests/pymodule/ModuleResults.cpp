// What module functions hand back, called from native code as the interpreter calls them: never
// null, never an error left pending, always a reference of the caller's own.
#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "QtInterpreter.h"
#include "ScriptFixture.h"

namespace {

struct Call {
    const char* function;
    const char* args;  // a Python tuple expression; ID and KEY are the script's own
};

void PrintTo(const Call& call, std::ostream* out) {
    *out << call.function << call.args;
}

class ModuleResults : public ::testing::TestWithParam<Call> {
protected:
    static void SetUpTestSuite() {
        QtInterpreterDialogs::setInteractive(false);
        script = new ScriptFixture();
        script->attachHandler();
        script->handler()->addMessage("NAV", false)->addField("alt", 505);
        script->run(
            "pp.addSimpleAction(ID, 1, 'Check', pp.ACTION_TYPE_CHECKABLE)\n"
            "def noop(*a):\n    return True\n");
    }
    static void TearDownTestSuite() {
        delete script;
        script = nullptr;
    }
    static ScriptFixture* script;
};

ScriptFixture* ModuleResults::script = nullptr;

TEST_P(ModuleResults, AreNeverNullAndLeaveNoErrorPending) {
    const Call& call = GetParam();
    CaptureOutput capture;
    PySession::Use use(script->session());
    PyRef function = PyRef::steal(PyObject_GetAttrString(script->module(), call.function));
    PyRef args = script->eval(call.args);
    ASSERT_TRUE(function);
    ASSERT_TRUE(args);

    PyRef result = PyRef::steal(PyObject_CallObject(function.get(), args.get()));
    const bool pending = PyErr_Occurred() != nullptr;
    PyErr_Clear();
    capture.stop();

    EXPECT_TRUE(result) << capture.err();
    EXPECT_FALSE(pending);
}

// Each function with good arguments, with an unknown identifier, and with bad arguments.
INSTANTIATE_TEST_SUITE_P(
    EveryFunction, ModuleResults,
    ::testing::Values(Call{"setStartCallback", "(ID, noop)"}, Call{"setStartCallback", "(ID, 1)"},
                      Call{"setStopCallback", "(ID, noop)"}, Call{"setStopCallback", "()"},
                      Call{"setOnPluginActionCallback", "(ID, noop)"},
                      Call{"setOnPluginActionCallback", "('x', noop)"},
                      Call{"setConsumeICDEventCallback", "(ID, KEY, noop)"},
                      Call{"setConsumeICDEventCallback", "(ID, 'k', noop)"},
                      Call{"setName", "(ID, 'n')"}, Call{"setName", "(ID, 1)"},
                      Call{"addSimpleAction", "(ID, 9, 'a', 1)"},
                      Call{"addSimpleAction", "(ID, 9, 'a', 1, 77)"},
                      Call{"addCallableAction", "(ID, 10, 'c', noop)"},
                      Call{"addCallableAction", "(ID, 10, 'c', noop, 77)"},
                      Call{"setChecked", "(ID, 1, 1)"}, Call{"setChecked", "('x', 1, 1)"},
                      Call{"getChecked", "(ID, 1)"}, Call{"getChecked", "(ID, 555)"},
                      Call{"raiseError", "(ID, KEY, 'm', 1)"}, Call{"raiseError", "(ID, KEY)"},
                      Call{"messageBox", "(ID, 't')"}, Call{"messageBox", "(ID, 't', 'c', 'x')"},
                      Call{"inputBox", "(ID,)"}, Call{"openFileDialog", "(ID,)"},
                      Call{"saveFileDialog", "(ID,)"}, Call{"openDirDialog", "(ID,)"},
                      Call{"openDirDialog", "('x',)"},
                      Call{"commitSingleMessageField", "(ID, KEY, 'NAV', 'alt')"},
                      Call{"commitSingleMessage", "(ID, KEY, 'NAV')"},
                      Call{"sendICDEvent", "(ID, KEY, 3)"}, Call{"sendICDEvent", "(ID, KEY, None)"},
                      Call{"setMessageFieldReserved", "(ID, KEY, 'NAV', 'alt', 1)"},
                      Call{"setEncodingFrom", "(ID, KEY, 'NAV', 'none', None)"},
                      Call{"getEncoderName", "(ID, KEY, 'NAV', 'alt')"},
                      Call{"getEncoderName", "(ID, KEY, 'NAV', 'none')"}));

class ModuleReferences : public ::testing::Test {
protected:
    ScriptFixture script;
};

TEST_F(ModuleReferences, BooleanAndNoneResultsAreReferencesOfTheCallersOwn) {
    ASSERT_TRUE(script.run("pp.addSimpleAction(ID, 1, 'Check', pp.ACTION_TYPE_CHECKABLE)\n"));
    PySession::Use use(script.session());
    PyRef getChecked = PyRef::steal(PyObject_GetAttrString(script.module(), "getChecked"));
    PyRef setName = PyRef::steal(PyObject_GetAttrString(script.module(), "setName"));
    PyRef known = PyRef::steal(Py_BuildValue("(si)", script.identifier().c_str(), 1));
    PyRef naming = PyRef::steal(Py_BuildValue("(ss)", script.identifier().c_str(), "n"));
    if (isImmortal(Py_False) || isImmortal(Py_None)) {
        GTEST_SKIP() << "None and False are immortal in this Python";
    }
    const Py_ssize_t falseBefore = Py_REFCNT(Py_False);
    const Py_ssize_t noneBefore = Py_REFCNT(Py_None);

    {
        PyRef checked = PyRef::steal(PyObject_CallObject(getChecked.get(), known.get()));
        PyRef named = PyRef::steal(PyObject_CallObject(setName.get(), naming.get()));
        EXPECT_EQ(checked.get(), Py_False);
        EXPECT_EQ(named.get(), Py_None);
        EXPECT_EQ(Py_REFCNT(Py_False), falseBefore + 1);
        EXPECT_EQ(Py_REFCNT(Py_None), noneBefore + 1);
    }
    EXPECT_EQ(Py_REFCNT(Py_False), falseBefore);
    EXPECT_EQ(Py_REFCNT(Py_None), noneBefore);
}

TEST_F(ModuleReferences, StoredCallablesHoldExactlyOneReference) {
    ASSERT_TRUE(
        script.run("import sys\ndef cb(*a):\n    return True\n"
                   "base = sys.getrefcount(cb)\n"
                   "for _ in range(5):\n"
                   "    pp.setStartCallback(ID, cb)\n"
                   "    pp.setStopCallback(ID, cb)\n"
                   "    pp.setOnPluginActionCallback(ID, cb)\n"
                   "after = sys.getrefcount(cb)\n"
                   "pp.setStartCallback(ID, print)\n"
                   "released = sys.getrefcount(cb)\n"));
    EXPECT_EQ(script.number("after - base"), 3);
    EXPECT_EQ(script.number("released - base"), 2);
}

}  // namespace
