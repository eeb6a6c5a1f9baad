// A host's session with the library, through the entry points it finds with dlopen and dlsym:
// two plug-ins created, left idle, set up with a script, then stopped and deleted.
#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>

#include "ScriptedPluginSupport.h"

using namespace plugintest;

TEST(EntryPoints, CreateRecordsPluginsSetUpPublishesTheModuleAndDestroyStopsAndDeletesInOrder) {
    void* library = dlopen(PPP_LIBRARY_DIR "/libProxyPythonPlugin.so", RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    auto version = reinterpret_cast<std::string (*)()>(dlsym(library, "getPluginAPIVersion"));
    auto create = reinterpret_cast<ICDPluginObject* (*)()>(
        dlsym(library, "_ZN19ProxyPythonPluginNS8onCreateEv"));
    auto destroy =
        reinterpret_cast<void (*)()>(dlsym(library, "_ZN19ProxyPythonPluginNS9onDestroyEv"));
    auto* registry = static_cast<std::vector<ProxyPythonPlugin*>*>(
        dlsym(library, "_ZN19ProxyPythonPluginNS12plugins_vectE"));
    ASSERT_TRUE(version && create && destroy && registry);
    EXPECT_EQ(version(), "$Revision: 122971 $ P8.8");

    CaptureOutput creation;
    ProxyPythonPlugin* plugins[] = {static_cast<ProxyPythonPlugin*>(create()),
                                    static_cast<ProxyPythonPlugin*>(create())};
    char lines[2][64];  // what creating and destroying each plug-in prints
    for (int i = 0; i < 2; ++i) {
        std::snprintf(lines[i], sizeof lines[i], "plugin %p\n", static_cast<void*>(plugins[i]));
    }
    EXPECT_EQ(creation.out(), std::string(lines[0]) + lines[1]);
    EXPECT_EQ(*registry, (std::vector<ProxyPythonPlugin*>{plugins[0], plugins[1]}));

    // Never given a handler, a plug-in ignores start, stop and actions without a word.
    CaptureOutput idle;
    plugins[0]->start();
    plugins[0]->stop();
    plugins[0]->onPluginAction(5);
    plugins[0]->onPluginAction(ProxyPythonPlugin::HELP_ACTION_ID);
    EXPECT_EQ(idle.out() + idle.err(), "");

    ScriptDir dir("constants.py");
    ICDHandler* handler = loadHandler("second_bus.xml");
    int numbers[2] = {};
    for (int i = 0; i < 2; ++i) {
        plugins[i]->setFileName(dir.script);
        const std::string printed = assign(plugins[i], handler);
        const std::string id = plugins[i]->getInterface()->getIdentifier();
        numbers[i] = std::atoi(id.substr(id.find('#') + 1).c_str());
        char expected[64];
        std::snprintf(expected, sizeof expected, "proxyplugin#%d@%016" PRIXPTR, numbers[i],
                      reinterpret_cast<std::uintptr_t>(plugins[i]));
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
    }
    EXPECT_EQ(numbers[1], numbers[0] + 1);

    CaptureOutput destruction;
    destroy();
    EXPECT_EQ(destruction.out() + destruction.err(), "destroying " + std::string(lines[0]) +
                                                         "script stop\ndestroying " + lines[1] +
                                                         "script stop\n");
    EXPECT_TRUE(registry->empty());
    EXPECT_FALSE(handler->isRegistered(plugins[0]) || handler->isRegistered(plugins[1]));
    dlclose(library);
}
