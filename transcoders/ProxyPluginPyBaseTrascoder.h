// State and rules shared by every Python transcoder: the script's encoder object with its bound
// `encode` and `decode`, the validity test, the last failure's text, the process-wide
// transcoder_mutex and GIL_check.
//
// Threads. The host calls a transcoder from any thread, which may:
//  - never have touched Python: the call takes transcoder_mutex, then enters the session;
//  - already hold this transcoder's session (a script committing a message, a Python bus driver):
//    the call takes transcoder_mutex without keeping the interpreter while it waits, then either
//    calls Python directly (GIL_check) or nests a PySession::Use, which costs nothing there;
//  - hold another plug-in's session: as above; PySession::Use switches to this session and back,
//    so the other interpreter's state is never used for this transcoder's objects.
// Lock order is transcoder_mutex, then the interpreter. A thread that holds an interpreter only
// try-locks transcoder_mutex; when that fails it waits with the interpreter released and takes
// the interpreter back once it owns the mutex, so it never waits for the mutex while another
// thread owns the mutex and waits for the interpreter.
// A Python encode or decode that must wait for a plug-in's interface lock (a module function such
// as setChecked) gives transcoder_mutex up while it waits (TranscoderLockRelease): the lock's
// owner may be an action callable committing a message, waiting for transcoder_mutex.
// Re-entry: a Python encode or decode that makes the host transcode again on the same thread is
// refused (false, one line on standard error) instead of locking transcoder_mutex twice.
//
// Python errors: no transcoder call returns with a Python error pending. Errors of a failed call
// are taken out by the error path; the error a rejected result leaves (an out-of-range encode
// result, a decode result the argument parser refuses, a failed attribute lookup or name
// conversion at construction) is cleared before returning, so the script never trips over it.
//
// References: the transcoder owns one reference each to the object and to its two bound methods
// for its whole life. The destructor never touches Python (the host may destroy a transcoder on
// any thread without a session), so these references are released only through
// releasePythonReferences(), by a caller holding the session: the encoder assignment does that
// for a transcoder the field refused, before deleting it.
#pragma once

#include <Python.h>

#include <mutex>
#include <string>

#include "ICDPlatform.h"
#include "PyInterpreter.h"

class PPP_API ProxyPluginPyBaseTrascoder {
public:
    // Precondition: `session` is held. `object` is borrowed.
    ProxyPluginPyBaseTrascoder(PySession* session, PyObject* object, bool alwaysEnterSession,
                               bool pythonDriver);
    ~ProxyPluginPyBaseTrascoder();
    ProxyPluginPyBaseTrascoder(const ProxyPluginPyBaseTrascoder&) = delete;
    ProxyPluginPyBaseTrascoder& operator=(const ProxyPluginPyBaseTrascoder&) = delete;

    // True when the calling thread is itself running code of this transcoder's session (execution
    // kind 1, 2 or 3 on its own current thread state, in this session's interpreter) and the
    // field belongs to a Python bus driver: Python is then called without entering the session.
    bool GIL_check() const;

    // Drops the references to the object and its methods; the transcoder is invalid afterwards.
    // Precondition: the session is held.
    void releasePythonReferences();

    bool isValid() const { return _valid; }
    std::string getLastError() const;

    // Every encode and decode of every Python transcoder of the process runs under this mutex:
    // tried, otherwise released (docs/design.md has the order).
    static std::mutex transcoder_mutex;

protected:
    // Takes transcoder_mutex, enters the session unless GIL_check() says the caller runs in it,
    // and runs `body`. False without running it when this thread is already transcoding.
    template <typename Body>
    bool runInSession(Body&& body);

    PySession* _session;
    PyObject* _pyObject;  // owned (see References above)
    bool _alwaysEnterSession;
    bool _pythonDriver;
    std::string _lastError;  // written under transcoder_mutex
    bool _valid;
    const char* _format;
    PyObject* _encodeMethod;  // owned, may be null
    PyObject* _decodeMethod;  // owned, may be null
    std::mutex* _mutex;       // transcoder_mutex, or the session's with a lock per interpreter

    // `text` up to its first NUL character, encoded in the current locale's encoding, strict: a
    // new bytes object, or null with the Python error pending (not a str, or not representable).
    // Precondition: the session is held.
    static PyObject* encodeLocaleUpToNul(PyObject* text);
    // The same conversion written into `out`; false with the Python error pending, `out`
    // untouched. In a UTF-8 locale no bytes object is made. Precondition: the session is held,
    // no Python error is pending.
    static bool encodeLocaleUpToNul(PyObject* text, std::string* out);

    enum MethodName { kEncodeName = 0, kDecodeName = 1 };
    // "encode" or "decode" as a str object of `session`'s interpreter, borrowed (kept for the
    // process's life), or null when it could not be made: the caller then looks the method up by
    // its text. One per session, made at its first use: interned with the shared interpreter lock
    // (the attribute lookup then matches by identity), a plain str with a lock per interpreter,
    // since an interned one may be a process-wide object. Precondition: `session` is held.
    static PyObject* methodNameOfSession(PySession* session, MethodName which);

private:
    static bool refuseNestedCall();
};

// Holds transcoder_mutex (or a session's) for one transcoding. Precondition: none; a thread holding
// an interpreter waits for the mutex with the interpreter released. owns() is false when this
// thread already holds a transcoder mutex (a nested transcoding), and nothing was locked.
class PPP_API TranscoderLock {
public:
    TranscoderLock();  // transcoder_mutex
    explicit TranscoderLock(std::mutex& mutex);
    ~TranscoderLock();
    TranscoderLock(const TranscoderLock&) = delete;
    TranscoderLock& operator=(const TranscoderLock&) = delete;

    bool owns() const { return _owns; }

private:
    std::mutex& _mutex;
    bool _owns;
};

// Gives up transcoder_mutex for the guard's lifetime when the calling thread holds it (it runs a
// Python encode or decode), and takes it back at the end; otherwise does nothing. For waiting on
// another lock whose owner may itself wait for transcoder_mutex. Precondition: the calling thread
// holds no interpreter while the guard ends (the mutex's next owner may need it).
class PPP_API TranscoderLockRelease {
public:
    TranscoderLockRelease();
    ~TranscoderLockRelease();
    TranscoderLockRelease(const TranscoderLockRelease&) = delete;
    TranscoderLockRelease& operator=(const TranscoderLockRelease&) = delete;

private:
    std::mutex* _released;  // the mutex given up, or null
};

template <typename Body>
bool ProxyPluginPyBaseTrascoder::runInSession(Body&& body) {
    TranscoderLock lock(*_mutex);
    if (!lock.owns()) {
        return refuseNestedCall();
    }
    if (GIL_check()) {
        return body();
    }
    PySession::Use use(_session);
    return body();
}
