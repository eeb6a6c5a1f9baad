#include "ProxyPluginPyStringTranscoder.h"

#include <iostream>

#include "pymodule/PyCallUtils.h"
#include "PyRef.h"

ProxyPluginPyStringTranscoder::ProxyPluginPyStringTranscoder(PySession* session, PyObject* object,
                                                             bool alwaysEnterSession,
                                                             bool pythonDriver)
    : ProxyPluginPyBaseTrascoder(session, object, alwaysEnterSession, pythonDriver),
      ICDStringTranscoder("ProxyPluginPyStringTranscoder") {
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
    // Looked up by name on every call: a script may rebind the method after installation. The
    // "s" unit hands Python the input up to its first NUL, decoded as UTF-8.
    PyRef result = PyRef::steal(PyObject_CallMethod(_pyObject, method, _format, input.c_str()));
    if (PyErr_Occurred()) {
        return errorPath();
    }
    if (!result) {
        _lastError = "ERROR: encode returns none object";
        std::cerr << _lastError << std::endl;
        return false;
    }
    PyRef bytes = PyRef::steal(encodeLocaleUpToNul(result.get()));
    if (!bytes || PyErr_Occurred()) {
        return errorPath();
    }
    const char* text = PyBytes_AsString(bytes.get());  // borrowed buffer of `bytes`
    if (text == nullptr) {
        return errorPath();
    }
    output->assign(text);  // up to the first NUL
    return true;
}

bool ProxyPluginPyStringTranscoder::errorPath() {
    // Takes the error out of the interpreter: nothing stays pending. The wording is "encode" in
    // both directions.
    _lastError = PyError2StdString(PyErr_Occurred());
    std::cerr << "ERROR: encode returns python errors" << std::endl << _lastError << std::endl;
    return false;
}
