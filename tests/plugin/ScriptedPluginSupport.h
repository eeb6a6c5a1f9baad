// Helpers of the plug-in tests: ICD handlers loaded from tests/data/plugin, scratch script
// directories, and the text forms the plug-in prints.
#pragma once

#include <gtest/gtest.h>

#include <Python.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ICDHandler.h"
#include "ICDPluginObject.h"
#include "PyInterpreter.h"

namespace plugintest {

inline std::string dataPath(const std::string& name) {
    return std::string(PPP_TEST_DATA_DIR) + "/plugin/" + name;
}

// Handlers stay alive until the process ends, like the bridges registered on them: a handler
// freed by one test could come back at the same address in the next, and the process-wide key
// table keeps the first bridge stored under a key.
inline ICDHandler* loadHandler(const std::string& file) {
    static auto* kept = new std::vector<std::unique_ptr<ICDHandler>>();
    std::string error;
    std::unique_ptr<ICDHandler> handler = ICDHandler::load(dataPath(file), &error);
    if (!handler) {
        ADD_FAILURE() << "cannot load " << file << ": " << error;
        return nullptr;
    }
    kept->push_back(std::move(handler));
    return kept->back().get();
}

// What a host does when it hands a plug-in a handler.
inline void assignHandler(ICDPluginObject* plugin, ICDHandler* handler) {
    plugin->setICDHandler(handler);
    plugin->onSetICDHandler(handler);
}

// A scratch directory holding copies of test scripts; pydoc pages are written there, never into
// the source tree. Removed with its content at the end.
class ScriptDir {
public:
    ScriptDir() {
        char name[] = "/tmp/ppp-plugin-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        _path = std::string(name) + "/";
    }
    ~ScriptDir() {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
    ScriptDir(const ScriptDir&) = delete;
    ScriptDir& operator=(const ScriptDir&) = delete;

    // The directory with a trailing slash.
    const std::string& path() const { return _path; }
    // Copies tests/data/plugin/NAME here and returns the copy's path.
    std::string copy(const std::string& name) const {
        std::filesystem::copy_file(dataPath(name), _path + name,
                                   std::filesystem::copy_options::overwrite_existing);
        return _path + name;
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(_path + name, std::ios::binary) << text;
        return _path + name;
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(_path + name); }

private:
    std::string _path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A pointer as the standard output stream prints it ("0x" and lower-case digits).
inline std::string streamed(const void* pointer) {
    std::ostringstream text;
    text << pointer;
    return text.str();
}

// An address as the script identifier carries it: 16 upper-case digits, zero-padded.
inline std::string upperHex16(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return text;
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

// Runs one Python statement in the session's global namespace, where the script's names live.
inline void runInScript(PySession* session, const std::string& line) {
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(session->eval(line)) << line;
}

// Sets ICD_OPEN_COMMAND to a recorder that appends each document it is asked to open to
// `log`, for the lifetime of the object.
class OpenRecorder {
public:
    explicit OpenRecorder(const ScriptDir& dir) : _log(dir.path() + "opened.log") {
        const std::string script =
            dir.write("record-open.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + _log + "'\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        setenv("ICD_OPEN_COMMAND", script.c_str(), 1);
    }
    ~OpenRecorder() { unsetenv("ICD_OPEN_COMMAND"); }
    OpenRecorder(const OpenRecorder&) = delete;
    OpenRecorder& operator=(const OpenRecorder&) = delete;

    // The documents opened so far, one per line; waits up to 5 s for the first one (the opener
    // runs detached).
    std::string opened() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::string text = readFile(_log);
        while (text.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            text = readFile(_log);
        }
        return text;
    }
    std::string openedNow() const { return readFile(_log); }

private:
    std::string _log;
};

}  // namespace plugintest
