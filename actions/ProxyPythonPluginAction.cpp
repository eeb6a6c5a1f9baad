// A script's callable action: the callable run with the host's dictionary as keyword arguments,
// its docstring as the action's help.
#include "actions/ProxyPythonPluginAction.h"

#include "PyCompat.h"
#include "PyRef.h"
#include "pymodule/PyCallUtils.h"
#include "plugin/ScriptErrors.h"

namespace {
const char* const kNoHelp = "not availlable...";
}

ProxyPythonPluginAction::ProxyPythonPluginAction(unsigned int id, std::string name,
                                                 ICDPluginAction* parent, PyObject* callable)
    : PyPluginAction(id, std::move(name), ACTION_TYPE_NORMAL, ACTION_KIND_DICTIONARY, parent),
      _callable(nullptr),
      _session(PySession::current()) {
    // A refused object is reported by setCallbackByRef and leaves the action without a body.
    PyRef stored = PyRef::steal(setCallbackByRef(&_callable, callable));
}

// Releases nothing and never enters the interpreter: the body's reference lives as long as the
// process.
ProxyPythonPluginAction::~ProxyPythonPluginAction() = default;

std::string ProxyPythonPluginAction::help() {
    std::string text = kNoHelp;
    PySession::Use use(_session);
    if (_callable == nullptr || !PyCallable_Check(_callable)) {
        return text;
    }
    PyRef doc = PyRef::steal(PyObject_GetAttrString(_callable, "__doc__"));
    if (!doc) {
        PyErr_Clear();
        return text;
    }
    if (!PyUnicode_Check(doc.get())) {
        return text;
    }
    PyRef encoded = PyRef::steal(PyUnicode_EncodeLocale(doc.get(), "strict"));
    if (!encoded) {
        PyErr_Clear();
        return text;
    }
    // Up to the first NUL byte, as a C string.
    text = PyBytes_AsString(encoded.get());
    return text;
}

bool ProxyPythonPluginAction::execute(ICDDictionary input, ICDDictionary* output) {
    PySession::Use use(_session);
    if (_callable == nullptr || !PyCallable_Check(_callable)) {
        return false;
    }
    PyRef keywords = PyRef::steal(PyDict_New());
    PyRef noArguments = PyRef::steal(PyTuple_New(0));
    if (!keywords || !noArguments) {
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
        return false;
    }
    fromICDDictionaryToPyDict(input, keywords.get());
    PyRef result = PyRef::steal(PyObject_Call(_callable, noArguments.get(), keywords.get()));
    if (PyErr_Occurred() != nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
        return false;
    }
    if (!result || !PyDict_Check(result.get()) || output == nullptr) {
        return false;
    }
    *output = fromPyDictToICDDictionary(result.get());
    return true;
}

PyObject* ProxyPythonPluginAction::eval(PyObject* args, PyObject* kwargs) {
    // Precondition: `args` and `kwargs` are objects of the body's session; so is the result.
    PySession::Use use(_session);
    if (_callable == nullptr || !PyCallable_Check(_callable)) {
        return nullptr;
    }
    // The call needs a tuple; a caller with no positional arguments may pass null.
    PyRef emptyArguments;
    if (args == nullptr) {
        emptyArguments = PyRef::steal(PyTuple_New(0));
        args = emptyArguments.get();
    }
    PyRef result = PyRef::steal(PyObject_Call(_callable, args, kwargs));
    if (PyErr_Occurred() != nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        pycompat::printPendingError();
        return nullptr;
    }
    // One reference more than the call produced: the interpreter library's action machinery
    // releases one of its own.
    Py_XINCREF(result.get());
    return result.release();
}
