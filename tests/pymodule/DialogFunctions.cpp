// Dialog functions: defaults, the order in which texts reach the dialog library, and the results.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "QtInterpreter.h"
#include "ScriptFixture.h"

namespace {

class DialogFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        QtInterpreterDialogs::setInteractive(false);
        QtInterpreterDialogs::clearAnswers();
    }
    void TearDown() override { QtInterpreterDialogs::clearAnswers(); }

    // Runs `call` with `answer` queued; returns the dialog lines printed and the repr of the
    // result.
    std::pair<std::string, std::string> ask(const std::string& call, const std::string& answer) {
        QtInterpreterDialogs::queueAnswer(answer);
        CaptureOutput capture;
        EXPECT_TRUE(script.run("r = " + call + "\n"));
        const std::string out = capture.out();
        EXPECT_EQ(capture.err(), "");
        return {out, script.text("repr(r)")};
    }
    ScriptFixture script;
};

TEST_F(DialogFunctions, OpenFileDefaultsToOpenFileHereAndAllFiles) {
    auto [lines, result] = ask("pp.openFileDialog(ID)", "/tmp/a.icd");
    EXPECT_EQ(lines, "dialog: openFileDialog Open File: . [All Files (*)]\n");
    EXPECT_EQ(result, "'/tmp/a.icd'");
}

TEST_F(DialogFunctions, SaveFileDefaultsToSaveFileHereAndAllFiles) {
    auto [lines, result] = ask("pp.saveFileDialog(ID)", "out.txt");
    EXPECT_EQ(lines, "dialog: saveFileDialog Save File: . [All Files (*)]\n");
    EXPECT_EQ(result, "'out.txt'");
}

TEST_F(DialogFunctions, OpenDirDefaultsToOpenDirHere) {
    auto [lines, result] = ask("pp.openDirDialog(ID)", "/data");
    EXPECT_EQ(lines, "dialog: openDirDialog Open Dir: .\n");
    EXPECT_EQ(result, "'/data'");
}

TEST_F(DialogFunctions, GivenArgumentsReplaceTheDefaultsInOrder) {
    EXPECT_EQ(ask("pp.openFileDialog(ID, 'Pick', '/etc', 'ICD (*.xml)')", "x").first,
              "dialog: openFileDialog Pick: /etc [ICD (*.xml)]\n");
    EXPECT_EQ(ask("pp.saveFileDialog(ID, 'Keep')", "x").first,
              "dialog: saveFileDialog Keep: . [All Files (*)]\n");
    EXPECT_EQ(ask("pp.openDirDialog(ID, 'Where', '/var')", "x").first,
              "dialog: openDirDialog Where: /var\n");
}

TEST_F(DialogFunctions, InputBoxHandsItsSecondArgumentFirst) {
    auto [lines, result] = ask("pp.inputBox(ID, 'first', 'second')", "typed");
    // The dialog library prints its caption, then its text: (text, caption) = (second, first).
    EXPECT_EQ(lines, "dialog: inputBox first: second\n");
    EXPECT_EQ(result, "'typed'");
}

TEST_F(DialogFunctions, InputBoxWithoutOptionalArgumentsUsesEmptyTexts) {
    EXPECT_EQ(ask("pp.inputBox(ID)", "v").first, "dialog: inputBox : \n");
}

TEST_F(DialogFunctions, MessageBoxReturnsTheDialogsNumberAsAnInt) {
    auto [lines, result] = ask("pp.messageBox(ID, 'Proceed?')", "4");
    EXPECT_EQ(lines, "dialog: messageBox : Proceed?\n");
    EXPECT_EQ(result, "4");
    EXPECT_TRUE(script.truth("type(r) is int"));
    EXPECT_EQ(ask("pp.messageBox(ID, 'Sure?', 'Confirm', 3, 2)", "1").first,
              "dialog: messageBox Confirm: Sure?\n");
}

TEST_F(DialogFunctions, ACancelledDialogGivesNoneOrZero) {
    QtInterpreterDialogs::queueCancel();
    QtInterpreterDialogs::queueCancel();
    CaptureOutput capture;
    ASSERT_TRUE(script.run("r = (pp.inputBox(ID), pp.messageBox(ID, 'q'))\n"));
    capture.stop();
    EXPECT_EQ(script.text("r"), "(None, 0)");
}

TEST_F(DialogFunctions, TheScriptOwnsTheOnlyReferenceToADialogsText) {
    QtInterpreterDialogs::queueAnswer("only mine");
    CaptureOutput capture;
    PySession::Use use(script.session());
    PyRef function = PyRef::steal(PyObject_GetAttrString(script.module(), "inputBox"));
    PyRef args = PyRef::steal(Py_BuildValue("(s)", script.identifier().c_str()));

    PyRef result = PyRef::steal(PyObject_CallObject(function.get(), args.get()));
    capture.stop();

    ASSERT_TRUE(result);
    EXPECT_STREQ(PyUnicode_AsUTF8(result.get()), "only mine");
    EXPECT_EQ(Py_REFCNT(result.get()), 1);
}

}  // namespace
