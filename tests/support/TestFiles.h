// Files of the tests: the data folder, whole-file reads, scratch folders, and ICD handlers kept
// for the life of the test program.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ICDHandler.h"

namespace testfiles {

inline std::string dataPath(const std::string& folder, const std::string& name) {
    return std::string(PPP_TEST_DATA_DIR) + "/" + folder + "/" + name;
}

inline std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Never freed: bridges registered on a handler live until the process ends, and a handler freed
// by one test could come back at the same address (the same handler key) in the next.
inline ICDHandler* loadHandler(const std::string& path) {
    static auto* kept = new std::vector<std::unique_ptr<ICDHandler>>();
    std::string error;
    kept->push_back(ICDHandler::load(path, &error));
    EXPECT_NE(kept->back(), nullptr) << path << ": " << error;
    return kept->back().get();
}

// A folder of its own under /tmp, removed with everything in it at the end of the scope; scripts
// run from copies there, since the plug-in writes its help page beside its script.
class ScratchDir {
public:
    ScratchDir() {
        char name[] = "/tmp/ppp-test-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        _path = std::string(name) + "/";
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return _path; }  // ends with a slash
    std::string copy(const std::string& folder, const std::string& name) const {
        return write(name, readFile(dataPath(folder, name)));
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(_path + name, std::ios::binary) << text;
        return _path + name;
    }

private:
    std::string _path;
};

}  // namespace testfiles
