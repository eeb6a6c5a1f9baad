// State and rules shared by every Python transcoder: the encoder object, the validity test, the
// last failure's text, transcoder_mutex and the interpreter check.
#include "ProxyPluginPyBaseTrascoder.h"

#include <langinfo.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <thread>
#include <unordered_map>

#include "PyCompat.h"
#include "PyRef.h"
#include "plugin/ScriptErrors.h"
#include "PrintLine.h"

std::mutex ProxyPluginPyBaseTrascoder::transcoder_mutex;

namespace {
// The transcoder mutex the calling thread owns, or none. Only the owner writes its own record, so
// a thread that finds one here owns it: std::mutex may not be locked, nor try-locked, again by its
// owner.
thread_local std::mutex* t_ownedTranscoderMutex = nullptr;

// What the transcoders of one session share: with a lock per interpreter their mutex, so that host
// threads encode through two plug-ins' encoders at once (the lock rules stay those of
// transcoder_mutex, since a thread never owns two: a nested transcoding is refused); in either
// mode the text transcoders' method names. Never destroyed, as sessions are not.
struct SessionTranscoding {
    std::mutex mutex;
    // "encode" and "decode" as str objects of the session's interpreter, or null until its first
    // text transcoder. Written and read only with the session held (that interpreter's lock
    // orders the accesses), never under the table's mutex.
    PyObject* names[2] = {nullptr, nullptr};
};

// The record of `session`. Precondition: none; the table's mutex is a leaf (docs/design.md).
SessionTranscoding& recordOfSession(PySession* session) {
    static auto* tableMutex = new std::mutex();  // a leaf: held only to find or add an entry
    static auto* records = new std::unordered_map<PySession*, SessionTranscoding*>();
    std::lock_guard<std::mutex> lock(*tableMutex);
    SessionTranscoding*& record = (*records)[session];
    if (record == nullptr) {
        record = new SessionTranscoding();
    }
    return *record;
}

// The mutex of `session`'s transcoders: transcoder_mutex for all with the shared interpreter lock,
// the session's own with a lock per interpreter.
std::mutex& mutexOfSession(PySession* session) {
    if (session == nullptr || !PyMainInterp::ownLocks()) {
        return ProxyPluginPyBaseTrascoder::transcoder_mutex;
    }
    return recordOfSession(session).mutex;
}

// True when the calling thread's character type locale is UTF-8. PyUnicode_EncodeLocale converts
// with the C library one character at a time, which in such a locale gives exactly the bytes of a
// strict UTF-8 encoding and fails on exactly the texts that UTF-8 refuses (surrogates); the
// codec does the same work many times faster.
bool localeIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

// `text` in the current locale's encoding, strict: a new bytes object, or null with the Python
// error pending. Precondition: the session is held; `text` holds no NUL.
PyObject* encodeLocale(PyObject* text) {
    if (PyUnicode_Check(text) && localeIsUtf8()) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);  // kept by `text`
        if (utf8 != nullptr) {
            return PyBytes_FromStringAndSize(utf8, size);
        }
        // The locale's own conversion reports the failure, in its own words.
        PyErr_Clear();
    }
    return PyUnicode_EncodeLocale(text, nullptr);
}
}  // namespace

TranscoderLock::TranscoderLock() : TranscoderLock(ProxyPluginPyBaseTrascoder::transcoder_mutex) {}

TranscoderLock::TranscoderLock(std::mutex& mutex) : _mutex(mutex), _owns(false) {
    if (t_ownedTranscoderMutex != nullptr) {
        return;
    }
    if (!_mutex.try_lock()) {
        // The owner may be waiting for the interpreter this thread holds: wait without it.
        PyInterpreterRelease release;
        _mutex.lock();
    }
    t_ownedTranscoderMutex = &_mutex;
    _owns = true;
}

TranscoderLock::~TranscoderLock() {
    if (_owns) {
        t_ownedTranscoderMutex = nullptr;
        _mutex.unlock();
    }
}

TranscoderLockRelease::TranscoderLockRelease() : _released(t_ownedTranscoderMutex) {
    if (_released != nullptr) {
        t_ownedTranscoderMutex = nullptr;
        _released->unlock();
    }
}

TranscoderLockRelease::~TranscoderLockRelease() {
    if (_released != nullptr) {
        _released->lock();
        t_ownedTranscoderMutex = _released;
    }
}

