// The interpreter library (_interpreter): the embedded CPython of the process, sessions on its
// sub-interpreters that any thread can enter, and the Python-backed plug-in action base.
//
// Thread states: each (thread, interpreter) pair gets its own PyThreadState, made on first entry
// and reused afterwards; it is deleted when the thread ends, which takes the interpreter lock once
// more: never join a thread that entered a session while holding an interpreter. The state
// Py_NewInterpreter returned stays as long as its interpreter. Sub-interpreters are never ended.
//
// Preconditions are written in these words everywhere in the project (docs/design.md maps every
// thread and lock):
//  - "the interpreter lock is held": the calling thread holds CPython's interpreter lock, which
//    all sub-interpreters share, with some interpreter's thread state current.
//  - "the session is held" ("`session` is held", "the script's session is held"): that session's
//    interpreter is current on the calling thread and the interpreter lock is held: inside a
//    PySession::Use, eval or exec_file, or on a script's own thread running in the session.
//  - "no session is held": the calling thread holds no interpreter through this library; a
//    host's own Python state may be current (entering switches from it and back).
//  - "a leaf": a lock held for constant work only; no Python runs and nothing is waited for
//    under it, so any thread may take it, holding the interpreter lock or not.
//  - "tried, otherwise released": a lock that may be awaited while Python runs up the stack is
//    only tried; when that fails the caller releases the interpreter (PyInterpreterRelease),
//    waits, and takes the interpreter back after the lock. The interpreter is last in any order.
//  - "same thread, nested order": a guard is made and ended on one thread, in reverse order of
//    making.
#pragma once

#include <Python.h>

#include <string>

#include "ICDPlatform.h"
#include "ICDDictionary.h"
#include "ICDPluginAction.h"

namespace interpreter_detail {
enum ExecKind : int;  // the library's record of what session code runs on a held state
}

// Process-wide singleton. Initialises CPython once, on first use, without signal handlers, with
// unbuffered standard streams (so that output of C, C++ and every sub-interpreter appears in call
// order) and ignoring PYTHON* environment variables; then releases the interpreter lock. Before
// that it puts the loaded libpython in the global symbol scope (for CPython's extension modules,
// whatever flags the host loaded us with) and takes the standard library from the installation
// the library was built against, with the site-packages of a virtual environment of that same
// installation named by VIRTUAL_ENV.
class PY_INTERP_API PyMainInterp {
public:
    static PyMainInterp* PyMainInterpInstance();

    // The thread state plug-in set-up makes current with PyEval_RestoreThread (lock free when
    // returned); initially the main interpreter's.
    PyThreadState* getPyThreadState();
    // Stores the state plug-in set-up just released with PyEval_SaveThread.
    void setPyThreadState(PyThreadState* state);
    // PyEval_RestoreThread(state) for a caller outside a session (the plug-in set-up): while it
    // waits, a thread holding the lock in another interpreter is made to let go of it, as for
    // session entries (a script thread spinning in pure Python would otherwise keep it for good
    // on CPython 3.9 to 3.12). Precondition: the calling thread holds no interpreter.
    static void restoreThread(PyThreadState* state);

    // Whether the sub-interpreters made from now on each get an interpreter lock of their own
    // (and their own object allocator) instead of sharing one: threads running different plug-ins
    // then run Python at the same time and never wait for each other's lock. Needs CPython 3.12
    // or later: returns false there without changing anything. Precondition: no sub-interpreter
    // has been made yet (the two kinds never live in one process).
    static bool useOwnLocks(bool own);
    static bool ownLocks();
    // Makes a sub-interpreter of the chosen kind and returns its first thread state, made on the
    // calling thread and released (no lock held on return); null on failure, with `error` set.
    // A caller holding an interpreter gives it up meanwhile.
    PyThreadState* newSubInterpreter(std::string* error);

    PyMainInterp(const PyMainInterp&) = delete;
    PyMainInterp& operator=(const PyMainInterp&) = delete;

private:
    PyMainInterp();
    PyThreadState* _threadState;
};

// A session on one sub-interpreter. Allocated by the plug-in and never deleted.
class PY_INTERP_API PySession {
public:
    // `state`: the thread state Py_NewInterpreter returned, made on the calling thread; it becomes
    // that thread's state for this interpreter. The interpreter's sys.stdout and sys.stderr are
    // replaced by streams that write whole lines, so that print() from several threads never
    // tears a line: a line goes out as soon as it ends, the start of one when the thread flushes,
    // leaves the session or ends.
    explicit PySession(PyThreadState* state);
    PySession(const PySession&) = delete;
    PySession& operator=(const PySession&) = delete;

