// Module functions as the script calls them: refused arguments and identifiers are printed and
// give None with nothing raised into the script; results are references of the caller's own;
// dialogs get their texts in the right order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "QtInterpreter.h"
#include "ScriptFixture.h"

using ::testing::StartsWith;

namespace {

class ModuleFunctions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QtInterpreterDialogs::setInteractive(false);
        script = new ScriptFixture();
        script->attachHandler().handler->addMessage("NAV", false)->addField("alt", 505);
        script->run("pp.addSimpleAction(ID, 1, 'Check', pp.ACTION_TYPE_CHECKABLE)\n");
    }
    static void TearDownTestSuite() { delete script; }
    static ScriptFixture* script;
};
ScriptFixture* ModuleFunctions::script = nullptr;

TEST_F(ModuleFunctions, RefusedCallsPrintOneReportAndGiveNone) {
    const std::pair<const char*, const char*> rows[] = {
        // A text ending in a newline is the whole report; the interpreter's own texts are
        // compared by their start, which does not change between versions.
        {"setStartCallback(ID)", "TypeError: setStartCallback()"},
        {"setStopCallback(ID, print, 1)", "TypeError: setStopCallback()"},
        {"setOnPluginActionCallback(3, print)", "TypeError: setOnPluginActionCallback()"},
        {"setConsumeICDEventCallback(ID, KEY)", "TypeError: setOnConsumeICDEventCallback()"},
        {"setName(ID, 'a\\0b')", "AttributeError: wrong args: must be name [string]\n"},
        {"addSimpleAction(ID, 1, 'name')", "TypeError: addAction()"},
        {"addCallableAction(ID, 1, 'name')", "TypeError: addAction()"},
        {"setChecked(ID, 2**40, 1)", "AttributeError: wrong args: must be id,val [int,boolean]\n"},
        {"getChecked(ID, 'x')", "AttributeError: wrong args: must be id [int]\n"},
        {"raiseError(ID, KEY, 'text')",
         "AttributeError: wrong args: must be msg [string],severity [int]\n"},
        {"messageBox(ID)",
         "AttributeError: wrong args: must be text,[caption,button_flag,"
         "icon_flag] [string,string,int,int]\n"},
        {"inputBox(ID, 1)", "AttributeError: wrong args: must be [caption,text] [string,string]\n"},
        {"openFileDialog(ID, 'a', 'b', 'c', 'd')",
         "AttributeError: wrong args: must be [caption='Open File',dir='.',filters='All Files "
         "(*);; Text (*.txt)'] [string,string,string]\n"},
        {"saveFileDialog(ID, None)",
         "AttributeError: wrong args: must be [caption='Save File',dir='.',filters='All Files "
         "(*);; Text (*.txt)'] [string,string]\n"},
        {"openDirDialog()",
         "AttributeError: wrong args: must be [caption='Open Dir',dir='.'] [string,string]\n"},
        {"commitSingleMessageField(ID, KEY, 'M')", "TypeError: commitSingleMessageField()"},
        {"commitSingleMessage(ID, KEY)", "TypeError: commitSingleMessage()"},
        {"sendICDEvent(ID, KEY, 'five')",
         "AttributeError: wrong args: must be arg_event_id [int]\n"},
        {"setMessageFieldReserved(ID, KEY, 'M', 'F')",
         "AttributeError: wrong args: must be msg,field,flag [string,string,boolean]\n"},
        {"setEncodingFrom(ID, KEY, 'M', 'F')",
         "AttributeError: wrong args: must be msg,field,encoder [string,string,object]\n"},
        {"getEncoderName(ID, KEY, 'M')",
         "AttributeError: wrong args: must be msg,field [string,string]\n"},
        {"getChecked('x', 1)", "RuntimeError: no proxyinterface found\n"},
        {"sendICDEvent('x', 'ffff', 1)", "RuntimeError: no proxyinterface found\n"},
        {"setStartCallback('x', print)", ""},  // the callback setters ignore it silently
        {"commitSingleMessage(ID, 'ffff', 'M')", "RuntimeError: no proxyHandlderinterface found\n"},
    };
    for (const auto& [call, report] : rows) {
        CaptureOutput capture;
        ASSERT_TRUE(script->run(std::string("r = pp.") + call + "\nassert r is None\n")) << call;
        const std::string err = capture.err();
        const std::string expected = report;
        if (expected.empty() || expected.back() == '\n') {
            EXPECT_EQ(err, expected) << call;
        } else {
            EXPECT_THAT(err, StartsWith(expected)) << call;
        }
    }
}

