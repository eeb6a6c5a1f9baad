// The host's dialogs as a script calls them: message box, input box and file dialogs answered
// from the answer queue or the terminal.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "DialogAnswers.h"
#include "PyRef.h"
#include "QtInterpreter.h"

using qtinterpreter_detail::DialogAnswer;

namespace {

std::string orEmpty(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

// The answer as a new reference: a str, or None when cancelled or unanswered.
PyObject* textResult(const std::optional<DialogAnswer>& answer) {
    if (answer && !answer->cancelled) {
        PyRef result = PyRef::steal(PyUnicode_DecodeUTF8(
            answer->text.data(), static_cast<Py_ssize_t>(answer->text.size()), "replace"));
        if (result) {
            return result.release();
        }
        PyErr_Clear();
    }
    Py_INCREF(Py_None);
    return Py_None;
}

// An int written in decimal, blanks around allowed; anything else is 0.
int numberOf(const std::string& answer) {
    const char* begin = answer.c_str();
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
        return 0;
    }
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    return *end == '\0' ? static_cast<int>(number) : 0;
}

// The dialog's request, with the line it prints ("dialog: KIND CAPTION: TEXT"); obtainAnswer
// prints it, or hands it to the host's terminal asker to print once that owns the terminal.
QtInterpreterDialogs::DialogRequest announce(const char* kind, const char* caption,
                                             const std::string& text) {
    QtInterpreterDialogs::DialogRequest request;
    request.kind = kind;
    request.caption = orEmpty(caption);
    request.text = text;
    request.line = "dialog: " + request.kind + " " + request.caption + ": " + request.text;
    return request;
}

PyObject* fileDialog(const char* kind, const char* caption, const char* dir, const char* filters) {
    return textResult(qtinterpreter_detail::obtainAnswer(
        announce(kind, caption, orEmpty(dir) + " [" + orEmpty(filters) + "]")));
}

}  // namespace

int messageBox(const char* text, const char* caption, int buttons, int icon) {
    QtInterpreterDialogs::DialogRequest request = announce("messageBox", caption, orEmpty(text));
    request.buttons = buttons;
    request.icon = icon;
    std::optional<DialogAnswer> answer = qtinterpreter_detail::obtainAnswer(request);
    if (!answer || answer->cancelled) {
        return 0;
    }
    return numberOf(answer->text);
}

PyObject* inputBox(const char* text, const char* caption) {
    return textResult(
        qtinterpreter_detail::obtainAnswer(announce("inputBox", caption, orEmpty(text))));
}

PyObject* openFileDialog(const char* caption, const char* dir, const char* filters) {
    return fileDialog("openFileDialog", caption, dir, filters);
}

PyObject* saveFileDialog(const char* caption, const char* dir, const char* filters) {
    return fileDialog("saveFileDialog", caption, dir, filters);
}

PyObject* openDirDialog(const char* caption, const char* dir) {
    return textResult(
        qtinterpreter_detail::obtainAnswer(announce("openDirDialog", caption, orEmpty(dir))));
}
