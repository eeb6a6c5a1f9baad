// Sessions on sub-interpreters: creation, one line or one file of Python run in the session's
// namespace, and the execution kind of the running code.
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "LineOutput.h"
#include "LockHandOff.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "ReadFile.h"
#include "SinglePhaseRefusal.h"
#include "ThreadStates.h"

using interpreter_detail::EntryRecord;

namespace {

// eval and exec_file enter the session like a Use, with their own execution kind.
// Precondition: same thread, nested order.
class SessionEntry {
public:
    SessionEntry(PyInterpreterState* interpreter, interpreter_detail::ExecKind kind) {
        interpreter_detail::enterInterpreter(interpreter, kind, _entry);
    }
    ~SessionEntry() { interpreter_detail::leaveInterpreter(_entry); }
    SessionEntry(const SessionEntry&) = delete;
    SessionEntry& operator=(const SessionEntry&) = delete;

private:
    EntryRecord _entry;
};

// Binds __file__ in the namespace while a script runs and puts back what was there before (the
// name unbound, or a value an outer run had set). Precondition: the interpreter lock is held for
// the binding's whole life.
class MainFileBinding {
public:
    MainFileBinding(PyObject* globals, const std::string& path) : _globals(globals) {
        _previous = PyRef::borrow(PyDict_GetItemString(globals, "__file__"));  // borrowed
        PyRef name = PyRef::steal(PyUnicode_DecodeFSDefault(path.c_str()));
        if (!name || PyDict_SetItemString(globals, "__file__", name.get()) != 0) {
            PyErr_Clear();
        }
    }
    ~MainFileBinding() {
        pycompat::ErrorScope callersError;  // pending again, alone, when this returns
        if (_previous) {
            PyDict_SetItemString(_globals, "__file__", _previous.get());
        } else if (PyDict_GetItemString(_globals, "__file__") != nullptr) {
            PyDict_DelItemString(_globals, "__file__");
        }
        _previous.reset();
    }
    MainFileBinding(const MainFileBinding&) = delete;
    MainFileBinding& operator=(const MainFileBinding&) = delete;

private:
    PyObject* _globals;
    PyRef _previous;
};

// Every session ever made: sessions are never deleted, so each stays listed here, reachable until
// the process ends, whatever becomes of the pointer its maker kept. Guarded by sessionsMutex(),
// which is held only to add or search, never while Python runs: a leaf (docs/design.md).
std::vector<PySession*>& allSessions() {
    static auto* sessions = new std::vector<PySession*>();  // never destroyed
    return *sessions;
}

std::mutex& sessionsMutex() {
    static auto* mutex = new std::mutex();  // used by threads still running at process exit
    return *mutex;
}

}  // namespace

PySession::PySession(PyThreadState* state) : _interpreter(nullptr), _globals(nullptr) {
    if (state != nullptr) {
        _interpreter = pycompat::interpreterOf(state);
    }
    {
        std::lock_guard<std::mutex> lock(sessionsMutex());
        allSessions().push_back(this);
    }
    if (state == nullptr) {
        return;
    }
    interpreter_detail::adoptThreadState(state);
    // With a lock per interpreter no holder keeps another interpreter's lock: nothing to watch.
    if (!interpreter_detail::separateLocks()) {
        interpreter_detail::watchInterpreter(_interpreter);
    }
    Use use(this);
    interpreter_detail::installLineStreams();
    if (interpreter_detail::separateLocks()) {
        interpreter_detail::refuseSinglePhaseModules();
    }
    // The namespace is __main__'s own, so that pickle, pydoc and friends find the script's names.
    PyObject* mainModule = PyImport_AddModule("__main__");  // borrowed
    if (mainModule != nullptr) {
        _globals = PyRef::borrow(PyModule_GetDict(mainModule)).release();  // dict borrowed
    } else {
        pycompat::printPendingError();
        _globals = PyDict_New();
        PyRef name = PyRef::steal(PyUnicode_FromString("__main__"));
        if (_globals == nullptr || !name ||
            PyDict_SetItemString(_globals, "__name__", name.get()) != 0) {
            pycompat::printPendingError();
        }
    }
    if (_globals != nullptr && PyDict_GetItemString(_globals, "__builtins__") == nullptr) {
        if (PyDict_SetItemString(_globals, "__builtins__", PyEval_GetBuiltins()) != 0) {
            pycompat::printPendingError();
        }
    }
    // Errors are printed through the traceback module (pycompat::printPendingError): imported
    // with the session, so that printing the first error imports nothing midway.
    if (PyRef::steal(PyImport_ImportModule("traceback")).get() == nullptr) {
        PyErr_Clear();
    }
}

