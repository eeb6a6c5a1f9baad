// A Python action: host inputs bind as keyword arguments, a dict result replaces the outputs, its
// help is the body's docstring, and eval calls the body.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "../pymodule/ScriptFixture.h"
#include "CaptureOutput.h"
#include "actions/ProxyPythonPluginAction.h"

using ::testing::HasSubstr;

namespace {

class PythonAction : public ::testing::Test {
protected:
    // Precondition: the session is held.
    ProxyPythonPluginAction* actionOf(const std::string& body) {
        actions.push_back(std::make_unique<ProxyPythonPluginAction>(50, "body", nullptr,
                                                                    script.eval(body).get()));
        return actions.back().get();
    }
    // Runs the action on `input` over outputs holding old=1; returns the result and the outputs.
    std::pair<bool, ICDDictionary> execute(const std::string& body, const ICDDictionary& input) {
        PySession::Use use(script.session());
        ICDDictionary output;
        output.setLong("old", 1);
        const bool done = actionOf(body)->execute(input, &output);
        EXPECT_EQ(PyErr_Occurred(), nullptr);
        return {done, output};
    }
    ScriptFixture script;
    // Deleting an action releases nothing of Python's: the test's actions go with the test.
    std::vector<std::unique_ptr<ProxyPythonPluginAction>> actions;
};

TEST_F(PythonAction, InputsBindAsKeywordsAndADictResultReplacesTheOutputs) {
    ASSERT_TRUE(script.run("def add(a, b):\n    return {'sum': a + b, 'label': 'x%d' % a}\n"));
    ICDDictionary input;
    input.setLong("a", 2);
    input.setLong("b", 40);
    auto [done, output] = execute("add", input);
    EXPECT_TRUE(done);
    EXPECT_EQ(output.getLong("sum"), 42);
    EXPECT_EQ(output.getString("label"), "x2");
    EXPECT_EQ(output.size(), 2u);

    std::tie(done, output) = execute("lambda: {}", ICDDictionary());
    EXPECT_TRUE(done);
    EXPECT_TRUE(output.empty());
}

TEST_F(PythonAction, AKeyNamingNoParameterOrANoneResultFailsAndKeepsTheOutputs) {
    ASSERT_TRUE(script.run("def only_a(a):\n    return {'a': a}\n"));
    ICDDictionary input;
    input.setLong("a", 1);
    input.setLong("stray", 2);
    CaptureOutput capture;
    auto [stray, strayOutput] = execute("only_a", input);
    auto [none, noneOutput] = execute("lambda: None", ICDDictionary());
    const std::string err = capture.err();

    EXPECT_FALSE(stray);
    EXPECT_FALSE(none);
    EXPECT_THAT(err, HasSubstr("TypeError"));
    EXPECT_THAT(err, HasSubstr("stray"));
    EXPECT_EQ(err.find("TypeError"), err.rfind("TypeError"));  // a None result prints nothing
    for (const ICDDictionary& kept : {strayOutput, noneOutput}) {
        EXPECT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept.getLong("old"), 1);
    }
}

TEST_F(PythonAction, HelpIsTheDocstringUnchangedOrNotAvailable) {
    // Assigned rather than written in the body: from 3.13 the compiler dedents docstrings.
    ASSERT_TRUE(
        script.run("def doc():\n    return {}\n"
                   "doc.__doc__ = 'Scales the gain.\\n\\n    Inputs: gain.'\n"
                   "class Odd:\n    __doc__ = 42\n    def __call__(self):\n        pass\n"));
    CaptureOutput capture;
    PySession::Use use(script.session());
    EXPECT_EQ(actionOf("doc")->help(), "Scales the gain.\n\n    Inputs: gain.");
    for (const char* body : {"lambda: {}", "Odd()", "3.5"}) {
        EXPECT_EQ(actionOf(body)->help(), "not availlable...") << body;
    }
}

TEST_F(PythonAction, EvalOfANonCallableBodyGivesNullAndSetsNoError) {
    CaptureOutput capture;
    PySession::Use use(script.session());
    ProxyPythonPluginAction* action = actionOf("'not callable'");
    PyRef args = script.eval("()");

    EXPECT_EQ(action->eval(args.get(), nullptr), nullptr);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_THAT(capture.err(), HasSubstr(" Failed to setCallbackByRef. 0x"));
}

}  // namespace
