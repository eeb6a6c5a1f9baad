// Real plug-in objects made the way a host makes them, around scripts copied from
// tests/data/<folder> into a scratch directory (the plug-in writes its help page beside its
// script), on ICD handlers that live until the process ends. Shared by the hostile and stress
// tests.
#pragma once

#include <gtest/gtest.h>

#include <Python.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ICDHandler.h"
#include "ICDPluginObject.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "plugin/ProxyPythonPlugin.h"

namespace harness {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer slows the threads' work about tenfold; AddressSanitizer about threefold.
constexpr int kSlowdown = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif

inline std::string dataPath(const std::string& folder, const std::string& name) {
    return std::string(PPP_TEST_DATA_DIR) + "/" + folder + "/" + name;
}

// Handlers are never freed: the bridges registered on them live until the process ends, and a
// handler freed by one test could come back at the same address (the same handler key) in the
// next.
inline ICDHandler* loadHandler(const std::string& path) {
    static auto* kept = new std::vector<std::unique_ptr<ICDHandler>>();
    std::string error;
    std::unique_ptr<ICDHandler> handler = ICDHandler::load(path, &error);
    if (!handler) {
        ADD_FAILURE() << "cannot load " << path << ": " << error;
        return nullptr;
    }
    kept->push_back(std::move(handler));
    return kept->back().get();
}

// A scratch directory, removed with its content at the end.
class ScratchDir {
public:
    ScratchDir() {
        char name[] = "/tmp/ppp-harness-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        _path = std::string(name) + "/";
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return _path; }
    // Copies tests/data/FOLDER/NAME here; returns the copy's path.
    std::string copy(const std::string& folder, const std::string& name) const {
        std::filesystem::copy_file(dataPath(folder, name), _path + name,
                                   std::filesystem::copy_options::overwrite_existing);
        return _path + name;
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(_path + name, std::ios::binary) << text;
        return _path + name;
    }

private:
    std::string _path;
};

// What a host does to set a plug-in up: the script path, then each handler in turn.
inline void setUp(ICDPluginObject* plugin, const std::string& script,
                  const std::vector<ICDHandler*>& handlers) {
    plugin->setFileName(script);
    for (ICDHandler* handler : handlers) {
        plugin->setICDHandler(handler);
        plugin->onSetICDHandler(handler);
    }
}

// Runs statements in the script's namespace (entering the session); false after printing the
// error.
inline bool run(PySession* session, const std::string& code) {
    return session != nullptr && session->eval(code);
}

// An expression of the script's namespace, as a new reference or null (error printed).
// Precondition: the session is held.
inline PyRef evaluate(PySession* session, const std::string& expression) {
    PyRef value = PyRef::steal(
        PyRun_String(expression.c_str(), Py_eval_input, session->globals(), session->globals()));
    if (!value) {
        pycompat::printPendingError();
    }
    return value;
}

inline long long evalInteger(PySession* session, const std::string& expression) {
    PySession::Use use(session);
    PyRef value = evaluate(session, expression);
    if (!value) {
        return -999999;
    }
    const long long result = PyLong_AsLongLong(value.get());
    if (PyErr_Occurred() != nullptr) {
        pycompat::printPendingError();
        return -999999;
    }
    return result;
}

// str() of an expression, UTF-8 with lone surrogates escaped; "<error>" when it fails.
inline std::string evalText(PySession* session, const std::string& expression) {
    PySession::Use use(session);
    PyRef value = evaluate(session, expression);
    PyRef text = PyRef::steal(value ? PyObject_Str(value.get()) : nullptr);
    PyRef bytes = PyRef::steal(
        text ? PyUnicode_AsEncodedString(text.get(), "utf-8", "backslashreplace") : nullptr);
    if (!bytes) {
        PyErr_Clear();
        return "<error>";
    }
    return std::string(PyBytes_AS_STRING(bytes.get()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

// Whether a Python error is pending in the session; clears it.
inline bool errorPending(PySession* session) {
    PySession::Use use(session);
    const bool pending = PyErr_Occurred() != nullptr;
    PyErr_Clear();
    return pending;
}

// Resident memory of the process, from /proc/self/statm.
inline std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t total = 0;
    std::size_t resident = 0;
    statm >> total >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        result.push_back(line);
    }
    return result;
}

// The lines of `text` that match none of `allowed`.
inline std::vector<std::string> unexpectedLines(const std::string& text,
                                                const std::vector<std::regex>& allowed) {
    std::vector<std::string> unexpected;
    for (const std::string& line : lines(text)) {
        bool matched = false;
        for (const std::regex& pattern : allowed) {
            if (std::regex_match(line, pattern)) {
                matched = true;
                break;
            }
        }
        if (!matched) {
            unexpected.push_back(line);
        }
    }
    return unexpected;
}

inline std::string joined(const std::vector<std::string>& items, std::size_t limit = 10) {
    std::string text;
    for (std::size_t i = 0; i < items.size() && i < limit; ++i) {
        text += items[i] + "\n";
    }
    if (items.size() > limit) {
        text += "... and " + std::to_string(items.size() - limit) + " more\n";
    }
    return text;
}

}  // namespace harness
