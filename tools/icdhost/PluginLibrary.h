// The plug-in library, loaded the way a host loads a plug-in: with dlopen, by its exported entry
// points, with no link-time dependency. It is never unloaded: objects it made (sub-interpreters,
// bridges and their threads) live until the process ends.
#pragma once

#include <string>

class ICDPluginObject;
class PySession;

namespace icdhost {

class PluginLibrary {
public:
    // The library built or installed with icdhost: ../lib beside the executable's folder, then
    // the library folder of the installation.
    static std::string defaultPath();

    // Loads the library and finds its entry points. False with `error` set when the library does
    // not load or lacks one of getPluginAPIVersion, onCreate, onDestroy and the session look-up.
    bool open(const std::string& path, std::string* error);

    std::string apiVersion() const;
    ICDPluginObject* create() const;
    void destroyAll() const;
    // The session of a plug-in object the library made (null before its first handler).
    PySession* sessionOf(ICDPluginObject* plugin) const;

    // Chooses the isolation of the plug-ins ("shared" or "own-gil") before the first is created;
    // false with `error` set when the library lacks the entry point or refuses.
    bool setIsolation(const std::string& mode, std::string* error) const;

    // False when the library has no event wait (then `sync` cannot be offered).
    bool canWaitForEvents() const { return _waitForEvents != nullptr; }
    // True when every handler bridge became idle within `timeoutMs`.
    bool waitForEvents(unsigned long timeoutMs) const;

    // False when the library does not count the errors its scripts reported.
    bool countsScriptErrors() const { return _scriptErrorCount != nullptr; }
    // Errors the library reported for its scripts since it was loaded; 0 when it does not count.
    unsigned long long scriptErrorCount() const;
    // 1 when the plug-in runs (started and not stopped), 0 when not, -1 when the library cannot
    // tell (an object it did not make, a library without the look-up).
    int isRunning(const ICDPluginObject* plugin) const;

private:
    using ApiVersionFunction = std::string (*)();
    using CreateFunction = ICDPluginObject* (*)();
    using DestroyFunction = void (*)();
    using WaitFunction = bool (*)(unsigned long);
    using SessionFunction = PySession* (*)(const ICDPluginObject*);
    using CountFunction = unsigned long long (*)();
    using RunningFunction = int (*)(const ICDPluginObject*);
    using IsolationFunction = bool (*)(const char*);

    void* _handle = nullptr;
    ApiVersionFunction _apiVersion = nullptr;
    CreateFunction _create = nullptr;
    DestroyFunction _destroy = nullptr;
    WaitFunction _waitForEvents = nullptr;
    SessionFunction _sessionOf = nullptr;
    CountFunction _scriptErrorCount = nullptr;
    RunningFunction _isRunning = nullptr;
    IsolationFunction _setIsolation = nullptr;
};

}  // namespace icdhost
