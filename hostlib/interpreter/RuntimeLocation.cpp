// The CPython installation (home, executable, virtual environment) the runtime starts from.
#include "RuntimeLocation.h"

#include <Python.h>

#include <cctype>
#include <fstream>

#include "RuntimePlatform.h"

namespace interpreter_detail {

namespace {

using interpreter_platform::canonicalPath;
using interpreter_platform::isRegularFile;

const std::string kVersionFolder =
    "python" + std::to_string(PY_MAJOR_VERSION) + "." + std::to_string(PY_MINOR_VERSION);

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// The value of `home` in a pyvenv.cfg, read as the site module reads it: "key = value" lines,
// keys compared without case.
std::string venvHome(const std::string& config) {
    std::ifstream file(config);
    std::string line;
    std::string home;
    while (std::getline(file, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = trimmed(line.substr(0, equals));
        for (char& c : key) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (key == "home") {
            home = trimmed(line.substr(equals + 1));
        }
    }
    return home;
}

}  // namespace

RuntimeLocation chooseRuntimeLocation(const std::string& home, const std::string& interpreter,
                                      const std::string& virtualEnv) {
    RuntimeLocation location;
    const std::string prefix = home.substr(0, home.find(':'));
    if (home.empty() || !isRegularFile(prefix + "/lib/" + kVersionFolder + "/os.py")) {
        return location;
    }
    location.home = home;
    location.executable = interpreter;
    if (virtualEnv.empty()) {
        return location;
    }
    const std::string ignored =
        "ProxyPythonPlugin: virtual environment " + virtualEnv + " ignored: ";
    const std::string config = virtualEnv + "/pyvenv.cfg";
    if (!isRegularFile(config)) {
        location.warning = ignored + "it has no pyvenv.cfg";
        return location;
    }
    const std::string madeFrom = venvHome(config);
    const std::string ours = canonicalPath(folderOf(interpreter));
    if (madeFrom.empty() || canonicalPath(madeFrom) != ours) {
        location.warning = ignored + "made from " +
                           (madeFrom.empty() ? "an unnamed Python" : madeFrom) + ", not from " +
                           ours;
        return location;
    }
    for (const char* name : {kVersionFolder.c_str(), "python3", "python"}) {
        const std::string candidate = virtualEnv + "/bin/" + name;
        if (isRegularFile(candidate)) {
            location.executable = candidate;
            return location;
        }
    }
    location.warning = ignored + "it has no bin/" + kVersionFolder;
    return location;
}

}  // namespace interpreter_detail
