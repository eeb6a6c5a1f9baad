// The dialog library (_qtinterpreter). Headless reference implementation: each dialog prints one
// line "dialog: KIND CAPTION: TEXT" on standard output and takes the next queued answer; at an
// interactive terminal with nothing queued it asks there; otherwise a message box answers 0 and
// the other dialogs answer None. While a dialog waits for the terminal it releases the
// interpreter, so background threads of the script's plug-in keep running. A host with a line
// editor of its own lets dialogs read through it (setTerminalAsker).
#pragma once

#include <Python.h>

#include <optional>
#include <string>

#include "ICDPlatform.h"

// Preconditions of the five dialogs: the caller holds an interpreter (the results are Python
// objects). Each returns a new reference: a str, or None when cancelled or unanswered.
QT_INTERP_API int messageBox(const char* text, const char* caption, int buttons, int icon);
QT_INTERP_API PyObject* inputBox(const char* text, const char* caption);
QT_INTERP_API PyObject* openFileDialog(const char* caption, const char* dir, const char* filters);
QT_INTERP_API PyObject* saveFileDialog(const char* caption, const char* dir, const char* filters);
QT_INTERP_API PyObject* openDirDialog(const char* caption, const char* dir);

// The numbers messageBox takes and gives: which buttons it offers, which icon it shows, and which
// button was chosen. Cancelling or closing the box, and a box nobody answers, give ANSWER_NONE.
// This headless library shows neither buttons nor icon and returns the queued number unchanged.
namespace QtInterpreterMessageBox {
constexpr int BUTTONS_OK = 0;
constexpr int BUTTONS_OK_CANCEL = 1;
constexpr int BUTTONS_YES_NO_CANCEL = 2;
constexpr int BUTTONS_YES_NO = 3;
constexpr int ICON_NONE = 0;
constexpr int ICON_INFORMATION = 1;
constexpr int ICON_QUESTION = 2;
constexpr int ICON_WARNING = 3;
constexpr int ICON_CRITICAL = 4;
constexpr int ANSWER_NONE = 0;
constexpr int ANSWER_OK = 1;
constexpr int ANSWER_YES = 1;
constexpr int ANSWER_NO = 2;
}  // namespace QtInterpreterMessageBox

namespace QtInterpreterDialogs {

// Queue of answers, consumed oldest first, shared by every dialog of the process (thread-safe).
// For a message box the answer is read as an integer (a non-number counts as 0); for the other
// dialogs it is the text; a cancelled answer gives 0 or None.
QT_INTERP_API void queueAnswer(const std::string& answer);
QT_INTERP_API void queueCancel();
QT_INTERP_API void clearAnswers();
QT_INTERP_API std::size_t pendingAnswers();
// Whether an empty queue may ask on the terminal (default: standard input is a terminal). There
// the dialog prompts "answer (end of input cancels): " on standard output and reads one line from
// standard input, nothing beyond it.
QT_INTERP_API void setInteractive(bool interactive);

// A dialog waiting for an answer typed at the terminal.
struct DialogRequest {
    std::string kind;  // messageBox, inputBox, openFileDialog, saveFileDialog, openDirDialog
    std::string caption;
    std::string text;  // a file dialog: its folder and filters
    int buttons = 0;   // a message box's button and icon flags, as the script gave them
    int icon = 0;
    std::string line;  // "dialog: KIND CAPTION: TEXT", which the asker prints (see below)
};
// Reads the answer of `request` at the terminal: the line typed, or nothing for a cancel (end of
// input). It first prints `request.line` on standard output, once it owns the terminal, so that
// the line never lands inside a prompt being drawn (every other dialog prints it itself). Called
// on the thread that opened the dialog, with no interpreter held and no lock of this library
// held; it may block until the person answers.
using TerminalAsker = std::optional<std::string> (*)(const DialogRequest& request);
// A host that reads the terminal itself (a line editor) sets the function through which dialogs
// ask there, so that one reader owns the terminal; null goes back to reading standard input
// directly. Thread-safe.
QT_INTERP_API void setTerminalAsker(TerminalAsker asker);

}  // namespace QtInterpreterDialogs
