// A Python action: host inputs bind as keyword arguments, a dict result replaces the outputs, its
// help is the body's docstring, and eval calls the body.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "actions/ProxyPythonPluginAction.h"
#include "tests/plugin/ScriptedPluginSupport.h"

using ::testing::HasSubstr;

class PythonAction : public ::testing::Test {
protected:
    // Preconditions of the helpers: the session is held.
    ProxyPythonPluginAction* actionOf(const std::string& body) {
        actions.push_back(std::make_unique<ProxyPythonPluginAction>(50, "body", nullptr,
                                                                    script.value(body).get()));
        return actions.back().get();
    }
    ICDDictionary host(const std::string& dict) {
        return fromPyDictToICDDictionary(script.value(dict).get());
    }
    std::string repr(const ICDDictionary& dictionary) {
        PyRef dict = PyRef::steal(PyDict_New());
        fromICDDictionaryToPyDict(dictionary, dict.get());
        PyRef text = PyRef::steal(PyObject_Repr(dict.get()));
        return PyUnicode_AsUTF8(text.get());
    }
    plugintest::ScriptedPlugin script;
    // Deleting an action releases nothing of Python's: the test's actions go with the test.
    std::vector<std::unique_ptr<ProxyPythonPluginAction>> actions;
};

TEST_F(PythonAction, InputsBindAsKeywordsAndADictResultReplacesTheOutputsOrTheyAreKept) {
    ASSERT_TRUE(script.run("def add(a, b):\n    return {'sum': a + b, 'label': 'x%d' % a}"));
    // A body, its inputs, and its result with the outputs it leaves of {'old': 1}.
    const char* rows[][3] = {{"add", "{'a': 2, 'b': 40}", "True {'label': 'x2', 'sum': 42}"},
                             {"lambda: {}", "{}", "True {}"},
                             {"lambda a=1: {'a': a}", "{'stray': 2}", "False {'old': 1}"},
                             {"lambda: None", "{}", "False {'old': 1}"}};
    std::vector<std::string> seen, wanted;
    CaptureOutput capture;
    {
        PySession::Use use(script.plugin->getSession());
        for (const auto& [body, input, outcome] : rows) {
            ICDDictionary output = host("{'old': 1}");
            const bool done = actionOf(body)->execute(host(input), &output);
            seen.push_back(body + std::string(done ? ": True " : ": False ") + repr(output) +
                           (PyErr_Occurred() != nullptr ? " pending" : ""));
            wanted.push_back(body + std::string(": ") + outcome);
        }
    }
    const std::string err = capture.err();
    EXPECT_EQ(seen, wanted);
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
