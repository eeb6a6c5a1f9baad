// The headless dialogs: one line each on standard output, then the next queued answer or, with a
// cancel queued or nothing queued and no terminal, 0 for a message box and None for the others.

#include <gtest/gtest.h>

#include <string>

#include "CaptureOutput.h"
#include "PyRef.h"
#include "QtInterpreter.h"
#include "SessionTestSupport.h"

using namespace interpreter_test;

namespace {

// Shows the dialog `kind` as a script would and gives its answer as text, "None" for None.
// Precondition: the session is held.
std::string show(const std::string& kind) {
    if (kind == "messageBox") {
        return std::to_string(messageBox("t", "c", 3, 1));
    }
    PyRef owned = PyRef::steal(kind == "inputBox"         ? inputBox("t", "c")
                               : kind == "openFileDialog" ? openFileDialog("c", ".", "f")
                               : kind == "saveFileDialog" ? saveFileDialog("c", "/tmp", "f")
                                                          : openDirDialog("c", "."));
    const char* text = PyUnicode_Check(owned.get()) ? PyUnicode_AsUTF8(owned.get()) : nullptr;
    return owned.get() == Py_None ? "None" : text != nullptr ? text : "<not a str>";
}

}  // namespace

TEST(Dialogs, EachDialogPrintsItsLineAndGivesTheQueuedAnswerOrElseItsDefault) {
    // The line a dialog prints (its first word names it), an answer to queue, the result with that
    // answer queued, and the result with a cancel, or nothing, queued.
    const char* rows[][4] = {
        {"messageBox c: t", "2", "2", "0"},
        {"messageBox c: t", " 7 ", "7", "0"},
        {"messageBox c: t", "yes", "0", "0"},
        {"inputBox c: t", "typed text", "typed text", "None"},
        {"openFileDialog c: . [f]", "/tmp/in.txt", "/tmp/in.txt", "None"},
        {"saveFileDialog c: /tmp [f]", "/tmp/out.txt", "/tmp/out.txt", "None"},
        {"openDirDialog c: .", "/tmp", "/tmp", "None"},
    };
    PySession* session = newSubInterpreterSession();
    QtInterpreterDialogs::setInteractive(false);
    for (const auto& row : rows) {
        for (std::string queue : {"answer", "cancel", "nothing"}) {
            QtInterpreterDialogs::clearAnswers();
            if (queue != "nothing") {
                queue == "answer" ? QtInterpreterDialogs::queueAnswer(row[1])
                                  : QtInterpreterDialogs::queueCancel();
            }
            PySession::Use use(session);
            Py_ssize_t noneBefore = Py_REFCNT(Py_None);
            CaptureOutput capture;
            std::string answer = show(std::string(row[0]).substr(0, std::string(row[0]).find(' ')));
            std::string context = std::string(row[0]) + " with " + queue + " queued";
            EXPECT_EQ(capture.out(), "dialog: " + std::string(row[0]) + "\n") << context;
            EXPECT_EQ(answer, queue == "answer" ? row[2] : row[3]) << context;
            EXPECT_EQ(QtInterpreterDialogs::pendingAnswers(), 0u) << context;
            EXPECT_EQ(PyErr_Occurred(), nullptr) << context;
            EXPECT_EQ(Py_REFCNT(Py_None), noneBefore) << context;
        }
    }
}