// The usual entry (the interpreter used last, nothing held) is this constructor alone, inline on
// the per-thread record: no further call of the library. Anything else goes through
// enterInterpreter, which picks the same state (checked in debug builds).
PySession::Use::Use(PySession* session)
    : _previous(nullptr), _entered(nullptr), _previousKind(interpreter_detail::kKindUntouched) {
    if (session == nullptr || session->_interpreter == nullptr) {
        return;
    }
    using namespace interpreter_detail;
    HeldRecord& record = heldRecord;
    // The record is written before the lock is taken so that taking it is the last thing done.
    if (record.lastInterpreter == session->_interpreter && record.held == nullptr &&
        pycompat::callingThreadState() == nullptr) {
        PPP_SESSION_CHECK(record.lastState == ownStateOf(session->_interpreter) &&
                              pycompat::interpreterOf(record.lastState) == session->_interpreter,
                          "the usual entry takes the thread's own state of the session's "
                          "interpreter, as enterInterpreter does");
        _entered = record.lastState;
        _previousKind = record.kind;
        record.held = _entered;
        record.kind = kKindUse;
        takeLock(_entered, record.waits);
        return;
    }
    EntryRecord entry;
    enterInterpreter(session->_interpreter, kKindUse, entry);
    _previous = entry.previous;
    _entered = entry.entered;
    _previousKind = entry.previousKind;
}

PySession::Use::~Use() {
    using namespace interpreter_detail;
    // Runs last: the start of a line the session code printed goes out before the host goes on.
    PendingLinesAtExit pendingLines;
    if (_previous == nullptr && _entered != nullptr) {
        // Entered with nothing held: release last, as leaveInterpreter would.
        HeldRecord& record = heldRecord;
        PPP_SESSION_CHECK(record.held == _entered,
                          "a session is left on the thread that entered it, in nested order");
        PPP_SESSION_CHECK(pycompat::currentThreadStateUnchecked() == _entered,
                          "the state being left is the calling thread's current state");
        record.held = nullptr;
        record.kind = _previousKind;
        PyEval_SaveThread();
        return;
    }
    EntryRecord entry;
    entry.previous = _previous;
    entry.entered = _entered;
    entry.previousKind = _previousKind;
    leaveInterpreter(entry);
}

bool PySession::eval(const std::string& line) {
    if (_interpreter == nullptr || _globals == nullptr) {
        return false;
    }
    SessionEntry entry(_interpreter, interpreter_detail::kKindEval);
    // File input: a line runs as a statement of a script; values of expressions are not echoed.
    PyRef result =
        PyRef::steal(PyRun_StringFlags(line.c_str(), Py_file_input, _globals, _globals, nullptr));
    if (!result) {
        pycompat::printPendingError();
        return false;
    }
    return true;
}

bool PySession::exec_file(const std::string& path) {
    if (_interpreter == nullptr || _globals == nullptr) {
        _errorText = "no interpreter for " + path;
        return false;
    }
    std::string source;
    int readError = 0;
    const bool read =
        icdhost_text::readWholeFile(path, source, readError) == icdhost_text::FileRead::Done;
    SessionEntry entry(_interpreter, interpreter_detail::kKindExecFile);
    if (!read) {
        errno = readError;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
        _errorText = interpreter_detail::takePendingErrorText();
        return false;
    }
    if (source.find('\0') != std::string::npos) {
        PyErr_SetString(PyExc_ValueError, "source code string cannot contain null bytes");
        _errorText = interpreter_detail::takePendingErrorText();
        return false;
    }
    MainFileBinding file(_globals, path);
    PyRef code = PyRef::steal(
        Py_CompileStringExFlags(source.c_str(), path.c_str(), Py_file_input, nullptr, -1));
    PyRef result;
    if (code) {
        result = PyRef::steal(PyEval_EvalCode(code.get(), _globals, _globals));
    }
    if (!result) {
        _errorText = interpreter_detail::takePendingErrorText();
        return false;
    }
    return true;
}

PySession* PySession::current() {
    PyThreadState* state = pycompat::currentThreadStateUnchecked();
    if (state == nullptr) {
        return nullptr;
    }
    // With the lock held by this thread, the current state is this thread's on every version.
    PyInterpreterState* interpreter = pycompat::interpreterOf(state);
    std::lock_guard<std::mutex> lock(sessionsMutex());
    for (PySession* session : allSessions()) {
        if (session->_interpreter == interpreter) {
            return session;
        }
    }
    return nullptr;
}

int PySession::getExecType(PyThreadState* state) {
    if (state == nullptr || interpreter_detail::heldState() != state) {
        return interpreter_detail::kKindNone;
    }
    return interpreter_detail::heldKind();
}
