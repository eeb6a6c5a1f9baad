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

PyObject* fileDialog(const char* kind, const char* caption, const char* dir, const char* filters) {
    qtinterpreter_detail::printLine(std::string("dialog: ") + kind + " " + orEmpty(caption) + ": " +
                                    orEmpty(dir) + " [" + orEmpty(filters) + "]");
    return textResult(qtinterpreter_detail::obtainAnswer());
}

}  // namespace

int messageBox(const char* text, const char* caption, int buttons, int icon) {
    (void)buttons;
    (void)icon;
    qtinterpreter_detail::printLine("dialog: messageBox " + orEmpty(caption) + ": " +
                                    orEmpty(text));
    std::optional<DialogAnswer> answer = qtinterpreter_detail::obtainAnswer();
    if (!answer || answer->cancelled) {
        return 0;
    }
    return numberOf(answer->text);
}

PyObject* inputBox(const char* text, const char* caption) {
    qtinterpreter_detail::printLine("dialog: inputBox " + orEmpty(caption) + ": " + orEmpty(text));
    return textResult(qtinterpreter_detail::obtainAnswer());
}

PyObject* openFileDialog(const char* caption, const char* dir, const char* filters) {
    return fileDialog("openFileDialog", caption, dir, filters);
}

PyObject* saveFileDialog(const char* caption, const char* dir, const char* filters) {
    return fileDialog("saveFileDialog", caption, dir, filters);
}

PyObject* openDirDialog(const char* caption, const char* dir) {
    qtinterpreter_detail::printLine("dialog: openDirDialog " + orEmpty(caption) + ": " +
                                    orEmpty(dir));
    return textResult(qtinterpreter_detail::obtainAnswer());
}
