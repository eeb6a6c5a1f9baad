// The proxy plug-in: one host plug-in object whose behaviour is a Python script running in a
// sub-interpreter of its own.
#pragma once

#include <Python.h>

#include <set>
#include <string>

#include "ICDPlatform.h"
#include "ICDPluginObject.h"

class PySession;
class ProxyPluginPyInterface;
class ICDHandler;

class PPP_API ProxyPythonPlugin : public ICDPluginObject {
public:
    static constexpr unsigned int HELP_ACTION_ID = 99999;

    explicit ProxyPythonPlugin(std::string name);
    ~ProxyPythonPlugin() override;

    void onPluginAction(unsigned int id) override;
    void start() override;
    void stop() override;
    void onSetICDHandler(ICDHandler* handler) override;
    std::string getVersion() override;

    void init();
    bool loadPythonFile(std::string path);
    void createHelpMenu();

    // Handlers driven by a Python bus driver; filled only by other modules of the process.
    static std::set<ICDHandler*> glob_python_driver_set;

    // Read access for hosts and tests.
    bool isRunning() const { return _running; }
    bool isInitialised() const { return _initialised; }
    std::string getScriptDir() const { return _scriptDir; }
    std::string getHelpFile() const { return _helpFile; }
    ProxyPluginPyInterface* getInterface() const { return _interface; }
    PySession* getSession() const { return _session; }
    // The module proxyplugin of the sub-interpreter (borrowed), or null before set-up.
    PyObject* getModule() const { return _module; }

    // The script's directory as set-up derives it: every backslash turned into "/", then the
    // text up to and including the last "/", or empty when there is none.
    static std::string scriptDirOf(const std::string& fileName);
    // The handler key: the handler's address as 16 lower-case hexadecimal digits, zero-padded,
    // without a "0x" prefix.
    static std::string handlerKeyOf(const ICDHandler* handler);

private:
    // Set-up made a session and a module; until then, or when set-up failed, the plug-in is inert.
    bool isReady() const {
        return _interface != nullptr && _session != nullptr && _module != nullptr;
    }
    void createSubInterpreter();
    void createModule();
    void publishHandler(ICDHandler* handler);

    PyThreadState* _threadState;
    PyObject* _module;
    PySession* _session;
    ProxyPluginPyInterface* _interface;
    bool _running;
    std::string _scriptDir;
    std::string _helpFile;
    bool _initialised;
};
