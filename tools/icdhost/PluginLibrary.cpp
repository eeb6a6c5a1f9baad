// The plug-in library loaded with dlopen by its exported entry points, as a host loads it.
#include "PluginLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <fstream>
#include <vector>

namespace icdhost {

namespace {

// The exported names: getPluginAPIVersion, the event wait, the session look-up, the running state
// and the error count are undecorated; onCreate and onDestroy are namespace-scope functions
// exported under their ordinary decorated names.
constexpr const char* kApiVersionSymbol = "getPluginAPIVersion";
constexpr const char* kCreateSymbol = "_ZN19ProxyPythonPluginNS8onCreateEv";
constexpr const char* kDestroySymbol = "_ZN19ProxyPythonPluginNS9onDestroyEv";
constexpr const char* kWaitSymbol = "ProxyPythonPluginWaitForEvents";
constexpr const char* kSessionSymbol = "ProxyPythonPluginSessionOf";
constexpr const char* kErrorCountSymbol = "ProxyPythonPluginScriptErrorCount";
constexpr const char* kRunningSymbol = "ProxyPythonPluginIsRunning";
constexpr const char* kIsolationSymbol = "ProxyPythonPluginSetIsolation";

std::string executableDir() {
    std::vector<char> buffer(4096);
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return ".";
    }
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool fileExists(const std::string& path) {
    return std::ifstream(path).good();
}

template <typename Function>
Function lookUp(void* handle, const char* name) {
    return reinterpret_cast<Function>(::dlsym(handle, name));
}

}  // namespace

std::string PluginLibrary::defaultPath() {
    const std::string dir = executableDir();
    const std::vector<std::string> candidates = {
        dir + "/../lib/" ICDHOST_DEFAULT_PLUGIN,
        dir + "/../" ICDHOST_INSTALL_LIBDIR "/" ICDHOST_DEFAULT_PLUGIN,
        ICDHOST_INSTALL_FULL_LIBDIR "/" ICDHOST_DEFAULT_PLUGIN,
    };
    for (const std::string& candidate : candidates) {
        if (fileExists(candidate)) {
            return candidate;
        }
    }
    return candidates.front();
}

bool PluginLibrary::open(const std::string& path, std::string* error) {
    // dlopen searches the library path for a bare name; a path the user typed means that file.
    std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    _handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (_handle == nullptr) {
        const char* reason = ::dlerror();
        *error = "cannot load the plug-in library " + path + ": " +
                 (reason != nullptr ? reason : "unknown error");
        return false;
    }
    _apiVersion = lookUp<ApiVersionFunction>(_handle, kApiVersionSymbol);
    _create = lookUp<CreateFunction>(_handle, kCreateSymbol);
    _destroy = lookUp<DestroyFunction>(_handle, kDestroySymbol);
    _waitForEvents = lookUp<WaitFunction>(_handle, kWaitSymbol);
    _scriptErrorCount = lookUp<CountFunction>(_handle, kErrorCountSymbol);
    _isRunning = lookUp<RunningFunction>(_handle, kRunningSymbol);
    _sessionOf = lookUp<SessionFunction>(_handle, kSessionSymbol);
    _setIsolation = lookUp<IsolationFunction>(_handle, kIsolationSymbol);
    // Without the session look-up no action or menu could be run safely.
    const char* missing = _apiVersion == nullptr  ? kApiVersionSymbol
                          : _create == nullptr    ? kCreateSymbol
                          : _destroy == nullptr   ? kDestroySymbol
                          : _sessionOf == nullptr ? kSessionSymbol
                                                  : nullptr;
    if (missing != nullptr) {
        *error = "the plug-in library " + path + " has no entry point " + missing;
        return false;
    }
    return true;
}

std::string PluginLibrary::apiVersion() const {
    return _apiVersion();
}

ICDPluginObject* PluginLibrary::create() const {
    return _create();
}

void PluginLibrary::destroyAll() const {
    _destroy();
}

PySession* PluginLibrary::sessionOf(ICDPluginObject* plugin) const {
    return _sessionOf(plugin);
}

bool PluginLibrary::setIsolation(const std::string& mode, std::string* error) const {
    if (_setIsolation == nullptr) {
        *error = std::string("the plug-in library has no entry point ") + kIsolationSymbol;
        return false;
    }
    // The library says why it refuses, on standard error.
    if (!_setIsolation(mode.c_str())) {
        *error = "isolation " + mode + " refused";
        return false;
    }
    return true;
}

bool PluginLibrary::waitForEvents(unsigned long timeoutMs) const {
    return _waitForEvents != nullptr && _waitForEvents(timeoutMs);
}

int PluginLibrary::isRunning(const ICDPluginObject* plugin) const {
    return _isRunning != nullptr ? _isRunning(plugin) : -1;
}

unsigned long long PluginLibrary::scriptErrorCount() const {
    return _scriptErrorCount != nullptr ? _scriptErrorCount() : 0;
}

}  // namespace icdhost