ProxyPluginPyBaseTrascoder::ProxyPluginPyBaseTrascoder(PySession* session, PyObject* object,
                                                       bool alwaysEnterSession, bool pythonDriver)
    : _session(session),
      _pyObject(object),
      _alwaysEnterSession(alwaysEnterSession),
      _pythonDriver(pythonDriver),
      _valid(false),
      _format(nullptr),
      _encodeMethod(nullptr),
      _decodeMethod(nullptr),
      _mutex(&mutexOfSession(session)) {
    if (object == nullptr) {
        return;
    }
    Py_INCREF(object);
    _encodeMethod = PyObject_GetAttrString(object, "encode");  // new reference or null
    _decodeMethod = PyObject_GetAttrString(object, "decode");  // new reference or null
    // A missing method only makes the transcoder invalid; its AttributeError is not the script's.
    PyErr_Clear();
    // Without a session Python could never be entered safely: such a transcoder answers false.
    _valid = _session != nullptr && _encodeMethod != nullptr && _decodeMethod != nullptr &&
             PyCallable_Check(_encodeMethod) && PyCallable_Check(_decodeMethod);
}

// The references stay: see References in the header.
ProxyPluginPyBaseTrascoder::~ProxyPluginPyBaseTrascoder() = default;

bool ProxyPluginPyBaseTrascoder::GIL_check() const {
    // Every answer but the last is false, and the last is _pythonDriver: a field of no Python
    // driver needs no look at the thread (the host's usual case, on every call).
    if (!_pythonDriver || _alwaysEnterSession || _session == nullptr) {
        return false;
    }
    PyThreadState* current = pycompat::currentThreadStateUnchecked();
    if (current == nullptr) {
        return false;
    }
    // Non-zero only for the calling thread's own current state.
    const int kind = PySession::getExecType(current);
    if (kind < 1 || kind > 3) {
        return false;
    }
    // Code of another plug-in's session runs here: this transcoder's objects belong elsewhere.
    if (pycompat::interpreterOf(current) != _session->interpreter()) {
        return false;
    }
    return _pythonDriver;
}

void ProxyPluginPyBaseTrascoder::releasePythonReferences() {
    _valid = false;
    Py_CLEAR(_encodeMethod);
    Py_CLEAR(_decodeMethod);
    Py_CLEAR(_pyObject);
}

std::string ProxyPluginPyBaseTrascoder::getLastError() const {
    TranscoderLock lock(*_mutex);
    return _lastError;
}

PyObject* ProxyPluginPyBaseTrascoder::encodeLocaleUpToNul(PyObject* text) {
    // The locale codec refuses an embedded NUL outright; the text is cut there first.
    if (PyUnicode_Check(text)) {
        const Py_ssize_t length = PyUnicode_GetLength(text);
        const Py_ssize_t nul = PyUnicode_FindChar(text, 0, 0, length, 1);
        if (nul >= 0) {
            PyRef head = PyRef::steal(PyUnicode_Substring(text, 0, nul));
            return head ? encodeLocale(head.get()) : nullptr;
        }
    }
    return encodeLocale(text);
}

bool ProxyPluginPyBaseTrascoder::encodeLocaleUpToNul(PyObject* text, std::string* out) {
    if (PyUnicode_Check(text) && localeIsUtf8()) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);  // kept by `text`
        if (utf8 != nullptr) {
            // UTF-8 writes a NUL byte for the NUL character only: the cut is the same.
            const void* nul = std::memchr(utf8, 0, static_cast<std::size_t>(size));
            out->assign(utf8, nul != nullptr ? static_cast<const char*>(nul) - utf8 : size);
            return true;
        }
        PyErr_Clear();  // the locale's own conversion reports the failure, in its own words
    }
    PyRef bytes = PyRef::steal(encodeLocaleUpToNul(text));
    const char* chars = bytes ? PyBytes_AsString(bytes.get()) : nullptr;  // kept by `bytes`
    if (chars == nullptr) {
        return false;
    }
    out->assign(chars);  // up to the first NUL
    return true;
}

bool ProxyPluginPyBaseTrascoder::refuseNestedCall() {
    ProxyPythonPluginNS::noteScriptError();
    ppp_output::printLine(std::cerr,
                          "ERROR: transcoder called again from within a Python encode or decode");
    return false;
}

PyObject* ProxyPluginPyBaseTrascoder::methodNameOfSession(PySession* session, MethodName which) {
    if (session == nullptr) {
        return nullptr;
    }
    static const char* const texts[] = {"encode", "decode"};
    PyObject*& name = recordOfSession(session).names[which];
    if (name == nullptr) {
        // Kept by the record, reachable for the process's life: a transcoder borrows it.
        name = PyMainInterp::ownLocks() ? PyUnicode_FromString(texts[which])
                                        : PyUnicode_InternFromString(texts[which]);
        // Without a name object the lookup falls back to the name's text; nothing is lost.
        PyErr_Clear();
    }
    return name;
}
