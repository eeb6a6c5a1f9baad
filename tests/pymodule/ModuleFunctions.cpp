// Module functions as the script calls them: refused arguments and identifiers are printed and
// give None with nothing raised into the script; results are references of the caller's own;
// dialogs get their texts in the right order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QtInterpreter.h"
#include "tests/plugin/ScriptedPluginSupport.h"

using plugintest::ScriptedPlugin;

#define WRONG_ARGS "AttributeError: wrong args: must be "

TEST(ModuleFunctions, RefusedCallsPrintOneReportAndGiveNone) {
    // A report ending in a newline is the whole text printed; the interpreter's own texts are
    // compared by their start, which does not change between versions.
    const std::pair<const char*, const char*> rows[] = {
        {"setStartCallback(ID)", "TypeError: setStartCallback()"},
        {"setStopCallback(ID, print, 1)", "TypeError: setStopCallback()"},
        {"setOnPluginActionCallback(3, print)", "TypeError: setOnPluginActionCallback()"},
        {"setConsumeICDEventCallback(ID, KEY)", "TypeError: setOnConsumeICDEventCallback()"},
        {"setName(ID, 'a\\0b')", WRONG_ARGS "name [string]\n"},
        {"addSimpleAction(ID, 1, 'name')", "TypeError: addAction()"},
        {"addCallableAction(ID, 1, 'name')", "TypeError: addAction()"},
        {"setChecked(ID, 2**40, 1)", WRONG_ARGS "id,val [int,boolean]\n"},
        {"getChecked(ID, 'x')", WRONG_ARGS "id [int]\n"},
        {"raiseError(ID, KEY, 'text')", WRONG_ARGS "msg [string],severity [int]\n"},
        {"messageBox(ID)",
         WRONG_ARGS "text,[caption,button_flag,icon_flag] [string,string,int,int]\n"},
        {"inputBox(ID, 1)", WRONG_ARGS "[caption,text] [string,string]\n"},
        {"openFileDialog(ID, 'a', 'b', 'c', 'd')",
         WRONG_ARGS "[caption='Open File',dir='.',filters='All Files (*);; Text (*.txt)'] "
                    "[string,string,string]\n"},
        {"saveFileDialog(ID, None)",
         WRONG_ARGS "[caption='Save File',dir='.',filters='All Files (*);; Text (*.txt)'] "
                    "[string,string]\n"},
        {"openDirDialog()", WRONG_ARGS "[caption='Open Dir',dir='.'] [string,string]\n"},
        {"commitSingleMessageField(ID, KEY, 'M')", "TypeError: commitSingleMessageField()"},
        {"commitSingleMessage(ID, KEY)", "TypeError: commitSingleMessage()"},
        {"sendICDEvent(ID, KEY, 'five')", WRONG_ARGS "arg_event_id [int]\n"},
        {"setMessageFieldReserved(ID, KEY, 'M', 'F')",
         WRONG_ARGS "msg,field,flag [string,string,boolean]\n"},
        {"setEncodingFrom(ID, KEY, 'M', 'F')",
         WRONG_ARGS "msg,field,encoder [string,string,object]\n"},
        {"getEncoderName(ID, KEY, 'M')", WRONG_ARGS "msg,field [string,string]\n"},
        // Identifiers are found by an exact match only.
        {"getChecked('x', 1)", "RuntimeError: no proxyinterface found\n"},
        {"getChecked(ID + ' ', 1)", "RuntimeError: no proxyinterface found\n"},
        {"getChecked(ID[:-1], 1)", "RuntimeError: no proxyinterface found\n"},
        {"getChecked(ID.upper(), 1)", "RuntimeError: no proxyinterface found\n"},
        {"sendICDEvent('x', 'ffff', 1)", "RuntimeError: no proxyinterface found\n"},
        {"setStartCallback('x', print)", ""},  // the callback setters ignore it silently
        {"commitSingleMessage(ID, 'ffff', 'M')", "RuntimeError: no proxyHandlderinterface found\n"},
    };
    ScriptedPlugin script;
    for (const auto& [call, report] : rows) {
        CaptureOutput capture;
        const bool none = script.run(std::string("r = pp.") + call + "\nassert r is None");
        const std::string err = capture.err(), expected = report;
        const bool whole = expected.empty() || expected.back() == '\n';
        EXPECT_TRUE(none) << call << "\n" << err;
        EXPECT_EQ(whole ? err : err.substr(0, expected.size()), expected) << call;
    }
}

