// The headless dialogs: one line each on standard output, answers from the queue, from the
// terminal with the interpreter released, or the defaults when nobody can answer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "CaptureOutput.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "QtInterpreter.h"
#include "SessionTestSupport.h"
#include "Watchdog.h"

using namespace interpreter_test;
using namespace std::chrono_literals;

class Dialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session = newSubInterpreterSession(); }
    void SetUp() override {
        QtInterpreterDialogs::clearAnswers();
        QtInterpreterDialogs::setInteractive(false);
    }
    void TearDown() override { QtInterpreterDialogs::clearAnswers(); }

    // The text of a dialog's result, "None" for None; releases the result. Precondition: the
    // session is held.
    static std::string describe(PyObject* result) {
        PyRef owned = PyRef::steal(result);
        if (owned.get() == Py_None) {
            return "None";
        }
        const char* text = PyUnicode_Check(owned.get()) ? PyUnicode_AsUTF8(owned.get()) : nullptr;
        return text != nullptr ? text : "<not a str>";
    }

    static PySession* session;
};

PySession* Dialogs::session = nullptr;

TEST_F(Dialogs, EachDialogPrintsItsLineAndTakesTheNextQueuedAnswer) {
    QtInterpreterDialogs::queueAnswer("2");
    QtInterpreterDialogs::queueAnswer("typed text");
    QtInterpreterDialogs::queueAnswer("/tmp/in.txt");
    QtInterpreterDialogs::queueAnswer("/tmp/out.txt");
    QtInterpreterDialogs::queueAnswer("/tmp");
    PySession::Use use(session);
    CaptureOutput capture;
    int button = messageBox("Proceed?", "Question", 3, 1);
    std::string input = describe(inputBox("Your name", "Name"));
    std::string opened = describe(openFileDialog("Open File", ".", "All Files (*)"));
    std::string saved = describe(saveFileDialog("Save File", "/tmp", "Text (*.txt)"));
    std::string directory = describe(openDirDialog("Open Dir", "."));
    EXPECT_EQ(capture.out(),
              "dialog: messageBox Question: Proceed?\n"
              "dialog: inputBox Name: Your name\n"
              "dialog: openFileDialog Open File: . [All Files (*)]\n"
              "dialog: saveFileDialog Save File: /tmp [Text (*.txt)]\n"
              "dialog: openDirDialog Open Dir: .\n");
    EXPECT_EQ(button, 2);
    EXPECT_EQ(input, "typed text");
    EXPECT_EQ(opened, "/tmp/in.txt");
    EXPECT_EQ(saved, "/tmp/out.txt");
    EXPECT_EQ(directory, "/tmp");
    EXPECT_EQ(QtInterpreterDialogs::pendingAnswers(), 0u);
}

TEST_F(Dialogs, WithNothingQueuedAndNoTerminalAMessageBoxAnswersZeroAndTheOthersNone) {
    PySession::Use use(session);
    Py_ssize_t noneBefore = Py_REFCNT(Py_None);
    CaptureOutput capture;
    EXPECT_EQ(messageBox("text", "caption", 0, 0), 0);
    EXPECT_EQ(describe(inputBox("text", "caption")), "None");
    EXPECT_EQ(describe(openFileDialog("c", ".", "f")), "None");
    EXPECT_EQ(describe(saveFileDialog("c", ".", "f")), "None");
    EXPECT_EQ(describe(openDirDialog("c", ".")), "None");
    capture.stop();
    EXPECT_EQ(Py_REFCNT(Py_None), noneBefore);
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

TEST_F(Dialogs, ACancelledAnswerGivesZeroOrNoneAndANonNumberGivesZero) {
    QtInterpreterDialogs::queueCancel();
    QtInterpreterDialogs::queueCancel();
    QtInterpreterDialogs::queueAnswer("yes");
    QtInterpreterDialogs::queueAnswer(" 7 ");
    PySession::Use use(session);
    CaptureOutput capture;
    EXPECT_EQ(messageBox("t", "c", 0, 0), 0);
    EXPECT_EQ(describe(inputBox("t", "c")), "None");
    EXPECT_EQ(messageBox("t", "c", 0, 0), 0);
    EXPECT_EQ(messageBox("t", "c", 0, 0), 7);
}

TEST_F(Dialogs, AtTheTerminalTheDialogAsksAndReleasesTheInterpreterWhileItWaits) {
    Watchdog watchdog("dialog waiting at the terminal", 30s);
    QtInterpreterDialogs::setInteractive(true);
    int answerPipe[2];
    ASSERT_EQ(pipe(answerPipe), 0);
    int savedInput = dup(STDIN_FILENO);
    dup2(answerPipe[0], STDIN_FILENO);
    close(answerPipe[0]);
    std::atomic<bool> typed{false};
    std::thread typist;
    int button = -1;
    CaptureOutput capture;
    {
        PySession::Use use(session);
        // The typist needs the interpreter before it types: without the release it never does.
        typist = std::thread([&] {
            PySession::Use inner(session);
            typed = write(answerPipe[1], "42\nleft over\n", 13) == 13;
        });
        button = messageBox("Pick", "Terminal", 0, 0);
    }
    capture.stop();
    typist.join();
    char rest[32] = {};
    ssize_t restSize = read(STDIN_FILENO, rest, sizeof rest);
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);
    close(answerPipe[1]);
    EXPECT_TRUE(typed);
    EXPECT_EQ(button, 42);
    EXPECT_EQ(std::string(rest, restSize > 0 ? static_cast<std::size_t>(restSize) : 0),
              "left over\n");
    EXPECT_EQ(capture.out(), "dialog: messageBox Terminal: Pick\nanswer (end of input cancels): ");
}
