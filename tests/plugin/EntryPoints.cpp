// The library's entry points as a host calls them (the icdhost tests load them with dlopen): a
// plug-in never given a handler stays silent; each handler given runs the script again with that
// handler's constants in module proxyplugin, a bridge under the handler's key and a help action;
// destroy stops and deletes every plug-in.
#include <cinttypes>
#include <cstdio>

#include "ScriptedPluginSupport.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPluginNS.h"

using namespace plugintest;

TEST(EntryPoints, AnIdlePluginIsSilentEachHandlerRunsTheScriptAgainAndDestroyDeletesEveryPlugin) {
    CaptureOutput idle;
    auto* plugin = static_cast<ProxyPythonPlugin*>(ProxyPythonPluginNS::onCreate());
    plugin->start();
    plugin->stop();
    plugin->onPluginAction(5);
    plugin->onPluginAction(ProxyPythonPlugin::HELP_ACTION_ID);
    char created[64];
    std::snprintf(created, sizeof created, "plugin %p\n", static_cast<void*>(plugin));
    EXPECT_EQ(idle.out() + idle.err(), created);
    EXPECT_EQ(ProxyPythonPluginNS::plugins_vect, std::vector<ProxyPythonPlugin*>{plugin});

    // Compiled help keeps pydoc out: pydoc keeps references to the script's modules.
    ScriptDir dir("constants.py", true);
    plugin->setFileName(dir.script);
    ICDHandler* handlers[] = {loadHandler("second_bus.xml"), loadHandler()};
    std::string printed = assign(plugin, handlers[0]);
    const auto moduleReferences = [&] {
        PySession::Use use(plugin->getSession());
        return Py_REFCNT(plugin->getModule());
    };
    const Py_ssize_t referencesBefore = moduleReferences();
    printed += assign(plugin, handlers[1]);
    EXPECT_EQ(moduleReferences(), referencesBefore);

    const std::string id = plugin->getInterface()->getIdentifier();
    char expected[64];
    std::snprintf(expected, sizeof expected, "proxyplugin#%d@%016" PRIXPTR, std::atoi(&id[12]),
                  reinterpret_cast<std::uintptr_t>(plugin));
    EXPECT_EQ(id, expected);
    // A run prints whether the script's import gives the module, sys.argv and the constants.
    const auto run = [&](ICDHandler* handler, const char* name, const char* file,
                         const char* clock) {
        return "True [''] proxy_plugin_handlers_dict={} __proxy_plugin_identifier__='" + id +
               "' ACTION_TYPE_MENU=2 ACTION_TYPE_CHECKABLE=4 ACTION_TYPE_EX_GROUP=3 "
               "ACTION_TYPE_NORMAL=1 __proxy_plugin_icd_identifier__='" +
               ProxyPythonPlugin::handlerKeyOf(handler) + "' __proxy_plugin_icd_interface__='" +
               name + "' __proxy_plugin_icd_filename__='" + dataPath(file) +
               "' __proxy_plugin_icd_us_busclock__='" + clock + "'\nProxyPythonPlugin::Constants\n";
    };
    EXPECT_EQ(printed, "Module::proxyplugin->" + id + "\n" +
                           run(handlers[0], "SECOND_BUS", "second_bus.xml", "4000000000") +
                           run(handlers[1], "PLUGIN_BUS", "plugin_bus.xml", "250"));
    EXPECT_EQ(helpActions(*plugin), 2);
    for (ICDHandler* handler : handlers) {
        const auto* bridge =
            ProxyPluginPyInterface::findHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler));
        EXPECT_EQ(bridge ? bridge->getHandler() : nullptr, handler);
    }

    CaptureOutput destruction;
    ProxyPythonPluginNS::onDestroy();
    EXPECT_EQ(destruction.out() + destruction.err(),
              "destroying " + std::string(created) + "script stop\n");
    EXPECT_TRUE(ProxyPythonPluginNS::plugins_vect.empty());
    EXPECT_FALSE(handlers[0]->isRegistered(plugin) || handlers[1]->isRegistered(plugin));
}
