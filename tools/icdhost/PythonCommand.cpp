// py CODE: Python typed into a running plug-in. CODE runs in the selected plug-in's script
// namespace (the globals the script ran in), on the host's thread with the plug-in's session
// entered like any other call into the plug-in: an expression prints repr() of its value, a
// statement prints what it prints, a failure prints its traceback on standard error.
#include "CommandRunner.h"
#include "ICDPluginObject.h"
#include "Output.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "PyText.h"

namespace icdhost {

namespace {

// Runs `code` as an expression when it is one, else as statements. Gives false after printing
// the error. `shown` gets repr() of an expression's value and `echo` is set for it, except for
// None, which Python's own prompt does not echo either. Precondition: the session is held.
bool runCode(PySession* session, const std::string& code, std::string* shown, bool* echo) {
    // One file name for both forms, so every traceback of typed code points at "<icdhost>".
    bool expression = true;
    PyRef compiled = PyRef::steal(Py_CompileString(code.c_str(), "<icdhost>", Py_eval_input));
    if (!compiled && PyErr_ExceptionMatches(PyExc_SyntaxError)) {
        // Not an expression: statements, whose values are not echoed.
        PyErr_Clear();
        expression = false;
        compiled = PyRef::steal(Py_CompileString(code.c_str(), "<icdhost>", Py_file_input));
    }
    if (!compiled) {
        pycompat::printPendingError();
        return false;
    }
    PyObject* globals = session->globals();  // borrowed
    PyRef value = PyRef::steal(PyEval_EvalCode(compiled.get(), globals, globals));
    // printPendingError reports SystemExit too, without ending the host.
    PyRef text = value && expression ? PyRef::steal(PyObject_Repr(value.get())) : PyRef();
    if (!value || (expression && !text)) {
        pycompat::printPendingError();
        return false;
    }
    if (expression) {
        *shown = pytext::utf8Text(text.get());
        *echo = value.get() != Py_None;
    }
    return true;
}

}  // namespace

void CommandRunner::python(const std::vector<Word>& args) {
    (void)args;  // the code is the line as written
    const std::string& line = *_line;
    std::size_t start = line.find_first_not_of(" \t", line.find("py") + 2);
    if (start == std::string::npos) {
        throw Error("usage: py CODE");
    }
    ICDPluginObject* plugin = selectedPlugin();
    PySession* session = sessionOf(plugin);
    if (session == nullptr) {
        throw Error("py: plug-in " + std::to_string(_plugin) + " has no interpreter");
    }
    std::string shown;
    bool echo = false;
    bool ok = false;
    {
        PySession::Use use(session);
        ok = runCode(session, line.substr(start), &shown, &echo);
    }
    if (!ok) {
        throw Error("py: the code raised an exception");
    }
    if (echo) {
        printLine(shown);
    }
}

}  // namespace icdhost
