// A Python action's identity, its help text from the body's docstring, and calls through eval.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../pymodule/ScriptFixture.h"
#include "CaptureOutput.h"
#include "actions/ProxyPythonPluginAction.h"

using ::testing::HasSubstr;

namespace {

class PythonAction : public ::testing::Test {
protected:
    ProxyPythonPluginAction* actionOf(const std::string& body, ICDPluginAction* parent = nullptr) {
        PySession::Use use(script.session());
        PyRef callable = script.eval(body);
        EXPECT_TRUE(callable);
        return new ProxyPythonPluginAction(77, "Run", parent, callable.get());
    }
    std::string helpOf(ProxyPythonPluginAction* action) {
        PySession::Use use(script.session());
        return action->help();
    }
    ScriptFixture script;
};

TEST_F(PythonAction, IsANormalDictionaryActionHoldingOneReferenceToItsBody) {
    ASSERT_TRUE(script.run("import sys\ndef body():\n    return {}\n"));
    const long before = script.number("sys.getrefcount(body)");
    ICDPluginAction parent(1, "Menu", ACTION_TYPE_MENU, ACTION_KIND_MENU, nullptr);

    ProxyPythonPluginAction* action = actionOf("body", &parent);

    EXPECT_EQ(action->getId(), 77u);
    EXPECT_EQ(action->getName(), "Run");
    EXPECT_EQ(action->getActionType(), ACTION_TYPE_NORMAL);
    EXPECT_EQ(action->getActionKind(), ACTION_KIND_DICTIONARY);
    EXPECT_EQ(action->getParent(), &parent);
    EXPECT_EQ(script.number("sys.getrefcount(body)"), before + 1);
}

TEST_F(PythonAction, HelpIsTheDocstringUnchanged) {
    // Assigned rather than written in the body: from 3.13 the compiler dedents docstrings.
    ASSERT_TRUE(
        script.run("def documented():\n"
                   "    return {}\n"
                   "documented.__doc__ = 'Scales the gain.\\n\\n    Inputs: gain.'\n"));

    EXPECT_EQ(helpOf(actionOf("documented")), "Scales the gain.\n\n    Inputs: gain.");
}

TEST_F(PythonAction, WithoutAUsableDocstringHelpIsNotAvailable) {
    ASSERT_TRUE(
        script.run("def bare():\n    return {}\n"
                   "class Odd:\n"
                   "    __doc__ = 42\n"
                   "    def __call__(self):\n        return {}\n"));
    CaptureOutput capture;
    ProxyPythonPluginAction* refused = actionOf("3.5");
    capture.stop();

    EXPECT_EQ(helpOf(actionOf("bare")), "not availlable...");
    EXPECT_EQ(helpOf(actionOf("Odd()")), "not availlable...");
    EXPECT_EQ(helpOf(refused), "not availlable...");
}

TEST_F(PythonAction, EvalPassesArgumentsOnAndHandsBackAnExtraReference) {
    ASSERT_TRUE(script.run("def pair(a, b=0):\n    return [a, b]\n"));
    ProxyPythonPluginAction* action = actionOf("pair");
    PySession::Use use(script.session());
    PyRef args = script.eval("(1,)");
    PyRef kwargs = script.eval("{'b': 2}");

    PyObject* result = action->eval(args.get(), kwargs.get());

    ASSERT_NE(result, nullptr);
    EXPECT_EQ(Py_REFCNT(result), 2);  // the call's own reference and the one added for the caller
    PyRef first = PyRef::steal(result);
    PyRef second = PyRef::steal(result);
    EXPECT_EQ(PyList_Size(first.get()), 2);
    EXPECT_EQ(PyLong_AsLong(PyList_GetItem(first.get(), 1)), 2);
}

TEST_F(PythonAction, EvalOfARaisingBodyPrintsAndGivesNull) {
    ASSERT_TRUE(script.run("def broken(*a):\n    raise LookupError('missing')\n"));
    ProxyPythonPluginAction* action = actionOf("broken");
    PySession::Use use(script.session());
    PyRef args = script.eval("()");

    CaptureOutput capture;
    PyObject* result = action->eval(args.get(), nullptr);
    const std::string err = capture.err();

    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_THAT(err, HasSubstr("LookupError: missing"));
}

TEST_F(PythonAction, EvalWithoutABodyGivesNullAndSetsNoError) {
    CaptureOutput capture;
    ProxyPythonPluginAction* action = actionOf("None");
    capture.stop();
    PySession::Use use(script.session());
    PyRef args = script.eval("()");

    PyObject* result = action->eval(args.get(), nullptr);

    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_EQ(action->getCallable(), nullptr);
}

}  // namespace
