// Text of a Python exception as the interpreter itself would print it.
#include "ErrorText.h"

#include "PyCompat.h"
#include "PyRef.h"
#include "PyText.h"

namespace interpreter_detail {

namespace {

std::string formatted(PyObject* type, PyObject* value, PyObject* traceback) {
    PyRef module = PyRef::steal(PyImport_ImportModule("traceback"));
    if (!module) {
        return std::string();
    }
    PyRef lines = PyRef::steal(PyObject_CallMethod(module.get(), "format_exception", "OOO", type,
                                                   value != nullptr ? value : Py_None,
                                                   traceback != nullptr ? traceback : Py_None));
    if (!lines) {
        return std::string();
    }
    PyRef separator = PyRef::steal(PyUnicode_FromString(""));
    if (!separator) {
        return std::string();
    }
    PyRef joined = PyRef::steal(PyUnicode_Join(separator.get(), lines.get()));
    return pytext::utf8Text(joined.get());
}

// "TYPE: VALUE" when the traceback module cannot format (it failed to import, or raised).
std::string plain(PyObject* type, PyObject* value) {
    std::string text = reinterpret_cast<PyTypeObject*>(type)->tp_name;
    if (value != nullptr) {
        PyRef message = PyRef::steal(PyObject_Str(value));
        std::string detail = pytext::utf8Text(message.get());
        if (!detail.empty()) {
            text += ": " + detail;
        }
    }
    PyErr_Clear();
    return text;
}

}  // namespace

std::string takePendingErrorText() {
    pycompat::TakenError error;
    if (!error) {
        return std::string();
    }
    std::string text = formatted(error.type(), error.value(), error.traceback());
    PyErr_Clear();
    if (text.empty()) {
        text = plain(error.type(), error.value());
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace interpreter_detail
