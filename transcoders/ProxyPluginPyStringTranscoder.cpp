// Transcoder of text fields: the script object's encode and decode called with text.
#include "ProxyPluginPyStringTranscoder.h"

#include <cstring>
#include <iostream>

#include "PyCompat.h"
#include "pymodule/PyCallUtils.h"
#include "PyRef.h"
#include "plugin/ScriptErrors.h"
#include "PrintLine.h"

ProxyPluginPyStringTranscoder::ProxyPluginPyStringTranscoder(PySession* session, PyObject* object,
                                                             bool alwaysEnterSession,
                                                             bool pythonDriver)
    : ProxyPluginPyBaseTrascoder(session, object, alwaysEnterSession, pythonDriver),
      ICDStringTranscoder("ProxyPluginPyStringTranscoder"),
      _encodeName(methodNameOfSession(session, kEncodeName)),
      _decodeName(methodNameOfSession(session, kDecodeName)) {
    _format = "s";
}

ProxyPluginPyStringTranscoder::~ProxyPluginPyStringTranscoder() = default;

bool ProxyPluginPyStringTranscoder::encode(std::string value, std::string* raw) {
    if (raw == nullptr || !_valid) {
        return false;
    }
    return runInSession([&] { return _transcode("encode", std::move(value), raw); });
}

bool ProxyPluginPyStringTranscoder::decode(std::string raw, std::string* value) {
    if (value == nullptr || !_valid) {
        return false;
    }
    return runInSession([&] { return _transcode("decode", std::move(raw), value); });
}

bool ProxyPluginPyStringTranscoder::_transcode(const char* method, std::string input,
                                               std::string* output) {
    // Looked up by name on every call: a script may rebind the method after installation.
    PyRef result = PyRef::steal(callByName(method, input.c_str()));
    if (PyErr_Occurred()) {
        return errorPath();
    }
    if (!result) {
        _lastError = "ERROR: encode returns none object";
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, _lastError);
        return false;
    }
    std::string converted;
    if (!encodeLocaleUpToNul(result.get(), &converted) || PyErr_Occurred()) {
        return errorPath();
    }
    *output = std::move(converted);
    return true;
}

PyObject* ProxyPluginPyStringTranscoder::callByName(const char* method, const char* input) {
    if (_pyObject == nullptr) {
        PyErr_SetString(PyExc_SystemError, "null argument to internal routine");
        return nullptr;
    }
    PyObject* name = std::strcmp(method, "encode") == 0   ? _encodeName
                     : std::strcmp(method, "decode") == 0 ? _decodeName
                                                          : nullptr;  // borrowed
    PyRef callable = PyRef::steal(name != nullptr ? PyObject_GetAttr(_pyObject, name)
                                                  : PyObject_GetAttrString(_pyObject, method));
    if (!callable) {
        return nullptr;
    }
    if (!PyCallable_Check(callable.get())) {
        PyErr_Format(PyExc_TypeError, "attribute of type '%.200s' is not callable",
                     Py_TYPE(callable.get())->tp_name);
        return nullptr;
    }
    // What the "s" unit builds: the input up to its first NUL, decoded as UTF-8, strict.
    PyRef argument = PyRef::steal(PyUnicode_FromString(input));
    if (!argument) {
        return nullptr;
    }
    return pycompat::callOneArgument(callable.get(), argument.get());
}

bool ProxyPluginPyStringTranscoder::errorPath() {
    // Takes the error out of the interpreter: nothing stays pending. The wording is "encode" in
    // both directions.
    _lastError = PyError2StdString(PyErr_Occurred());
    ProxyPythonPluginNS::noteScriptError();
    ppp_output::printLine(std::cerr, "ERROR: encode returns python errors", "\n", _lastError);
    return false;
}
