// Real plug-in objects made the way a host makes them, around scripts copied into a scratch
// directory (the plug-in writes its help page beside its script), on ICD handlers that live until
// the process ends; and icdhost run as a child process. Shared by the hostile and stress tests.
#pragma once

#include <gtest/gtest.h>

#include <Python.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ICDHandler.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "ICDPluginObject.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "plugin/ProxyPythonPlugin.h"
#include "tests/support/TestFiles.h"

namespace harness {

// Sanitized builds run the same work in the same shape, this many times less of it.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 10;
#else
constexpr int kSlowdown = 1;
#endif

using testfiles::dataPath;
using testfiles::loadHandler;
using testfiles::readFile;
using testfiles::ScratchDir;

// What a host does to set a plug-in up: the script path, then each handler in turn.
inline void setUp(ICDPluginObject* plugin, const std::string& script,
                  const std::vector<ICDHandler*>& handlers) {
    plugin->setFileName(script);
    for (ICDHandler* handler : handlers) {
        plugin->setICDHandler(handler);
        plugin->onSetICDHandler(handler);
    }
}

// A plug-in running tests/data/hostile/SCRIPT on a handler of its own (hostile_bus.xml).
struct HostilePlugin {
    explicit HostilePlugin(const std::string& script)
        : handler(loadHandler(dataPath("hostile", "hostile_bus.xml"))) {
        setUp(plugin.get(), dir.copy("hostile", script), {handler});
    }
    ICDGenericMessageField* field(const char* name) {
        return handler->findMessage("STATUS")->findMessageField(name);
    }
    PySession* session() { return plugin->getSession(); }

    ICDHandler* handler;
    ScratchDir dir;
    std::unique_ptr<ProxyPythonPlugin> plugin =
        std::make_unique<ProxyPythonPlugin>("ProxyPythonPlugin?");
};

// Statements in the script's namespace; false after printing the error.
inline bool run(PySession* session, const std::string& code) {
    return session != nullptr && session->eval(code);
}

// str() of an expression of the script's namespace, lone surrogates escaped; "<error>" on failure.
inline std::string evalText(PySession* session, const std::string& expression) {
    PySession::Use use(session);
    PyRef value = PyRef::steal(
        PyRun_String(expression.c_str(), Py_eval_input, session->globals(), session->globals()));
    PyRef text = PyRef::steal(value ? PyObject_Str(value.get()) : nullptr);
    PyRef bytes = PyRef::steal(
        text ? PyUnicode_AsEncodedString(text.get(), "utf-8", "backslashreplace") : nullptr);
    if (!bytes) {
        pycompat::printPendingError();
        return "<error>";
    }
    return PyBytes_AS_STRING(bytes.get());
}

// Whether a Python error is pending in the session; clears it.
inline bool errorPending(PySession* session) {
    PySession::Use use(session);
    const bool pending = PyErr_Occurred() != nullptr;
    PyErr_Clear();
    return pending;
}

// The lines of `text` that match none of `allowed`, the first ten.
inline std::string unexpectedLines(const std::string& text,
                                   const std::vector<std::regex>& allowed) {
    std::istringstream in(text);
    std::string unexpected;
    for (std::string line; std::getline(in, line) && unexpected.size() < 2000;) {
        if (std::none_of(allowed.begin(), allowed.end(), [&](const std::regex& pattern) {
                return std::regex_match(line, pattern);
            })) {
            unexpected += line + "\n";
        }
    }
    return unexpected;
}

struct ChildResult {
    int status = -1;  // the exit status; 128 + the signal when it crashed or ran out of time
    std::string out;
    std::string err;
};

// icdhost with `args` (plain words) in `workDir`, without standard input or PYTHONUNBUFFERED,
// killed after 90 s.
inline ChildResult runIcdhost(const std::vector<std::string>& args, const std::string& workDir) {
    std::string command = "cd '" + workDir + "' && env -u PYTHONUNBUFFERED timeout -s KILL 90 '" +
                          PPP_RUNTIME_DIR + "/icdhost'";
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    command += " </dev/null >.out 2>.err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(workDir + ".out"),
            readFile(workDir + ".err")};
}

}  // namespace harness