    // While a Use lives, the session's interpreter is current on the calling thread and its lock
    // is held. Entering a session the thread already holds costs nothing and keeps it held at
    // the end; entering session B while holding A switches to B and back to A at the end. A
    // thread that runs Python on a state of its own (a thread the script started, a host holding
    // its own state) is switched the same way. A null session makes a Use that does nothing.
    // Precondition: same thread, nested order.
    class PY_INTERP_API Use {
    public:
        explicit Use(PySession* session);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        PyThreadState* _previous;  // this thread's state before entry, or null
        PyThreadState* _entered;   // the state made current, or null when nothing changed
        interpreter_detail::ExecKind _previousKind;
    };

    // Runs one line of Python in the session's one global namespace (__main__'s) as a statement
    // of a file: the value of an expression is not echoed. Enters the session itself. A failing
    // line is printed on standard error with its traceback (SystemExit too, without exiting);
    // returns false then.
    bool eval(const std::string& line);
    // Runs a file as the script (__name__ "__main__", __file__ set while it runs) in that same
    // namespace; enters the session itself. False on failure, with _errorText describing it.
    bool exec_file(const std::string& path);

    // Kind of session code running on `state` when it is the calling thread's current state:
    // 1 inside a Use (native code called into the session: callbacks, events, transcoders),
    // 2 inside eval, 3 inside exec_file (the innermost entry counts); 0 otherwise (null, another
    // thread's state, or no session code running).
    static int getExecType(PyThreadState* state);

    PyInterpreterState* interpreter() const { return _interpreter; }
    // The global namespace (borrowed). Precondition: the session is held.
    PyObject* globals() const { return _globals; }

    // The one rule for Python objects a script hands to the library (event callables, encoders,
    // action bodies, start, stop and action callables): each is called, inspected and released
    // only inside the session of the script that registered it, whichever plug-in, bridge or host
    // thread stores or delivers it, so that two interpreters' objects never meet in one call.
    // Whoever stores such an object stores current() with it, taken when the object is handed
    // over, and enters that session (PySession::Use) around every later use.
    //
    // The session whose interpreter runs Python on the calling thread, or null when none of the
    // sessions does (the main interpreter). Precondition: the interpreter lock is held (the
    // caller runs Python: a module function, a callable). Not for hot paths: a search of every
    // session, under a mutex.
    static PySession* current();

    // Text of the last failed exec_file: the exception and its traceback as Python prints them,
    // without the final line end.
    std::string _errorText;

private:
    PyInterpreterState* _interpreter;
    PyObject* _globals;  // owned; never released (the session lives until the process ends)
};

// Releases the interpreter the calling thread holds, if any, for the guard's lifetime, and takes
// it back at the end. Use it around anything that may wait (a lock, a terminal read) while
// Python code up the stack holds the interpreter.
class PY_INTERP_API PyInterpreterRelease {
public:
    PyInterpreterRelease();
    ~PyInterpreterRelease();
    PyInterpreterRelease(const PyInterpreterRelease&) = delete;
    PyInterpreterRelease& operator=(const PyInterpreterRelease&) = delete;

    // True when the calling thread currently holds an interpreter entered through this library.
    static bool threadHoldsInterpreter();

private:
    PyThreadState* _saved;
    interpreter_detail::ExecKind _savedKind;
};

// Writes `text` (whole lines) to descriptor `fd` in order with the lines of the scripts' standard
// streams: a line longer than a pipe takes at once is still never split by theirs. For a host's
// own output lines. Needs no interpreter; a caller holding one keeps it during the write.
PY_INTERP_API void writeOutputLines(int fd, const std::string& text);

// A plug-in action whose body is Python; the plug-in library derives its action from it.
class PY_INTERP_API PyPluginAction : public ICDPluginAction {
public:
    PyPluginAction(unsigned int id, std::string name, ICDPluginActionType type,
                   ICDPluginActionKind kind, ICDPluginAction* parent);
    std::string help() override;
    bool execute(ICDDictionary input, ICDDictionary* output) override;
    virtual ~PyPluginAction();
    // Calls the body with positional and keyword arguments; precondition: the session is held.
    virtual PyObject* eval(PyObject* args, PyObject* kwargs);
};

// Fills `pyDict` (a dict) with the entries of `dictionary`: bool, int, float and str values.
// Precondition: the interpreter lock is held.
PY_INTERP_API void fromICDDictionaryToPyDict(ICDDictionary dictionary, PyObject* pyDict);
// Converts a Python dict: bool, int (fitting a C long), float and str values are kept with their
// type; an int beyond a C long becomes its decimal text; any other value becomes its str() text;
// a key that is not a str is converted with str(). An entry whose key or value cannot be
// converted (str() raises, or the text is no valid UTF-8) is left out and its error printed as the
// library prints a script's uncaught errors (traceback on standard error, through sys.excepthook);
// the other entries are kept. Never leaves an error pending. Precondition: the interpreter lock is
// held.
PY_INTERP_API ICDDictionary fromPyDictToICDDictionary(PyObject* pyDict);
