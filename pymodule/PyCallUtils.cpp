// Python call utilities shared by the registry, the module, the bridges, the actions and the
// transcoders.
#include "pymodule/PyCallUtils.h"

#include <cstring>
#include <iostream>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "PyText.h"
#include "plugin/ScriptErrors.h"
#include "PrintLine.h"

namespace {

std::string strOf(PyObject* object) {
    if (object == nullptr) {
        return std::string();
    }
    PyRef text = PyRef::steal(PyObject_Str(object));
    if (!text) {
        PyErr_Clear();
        return std::string();
    }
    return pytext::utf8Text(text.get());
}

std::string reprOf(PyObject* object) {
    if (object == nullptr) {
        return std::string();
    }
    PyRef text = PyRef::steal(PyObject_Repr(object));
    if (!text) {
        PyErr_Clear();
        return std::string();
    }
    return pytext::utf8Text(text.get());
}

// An attribute as a new reference, or empty (the lookup error cleared).
PyRef attributeOf(PyObject* object, const char* name) {
    if (object == nullptr) {
        return PyRef();
    }
    PyRef attribute = PyRef::steal(PyObject_GetAttrString(object, name));
    if (!attribute) {
        PyErr_Clear();
    }
    return attribute;
}

}  // namespace

PyObject* setCallbackByRef(PyObject** slot, PyObject* candidate) {
    if (candidate == nullptr || !PyCallable_Check(candidate)) {
        PyErr_SetString(PyExc_ReferenceError, "Object passed as argument is not a callable one");
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
        ppp_output::printLine(std::cerr, " Failed to setCallbackByRef. ",
                              static_cast<const void*>(candidate), " is not a callable object.");
        return nullptr;
    }
    // The new reference is taken before the old one goes, so storing the object the slot
    // already holds keeps it alive and its count unchanged.
    Py_INCREF(candidate);
    PyObject* previous = *slot;
    *slot = candidate;
    Py_XDECREF(previous);
    Py_RETURN_NONE;
}

PyObject* setCallbackByRef(PyObject** slot, PySession** sessionSlot, PyObject* candidate) {
    PyObject* stored = nullptr;
    PyRef accepted = PyRef::steal(setCallbackByRef(&stored, candidate));
    if (!accepted) {
        return nullptr;
    }
    PySession* registering = PySession::current();
    PyObject* previous = *slot;
    PySession* previousSession = *sessionSlot;
    *slot = stored;
    *sessionSlot = registering;
    releaseInSession(previousSession, previous);
    return accepted.release();
}

void releaseInSession(PySession* session, PyObject* object) {
    if (object == nullptr) {
        return;
    }
    PySession::Use use(session);
    PyRef released = PyRef::steal(object);
}

PyObject* evalCallback(PyObject* callable, PyObject* args) {
    if (callable == nullptr) {
        return nullptr;
    }
    PyRef result = PyRef::steal(PyObject_CallObject(callable, args));
    if (PyErr_Occurred() != nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
        return nullptr;
    }
    return result.release();
}

std::string PyError2StdString(PyObject* type) {
    std::string text;
    if (type == nullptr) {
        return text;
    }
    pycompat::TakenError error;
    if (error.value() == nullptr) {
        PyErr_Clear();
        return text;
    }
    PyObject* traceback = error.traceback();  // borrowed from error

    const std::string valueText = strOf(error.value());
    const std::string typeText = reprOf(error.type());

    // Only the first entry of the traceback: the outermost frame, listed first by the
    // interpreter. Read through attributes, which every supported version computes the same way.
    std::string fileText;
    std::string functionText;
    long line = -1;
    if (traceback != nullptr && traceback != Py_None) {
        PyRef lineNumber = attributeOf(traceback, "tb_lineno");
        if (lineNumber && PyLong_Check(lineNumber.get())) {
            line = PyLong_AsLong(lineNumber.get());
            if (line == -1 && PyErr_Occurred() != nullptr) {
                PyErr_Clear();
            }
        }
        PyRef frame = attributeOf(traceback, "tb_frame");
        PyRef code = attributeOf(frame.get(), "f_code");
        if (code) {
            PyRef fileName = attributeOf(code.get(), "co_filename");
            PyRef functionName = attributeOf(code.get(), "co_name");
            if (fileName) {
                fileText = strOf(fileName.get());
            }
            if (functionName) {
                functionText = strOf(functionName.get());
            }
        }
    }

    text = "File \"" + fileText + "\", line " + std::to_string(line) + ", in " + functionText +
           "\n" + typeText + ": " + valueText;
    PyErr_Clear();
    return text;
}

PyObject* stringListToPyTuple(std::vector<std::string> list) {
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(list.size())));
    if (!tuple) {
        return nullptr;
    }
    for (std::size_t index = 0; index < list.size(); ++index) {
        const char* data = list[index].c_str();
        PyObject* item = PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(std::strlen(data)),
                                              "replace");  // new reference
        if (item == nullptr) {
            // Only a failed allocation gets here; the item becomes the empty text.
            PyErr_Clear();
            item = PyUnicode_FromString("");
            if (item == nullptr) {
                return nullptr;
            }
        }
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(index), item);  // steals `item`
    }
    return tuple.release();
}

std::string ReplaceAll(std::string subject, const std::string& search,
                       const std::string& replacement) {
    if (search.empty()) {
        return subject;
    }
    std::size_t position = 0;
    while ((position = subject.find(search, position)) != std::string::npos) {
        subject.replace(position, search.size(), replacement);
        position += replacement.size();
    }
    return subject;
}
