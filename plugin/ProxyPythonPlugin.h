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

private:
    PyThreadState* _threadState;
    PyObject* _module;
    PySession* _session;
    ProxyPluginPyInterface* _interface;
    bool _running;
    std::string _scriptDir;
    std::string _helpFile;
    bool _initialised;
};
