// A Python action: host inputs bind as keyword arguments, a dict result replaces the outputs, its
// help is the body's docstring, and eval calls the body.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "../plugin/ScriptedPluginSupport.h"
#include "actions/ProxyPythonPluginAction.h"

using ::testing::HasSubstr;

class PythonAction : public ::testing::Test {
protected:
    // Precondition: the session is held.
    ProxyPythonPluginAction* actionOf(const std::string& body) {
        actions.push_back(std::make_unique<ProxyPythonPluginAction>(50, "body", nullptr,
                                                                    script.value(body).get()));
        return actions.back().get();
    }
    plugintest::ScriptedPlugin script;
    // Deleting an action releases nothing of Python's: the test's actions go with the test.
    std::vector<std::unique_ptr<ProxyPythonPluginAction>> actions;
};

TEST_F(PythonAction, InputsBindAsKeywordsAndADictResultReplacesTheOutputsOrTheyAreKept) {
    ASSERT_TRUE(script.run("def add(a, b):\n    return {'sum': a + b, 'label': 'x%d' % a}"));
    ICDDictionary two, stray;
    two.setLong("a", 2);
    two.setLong("b", 40);
    stray.setLong("stray", 2);
    // A body, its input, whether it succeeds and the outputs it leaves from old=1.
    const std::tuple<const char*, ICDDictionary, bool, std::map<std::string, ICDDictionary::Value>>
        rows[] = {
            {"add", two, true, {{"sum", 42L}, {"label", std::string("x2")}}},
            {"lambda: {}", ICDDictionary(), true, {}},
            {"lambda a=1: {'a': a}", stray, false, {{"old", 1L}}},
            {"lambda: None", ICDDictionary(), false, {{"old", 1L}}},
        };
    std::vector<std::pair<bool, ICDDictionary>> outcomes;
    std::vector<bool> pending;
    CaptureOutput capture;
    {
        PySession::Use use(script.plugin->getSession());
        for (const auto& [body, input, done, values] : rows) {
            ICDDictionary output;
            output.setLong("old", 1);
            outcomes.emplace_back(actionOf(body)->execute(input, &output), output);
            pending.push_back(PyErr_Occurred() != nullptr);
        }
    }
    const std::string err = capture.err();
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].first, std::get<2>(rows[i])) << std::get<0>(rows[i]);
        EXPECT_EQ(outcomes[i].second.values(), std::get<3>(rows[i])) << std::get<0>(rows[i]);
        EXPECT_FALSE(pending[i]) << std::get<0>(rows[i]);
    }
    // The stray key is reported; a None result prints nothing.
    EXPECT_THAT(err, HasSubstr("TypeError"));
    EXPECT_THAT(err, HasSubstr("stray"));
    EXPECT_EQ(err.find("TypeError"), err.rfind("TypeError"));
}

TEST_F(PythonAction, HelpIsTheDocstringUnchangedOrNotAvailableAndANonCallableBodyGivesNull) {
    // Assigned rather than written in the body: from 3.13 the compiler dedents docstrings.
    ASSERT_TRUE(
        script.run("def doc():\n    return {}\n"
                   "doc.__doc__ = 'Scales the gain.\\n\\n    Inputs: gain.'\n"
                   "class Odd:\n    __doc__ = 42\n    def __call__(self):\n        pass"));
    std::vector<std::string> helps;
    bool nullAndNothingPending = false;
    CaptureOutput capture;
    {
        PySession::Use use(script.plugin->getSession());
        for (const char* body : {"doc", "lambda: {}", "Odd()", "3.5"}) {
            helps.push_back(actionOf(body)->help());
        }
        PyRef args = script.value("()");
        nullAndNothingPending = actionOf("'not callable'")->eval(args.get(), nullptr) == nullptr &&
                                PyErr_Occurred() == nullptr;
    }
    EXPECT_THAT(capture.err(), HasSubstr(" Failed to setCallbackByRef. 0x"));
    EXPECT_EQ(helps, (std::vector<std::string>{"Scales the gain.\n\n    Inputs: gain.",
                                               "not availlable...", "not availlable...",
                                               "not availlable..."}));
    EXPECT_TRUE(nullAndNothingPending);
}
