// Python text as UTF-8 for C++: the one conversion the interpreter library, the plug-in library
// and icdhost share. Internal to the project, never installed.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>

#include "PyRef.h"

namespace pytext {

// UTF-8 of a str; characters that UTF-8 cannot carry (lone surrogates) are escaped rather than
// lost. The empty text for null, anything but a str, or a failed allocation. Never leaves an error
// pending. Precondition: the interpreter lock is held.
inline std::string utf8Text(PyObject* text) {
    if (text == nullptr || !PyUnicode_Check(text)) {
        return std::string();
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);  // borrowed buffer of `text`
    if (data != nullptr) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"));
    if (!bytes) {
        PyErr_Clear();
        return std::string();
    }
    return std::string(PyBytes_AS_STRING(bytes.get()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

}  // namespace pytext
