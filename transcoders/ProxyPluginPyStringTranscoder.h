// Transcoder of text fields: calls the script object's `encode` or `decode`, looked up by name at
// every call, with the input as a str and takes back a str, converted to the locale's encoding.
// Besides the base's references it borrows the two method names of its session
// (methodNameOfSession), made once per session so that each call's lookup hits the interpreter's
// attribute caches, and never released.
#pragma once

#include <Python.h>

#include <string>

#include "ICDPlatform.h"
#include "ICDTranscoder.h"
#include "ProxyPluginPyBaseTrascoder.h"

class PPP_API ProxyPluginPyStringTranscoder : public ProxyPluginPyBaseTrascoder,
                                              public ICDStringTranscoder {
public:
    // Precondition: `session` is held. `object` is borrowed.
    ProxyPluginPyStringTranscoder(PySession* session, PyObject* object, bool alwaysEnterSession,
                                  bool pythonDriver);
    ~ProxyPluginPyStringTranscoder() override;

    bool encode(std::string value, std::string* raw) override;
    bool decode(std::string raw, std::string* value) override;

    // Precondition: the caller holds transcoder_mutex and the session.
    bool _transcode(const char* method, std::string input, std::string* output);

private:
    bool errorPath();
    // What PyObject_CallMethod(_pyObject, method, "s", input) does, with the same errors in the
    // same order: the attribute by name, a TypeError when it is not callable, the argument, the
    // call. A new reference, or null with the error pending.
    PyObject* callByName(const char* method, const char* input);

    // Borrowed from the session, may be null: "encode" and "decode" as objects of the
    // transcoder's own interpreter.
    PyObject* _encodeName;
    PyObject* _decodeName;
};
