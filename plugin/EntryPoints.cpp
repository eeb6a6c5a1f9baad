// The library's exported entry points and the static objects that live from load to unload.
#include "ProxyPythonPluginNS.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <sstream>

#include "ProxyPythonPlugin.h"
#include "ScriptErrors.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "PrintLine.h"

std::set<ICDHandler*> ProxyPythonPlugin::glob_python_driver_set;

namespace {
constexpr unsigned int kDestroyPauseMs = 100;
}

std::string getPluginAPIVersion() {
    std::ostringstream version;
    version << "$Revision: 122971 $"
            << " P" << 8 << "." << 8;
    return version.str();
}

namespace ProxyPythonPluginNS {

std::vector<ProxyPythonPlugin*> plugins_vect;

ICDPluginObject* onCreate() {
    // No Python work here: the sub-interpreter and the script come with the first handler.
    ProxyPythonPlugin* plugin = new ProxyPythonPlugin("ProxyPythonPlugin?");
    ppp_output::printLine(std::cout, "plugin ", static_cast<const void*>(plugin));
    plugins_vect.push_back(plugin);
    return plugin;
}

void onDestroy() {
    if (plugins_vect.empty()) {
        return;
    }
    // The length is read again on every round, so that an object recorded while the walk runs
    // (a stop callback calling back into the host) is stopped and deleted too.
    for (std::size_t index = 0; index < plugins_vect.size(); ++index) {
        ProxyPythonPlugin* plugin = plugins_vect[index];
        if (plugin == nullptr) {
            continue;
        }
        ppp_output::printLine(std::cout, "destroying plugin ", static_cast<const void*>(plugin));
        plugin->stop();
        // Leaves the handler bridges' background threads time to finish what the stop started.
        ProxyPythonPluginPlatform::pauseMilliseconds(kDestroyPauseMs);
        delete plugin;
        plugins_vect[index] = nullptr;
    }
    plugins_vect.clear();
}

}  // namespace ProxyPythonPluginNS

bool ProxyPythonPluginWaitForEvents(unsigned long timeoutMs) {
    return ProxyPluginPyHandlerInterface::waitUntilAllIdle(std::chrono::milliseconds(timeoutMs));
}

PySession* ProxyPythonPluginSessionOf(const ICDPluginObject* object) {
    // Only the address is compared, so a foreign or deleted object is never dereferenced.
    const auto& plugins = ProxyPythonPluginNS::plugins_vect;
    auto found = std::find_if(plugins.begin(), plugins.end(), [object](ProxyPythonPlugin* plugin) {
        return plugin != nullptr && static_cast<const ICDPluginObject*>(plugin) == object;
    });
    return found != plugins.end() ? (*found)->getSession() : nullptr;
}

int ProxyPythonPluginIsRunning(const ICDPluginObject* object) {
    // Only the address is compared, as in ProxyPythonPluginSessionOf.
    for (ProxyPythonPlugin* plugin : ProxyPythonPluginNS::plugins_vect) {
        if (plugin != nullptr && static_cast<const ICDPluginObject*>(plugin) == object) {
            return plugin->isRunning() ? 1 : 0;
        }
    }
    return -1;
}

unsigned long long ProxyPythonPluginScriptErrorCount() {
    return ProxyPythonPluginNS::scriptErrorCount();
}
