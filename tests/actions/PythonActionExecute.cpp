// Running a Python action with host dictionaries: inputs bind as keyword arguments and a dict
// result replaces the outputs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../pymodule/ScriptFixture.h"
#include "CaptureOutput.h"
#include "actions/ProxyPythonPluginAction.h"

using ::testing::HasSubstr;

namespace {

class PythonActionExecute : public ::testing::Test {
protected:
    // An action whose body is the script expression `body`. Precondition: none held.
    ProxyPythonPluginAction* actionOf(const std::string& body) {
        PySession::Use use(script.session());
        PyRef callable = script.eval(body);
        EXPECT_TRUE(callable);
        return new ProxyPythonPluginAction(50, "body", nullptr, callable.get());
    }
    bool execute(ProxyPythonPluginAction* action, const ICDDictionary& input,
                 ICDDictionary* output) {
        PySession::Use use(script.session());
        const bool done = action->execute(input, output);
        EXPECT_EQ(PyErr_Occurred(), nullptr);
        return done;
    }
    ScriptFixture script;
};

TEST_F(PythonActionExecute, InputKeysBindToParametersOfTheSameName) {
    ASSERT_TRUE(script.run("def add(a, b):\n    return {'sum': a + b, 'label': 'x%d' % a}\n"));
    ProxyPythonPluginAction* action = actionOf("add");
    ICDDictionary input;
    input.setLong("a", 2);
    input.setLong("b", 40);
    ICDDictionary output;

    EXPECT_TRUE(execute(action, input, &output));

    EXPECT_EQ(output.getLong("sum"), 42);
    EXPECT_EQ(output.getString("label"), "x2");
    EXPECT_EQ(output.size(), 2u);
}

TEST_F(PythonActionExecute, AKeywordCollectorReceivesEveryInput) {
    ASSERT_TRUE(
        script.run("def collect(**kw):\n"
                   "    return {'keys': ','.join(sorted(kw)), 'flag': kw['on']}\n"));
    ProxyPythonPluginAction* action = actionOf("collect");
    ICDDictionary input;
    input.setBoolean("on", true);
    input.setDouble("gain", 1.5);
    input.setString("who", "pilot");
    ICDDictionary output;

    EXPECT_TRUE(execute(action, input, &output));

    EXPECT_EQ(output.getString("keys"), "gain,on,who");
    EXPECT_TRUE(output.isBoolean("flag"));
    EXPECT_TRUE(output.getBoolean("flag"));
}

TEST_F(PythonActionExecute, AnInputNamingNoParameterIsPrintedAndFails) {
    ASSERT_TRUE(script.run("def only_a(a):\n    return {'a': a}\n"));
    ProxyPythonPluginAction* action = actionOf("only_a");
    ICDDictionary input;
    input.setLong("a", 1);
    input.setLong("stray", 2);
    ICDDictionary output;
    output.setString("kept", "yes");

    CaptureOutput capture;
    const bool done = execute(action, input, &output);
    const std::string err = capture.err();

    EXPECT_FALSE(done);
    EXPECT_THAT(err, HasSubstr("TypeError"));
    EXPECT_THAT(err, HasSubstr("stray"));
    EXPECT_EQ(output.getString("kept"), "yes");
    EXPECT_EQ(output.size(), 1u);
}

TEST_F(PythonActionExecute, AnEmptyInputCallsTheBodyWithoutArguments) {
    ASSERT_TRUE(script.run("def count(*args, **kw):\n    return {'n': len(args) + len(kw)}\n"));
    ProxyPythonPluginAction* action = actionOf("count");
    ICDDictionary output;

    EXPECT_TRUE(execute(action, ICDDictionary(), &output));

    EXPECT_EQ(output.getLong("n"), 0);
}

TEST_F(PythonActionExecute, AnEmptyDictResultEmptiesTheOutputs) {
    ProxyPythonPluginAction* action = actionOf("lambda: {}");
    ICDDictionary output;
    output.setLong("old", 1);

    EXPECT_TRUE(execute(action, ICDDictionary(), &output));

    EXPECT_TRUE(output.empty());
}

TEST_F(PythonActionExecute, ADictSubclassResultCountsAsADict) {
    ASSERT_TRUE(script.run("import collections\n"));
    ProxyPythonPluginAction* action = actionOf("lambda: collections.OrderedDict(z=1)");
    ICDDictionary output;

    EXPECT_TRUE(execute(action, ICDDictionary(), &output));

    EXPECT_EQ(output.getLong("z"), 1);
}

TEST_F(PythonActionExecute, ANoneOrOtherResultFailsSilentlyAndKeepsTheOutputs) {
    ICDDictionary output;
    output.setLong("old", 1);

    CaptureOutput capture;
    EXPECT_FALSE(execute(actionOf("lambda: None"), ICDDictionary(), &output));
    EXPECT_FALSE(execute(actionOf("lambda: [('a', 1)]"), ICDDictionary(), &output));
    const std::string err = capture.err();

    EXPECT_EQ(err, "");
    EXPECT_EQ(output.getLong("old"), 1);
    EXPECT_EQ(output.size(), 1u);
}

TEST_F(PythonActionExecute, ARaisingBodyIsPrintedAndFails) {
    ASSERT_TRUE(script.run("def broken():\n    raise ArithmeticError('no result')\n"));
    ProxyPythonPluginAction* action = actionOf("broken");
    ICDDictionary output;
    output.setLong("old", 1);

    CaptureOutput capture;
    EXPECT_FALSE(execute(action, ICDDictionary(), &output));
    EXPECT_THAT(capture.err(), HasSubstr("ArithmeticError: no result"));
    EXPECT_EQ(output.getLong("old"), 1);
}

TEST_F(PythonActionExecute, AnActionWithoutBodyFailsWithoutCallingAnything) {
    CaptureOutput capture;
    ProxyPythonPluginAction* action = actionOf("'not callable'");
    const std::string err = capture.err();
    ICDDictionary output;
    output.setLong("old", 1);

    EXPECT_THAT(err, HasSubstr(" Failed to setCallbackByRef. 0x"));
    EXPECT_FALSE(execute(action, ICDDictionary(), &output));
    EXPECT_EQ(output.size(), 1u);
}

}  // namespace
