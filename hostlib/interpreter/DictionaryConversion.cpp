// Conversion between the host's dictionaries and Python dicts, in both directions.
#include <string>
#include <type_traits>
#include <variant>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"

namespace {

PyRef toPython(const ICDDictionary::Value& value) {
    return std::visit(
        [](const auto& held) -> PyRef {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, bool>) {
                return PyRef::steal(PyBool_FromLong(held ? 1 : 0));
            } else if constexpr (std::is_same_v<T, long>) {
                return PyRef::steal(PyLong_FromLong(held));
            } else if constexpr (std::is_same_v<T, double>) {
                return PyRef::steal(PyFloat_FromDouble(held));
            } else {
                return PyRef::steal(PyUnicode_DecodeUTF8(
                    held.data(), static_cast<Py_ssize_t>(held.size()), "replace"));
            }
        },
        value);
}

// UTF-8 of a str, or of str(object) for anything else. False, with an error pending, when str()
// raises or the text holds characters UTF-8 cannot carry (lone surrogates).
bool textOf(PyObject* object, std::string& text) {
    PyRef converted;
    if (!PyUnicode_Check(object)) {
        converted = PyRef::steal(PyObject_Str(object));
        if (!converted) {
            return false;
        }
        object = converted.get();
    }
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(object, &size);  // borrowed from the str
    if (bytes == nullptr) {
        return false;
    }
    text.assign(bytes, static_cast<std::size_t>(size));
    return true;
}

// False, with an error pending, when the value cannot be converted.
bool store(ICDDictionary& dictionary, const std::string& key, PyObject* value) {
    // bool before int: True and False are ints too.
    if (PyBool_Check(value)) {
        dictionary.setBoolean(key, value == Py_True);
        return true;
    }
    if (PyLong_Check(value)) {
        int overflow = 0;
        long number = PyLong_AsLongAndOverflow(value, &overflow);
        if (overflow != 0) {
            PyRef decimal = PyRef::steal(PyNumber_ToBase(value, 10));
            std::string text;
            if (!decimal || !textOf(decimal.get(), text)) {
                return false;
            }
            dictionary.setString(key, text);
            return true;
        }
        if (number == -1 && PyErr_Occurred()) {
            return false;
        }
        dictionary.setLong(key, number);
        return true;
    }
    if (PyFloat_Check(value)) {
        dictionary.setDouble(key, PyFloat_AS_DOUBLE(value));
        return true;
    }
    std::string text;
    if (!textOf(value, text)) {
        return false;
    }
    dictionary.setString(key, text);
    return true;
}

}  // namespace

void fromICDDictionaryToPyDict(ICDDictionary dictionary, PyObject* pyDict) {
    if (pyDict == nullptr || !PyDict_Check(pyDict)) {
        return;
    }
    for (const auto& [key, value] : dictionary.values()) {
        PyRef pyKey = PyRef::steal(
            PyUnicode_DecodeUTF8(key.data(), static_cast<Py_ssize_t>(key.size()), "replace"));
        PyRef pyValue = toPython(value);
        if (!pyKey || !pyValue || PyDict_SetItem(pyDict, pyKey.get(), pyValue.get()) != 0) {
            PyErr_Clear();
        }
    }
}

ICDDictionary fromPyDictToICDDictionary(PyObject* pyDict) {
    ICDDictionary dictionary;
    if (pyDict == nullptr || !PyDict_Check(pyDict)) {
        return dictionary;
    }
    // A snapshot: str() of a key or value may run Python code that changes the dict.
    PyRef items = PyRef::steal(PyDict_Items(pyDict));
    if (!items) {
        PyErr_Clear();
        return dictionary;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);  // borrowed (key, value) tuple
        std::string key;
        if (!textOf(PyTuple_GET_ITEM(item, 0), key) ||
            !store(dictionary, key, PyTuple_GET_ITEM(item, 1))) {
            // The entry is dropped, the script told why; the other entries are kept.
            pycompat::printPendingError();
        }
    }
    return dictionary;
}