TEST_F(ModuleFunctions, ResultsAreNewReferencesAndNothingIsLeftPending) {
    const std::pair<const char*, const char*> rows[] = {
        {"getChecked", "(ID, 1)"},
        {"getChecked", "(ID, 555)"},
        {"setName", "(ID, 'n')"},
        {"commitSingleMessage", "(ID, KEY, 'NAV')"},
        {"inputBox", "(ID,)"},
        {"messageBox", "(ID, 't')"},
        {"sendICDEvent", "(ID, KEY, None)"},
        {"getEncoderName", "(ID, KEY, 'NAV', 'alt')"},
    };
    // What each call gave, checked once the output is no longer captured (a failure message
    // printed while it is would be lost with the capture).
    struct Outcome {
        std::string call;
        bool returned = false;
        bool pending = false;
        bool singleton = false;
        Py_ssize_t references = 0;  // the result's own, or those a None/True/False result added
    };
    std::vector<Outcome> outcomes;
    {
        CaptureOutput capture;
        PySession::Use use(script->session());
        for (const auto& [function, args] : rows) {
            Outcome outcome{std::string(function) + args};
            PyRef callable = PyRef::steal(PyObject_GetAttrString(script->module(), function));
            PyRef arguments = script->eval(args);
            auto call = [&] {
                QtInterpreterDialogs::queueAnswer("70000");
                PyRef result = PyRef::steal(PyObject_CallObject(callable.get(), arguments.get()));
                QtInterpreterDialogs::clearAnswers();
                return result;
            };
            PyRef result = call();
            outcome.returned = bool(result);
            outcome.pending = PyErr_Occurred() != nullptr;
            PyErr_Clear();
            PyObject* r = result.get();
            outcome.singleton = r == Py_None || r == Py_True || r == Py_False;
            if (outcome.singleton && Py_REFCNT(r) < (1 << 28)) {
                // The singletons' counts also move with whatever else the call creates and frees
                // (a report replaces sys.last_*; writing it lets other threads run): kept results
                // of many calls tell a new reference from a borrowed or doubled one all the same.
                constexpr Py_ssize_t calls = 200;
                std::vector<PyRef> kept;
                const Py_ssize_t before = Py_REFCNT(r);
                for (Py_ssize_t i = 0; i < calls; ++i) {
                    kept.push_back(call());
                }
                PyErr_Clear();
                outcome.references = (Py_REFCNT(r) - before + calls / 2) / calls;
            } else if (r != nullptr) {
                // Immortal singletons (3.12 on) keep a count that never moves.
                outcome.references = outcome.singleton ? 1 : Py_REFCNT(r);
            }
            outcomes.push_back(outcome);
        }
    }
    for (const Outcome& outcome : outcomes) {
        EXPECT_TRUE(outcome.returned) << outcome.call;
        EXPECT_FALSE(outcome.pending) << outcome.call;
        EXPECT_EQ(outcome.references, 1)
            << outcome.call << (outcome.singleton ? " (singleton)" : "");
    }
}

TEST_F(ModuleFunctions, DialogsGetTheirDefaultsAndInputBoxHandsItsSecondArgumentFirst) {
    const std::pair<const char*, const char*> rows[] = {
        {"openFileDialog(ID)", "dialog: openFileDialog Open File: . [All Files (*)]\n"},
        {"saveFileDialog(ID)", "dialog: saveFileDialog Save File: . [All Files (*)]\n"},
        {"openDirDialog(ID)", "dialog: openDirDialog Open Dir: .\n"},
        {"openFileDialog(ID, 'Pick', '/etc', 'ICD (*.xml)')",
         "dialog: openFileDialog Pick: /etc [ICD (*.xml)]\n"},
        // The library prints caption then text: (text, caption) = (second, first).
        {"inputBox(ID, 'first', 'second')", "dialog: inputBox first: second\n"},
        {"inputBox(ID)", "dialog: inputBox : \n"},
        {"messageBox(ID, 'Sure?', 'Confirm', 3, 2)", "dialog: messageBox Confirm: Sure?\n"},
    };
    for (const auto& [call, line] : rows) {
        QtInterpreterDialogs::queueAnswer("42");
        CaptureOutput capture;
        ASSERT_TRUE(script->run(std::string("r = pp.") + call + "\n"));
        EXPECT_EQ(capture.out(), line) << call;
        EXPECT_EQ(capture.err(), "") << call;
        EXPECT_EQ(script->text("repr(r)"), call[0] == 'm' ? "42" : "'42'") << call;
    }
}

TEST(ModuleLookups, AnotherPluginsIdentifierOrKeyActsOnThatPlugin) {
    ScriptFixture mine;
    ScriptFixture theirs;
    mine.attachHandler("MINE");
    ICDHandler* theirHandler = theirs.attachHandler("THEIRS").handler;
    ASSERT_TRUE(mine.run("pp.setName('" + theirs.identifier() + "', 'renamed from outside')\n" +
                         "r = pp.raiseError(ID, '" + theirs.text("KEY") + "', 'neighbour', 2)\n"));
    EXPECT_EQ(theirs.registry().getName(), "renamed from outside");
    EXPECT_EQ(mine.registry().getName(), mine.identifier());
    EXPECT_EQ(mine.text("r"), "True");
    ASSERT_EQ(theirHandler->errors().size(), 1u);
    EXPECT_EQ(theirHandler->errors()[0].text, "neighbour");
}

}  // namespace
