// The library's entry points as a host calls them (the icdhost tests load them with dlopen): a
// plug-in never given a handler stays silent, set-up publishes module proxyplugin and its
// constants to the script, and destroy stops and deletes every plug-in.
#include <cinttypes>
#include <cstdio>

#include "ScriptedPluginSupport.h"
#include "plugin/ProxyPythonPluginNS.h"

using namespace plugintest;

TEST(EntryPoints, AnIdlePluginIsSilentSetUpPublishesTheConstantsAndDestroyDeletesEveryPlugin) {
    EXPECT_EQ(getPluginAPIVersion(), "$Revision: 122971 $ P8.8");
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

    ScriptDir dir("constants.py");
    ICDHandler* handler = loadHandler("second_bus.xml");
    plugin->setFileName(dir.script);
    const std::string printed = assign(plugin, handler);
    const std::string id = plugin->getInterface()->getIdentifier();
    char expected[64];
    std::snprintf(expected, sizeof expected, "proxyplugin#%d@%016" PRIXPTR, std::atoi(&id[12]),
                  reinterpret_cast<std::uintptr_t>(plugin));
    EXPECT_EQ(id, expected);
    // The script prints whether its import gives the module, sys.argv and the constants.
    EXPECT_EQ(printed, "Module::proxyplugin->" + id +
                           "\nTrue [''] proxy_plugin_handlers_dict={} "
                           "__proxy_plugin_identifier__='" +
                           id +
                           "' ACTION_TYPE_MENU=2 ACTION_TYPE_CHECKABLE=4 "
                           "ACTION_TYPE_EX_GROUP=3 ACTION_TYPE_NORMAL=1 "
                           "__proxy_plugin_icd_identifier__='" +
                           ProxyPythonPlugin::handlerKeyOf(handler) +
                           "' __proxy_plugin_icd_interface__='SECOND_BUS' "
                           "__proxy_plugin_icd_filename__='" +
                           dataPath("second_bus.xml") +
                           "' __proxy_plugin_icd_us_busclock__='4000000000'\n"
                           "ProxyPythonPlugin::Constants\nwrote ProxyPluginObject.html\n");

    CaptureOutput destruction;
    ProxyPythonPluginNS::onDestroy();
    EXPECT_EQ(destruction.out() + destruction.err(),
              "destroying " + std::string(created) + "script stop\n");
    EXPECT_TRUE(ProxyPythonPluginNS::plugins_vect.empty());
    EXPECT_FALSE(handler->isRegistered(plugin));
}