TEST(ModuleFunctions, ResultsAreNewReferencesAndNothingIsLeftPending) {
    const std::string calls[] = {"getChecked(ID, 1)",
                                 "getChecked(ID, 555)",
                                 "setName(ID, 'n')",
                                 "commitSingleMessage(ID, KEY, 'STATUS')",
                                 "inputBox(ID)",
                                 "messageBox(ID, 't')",
                                 "sendICDEvent(ID, KEY, None)",
                                 "getEncoderName(ID, KEY, 'STATUS', 'mode')"};
    QtInterpreterDialogs::setInteractive(false);
    ScriptedPlugin script;
    ASSERT_TRUE(script.run("pp.addSimpleAction(ID, 1, 'Check', pp.ACTION_TYPE_CHECKABLE)"));
    // "call: references to the result", compared once the output is no longer captured (a
    // failure message printed while it is would be lost with the capture).
    std::vector<std::string> seen, wanted;
    {
        CaptureOutput capture;
        PySession::Use use(script.plugin->getSession());
        for (const std::string& call : calls) {
            const std::size_t open = call.find('(');
            PyRef function = PyRef::steal(
                PyObject_GetAttrString(script.plugin->getModule(), call.substr(0, open).c_str()));
            PyRef args = script.value(call.substr(open, call.size() - open - 1) + ",)");
            std::vector<PyRef> kept;
            kept.push_back(PyRef::steal(PyObject_CallObject(function.get(), args.get())));
            const bool pending = PyErr_Occurred() != nullptr;
            PyErr_Clear();
            PyObject* r = kept[0].get();
            Py_ssize_t references = r != nullptr ? Py_REFCNT(r) : 0;
            if (references >= (1 << 28)) {
                references = 1;  // immortal (3.12 on): a count that never moves
            } else if (references > 1) {
                // A shared result (None, True, False, a small int) also moves with whatever else
                // the call creates and frees (a report replaces sys.last_*; writing it lets other
                // threads run): the results of many calls, kept, tell a new reference from a
                // borrowed or doubled one all the same.
                for (int i = 0; i < 200; ++i) {
                    kept.push_back(PyRef::steal(PyObject_CallObject(function.get(), args.get())));
                }
                PyErr_Clear();
                references = (Py_REFCNT(r) - references + 100) / 200;
            }
            seen.push_back(call + (pending ? " pending: " : ": ") + std::to_string(references));
            wanted.push_back(call + ": 1");
        }
    }
    EXPECT_EQ(seen, wanted);
}

TEST(ModuleFunctions, DialogsPrintTheirLineAndGiveOneQueuedAnswerOrTheirDefault) {
    // A call, what is queued for it (null: nothing, empty: a cancel), its line and its result. The
    // icdhost tests show each dialog with its defaults; these give them their arguments.
    const char* rows[][4] = {
        {"openFileDialog(ID, 'Pick', '/e', 'I')", "/in", "openFileDialog Pick: /e [I]", "'/in'"},
        {"saveFileDialog(ID, 'Keep', '/t')", "-", "saveFileDialog Keep: /t [All Files (*)]", "'-'"},
        {"openDirDialog(ID, 'Where', '/')", "", "openDirDialog Where: /", "None"},
        // The library prints caption then text: (text, caption) = (second, first).
        {"inputBox(ID, 'first', 'second')", "typed", "inputBox first: second", "'typed'"},
        {"inputBox(ID)", nullptr, "inputBox : ", "None"},
        {"messageBox(ID, 'Sure?', 'Confirm', 3, 2)", " 7 ", "messageBox Confirm: Sure?", "7"}};
    QtInterpreterDialogs::setInteractive(false);
    ScriptedPlugin script;
    for (const auto& [call, queued, line, result] : rows) {
        if (queued != nullptr) {
            *queued ? QtInterpreterDialogs::queueAnswer(queued)
                    : QtInterpreterDialogs::queueCancel();
        }
        CaptureOutput capture;
        script.run(std::string("r = pp.") + call);
        const std::string printed = capture.out() + capture.err();
        // What is printed, the answers left and the result.
        EXPECT_EQ(printed + std::to_string(QtInterpreterDialogs::pendingAnswers()) + " " +
                      script.text("repr(r)"),
                  "dialog: " + std::string(line) + "\n0 " + result)
            << call << " with " << (queued ? queued : "nothing") << " queued";
    }
}

TEST(ModuleFunctions, IdentifiersAreNumberedPerProcessAndAnotherPluginsIdentifierOrKeyActOnIt) {
    ScriptedPlugin mine, theirs;
    // Identifiers are numbered per process.
    const char* number = "ID[len('proxyplugin#'):ID.index('@')]";
    EXPECT_EQ(std::stoi(theirs.text(number)), std::stoi(mine.text(number)) + 1);
    ASSERT_TRUE(mine.run("pp.setName('" + theirs.registry().getIdentifier() + "', 'renamed')\n" +
                         "r = pp.raiseError(ID, '" + theirs.text("KEY") + "', 'neighbour', 2)"));
    EXPECT_EQ(theirs.registry().getName(), "renamed");
    EXPECT_EQ(mine.registry().getName(), mine.registry().getIdentifier());
    EXPECT_EQ(mine.text("r"), "True");
    ASSERT_EQ(theirs.handler->errors().size(), 1u);
    EXPECT_EQ(theirs.handler->errors()[0].text, "neighbour");
}

// The functions take positional arguments only: a keyword argument is refused by the interpreter
// before the function runs, so the TypeError reaches the script, in both modules.
TEST(ModuleFunctions, AKeywordArgumentRaisesTypeErrorIntoTheScriptInBothModules) {
    ScriptedPlugin script;
    ASSERT_TRUE(script.run(R"(
import proxyplugin_ext as ext
raised = []
for call in (lambda: pp.setName(ID, name='n'), lambda: pp.getChecked(ID, action_id=1),
             lambda: ext.getAsUInt(ID, KEY, 'STATUS', field='mode')):
    try:
        call()
    except TypeError as error:
        raised.append(str(error))
)"));
    EXPECT_EQ(script.text("raised"),
              "['setName() takes no keyword arguments', 'getChecked() takes no keyword "
              "arguments', 'getAsUInt() takes no keyword arguments']");
    EXPECT_EQ(script.registry().getName(), script.registry().getIdentifier());
}
