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

    // False when the library has no event wait (then `sync` cannot be offered).
    bool canWaitForEvents() const { return _waitForEvents != nullptr; }
    // True when every handler bridge became idle within `timeoutMs`.
    bool waitForEvents(unsigned long timeoutMs) const;

private:
    using ApiVersionFunction = std::string (*)();
    using CreateFunction = ICDPluginObject* (*)();
    using DestroyFunction = void (*)();
    using WaitFunction = bool (*)(unsigned long);
    using SessionFunction = PySession* (*)(const ICDPluginObject*);

    void* _handle = nullptr;
    ApiVersionFunction _apiVersion = nullptr;
    CreateFunction _create = nullptr;
    DestroyFunction _destroy = nullptr;
    WaitFunction _waitForEvents = nullptr;
    SessionFunction _sessionOf = nullptr;
};

}  // namespace icdhost
