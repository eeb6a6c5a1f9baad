// The library's entry points as a host calls them (the icdhost tests load them with dlopen): a
// plug-in never given a handler stays silent; each handler given runs the script again with that
// handler's constants in module proxyplugin, a bridge under the handler's key and a help action;
// destroy stops and deletes every plug-in.
#include <cinttypes>
#include <cstdio>

#include <dlfcn.h>

#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "tests/plugin/ScriptedPluginSupport.h"

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
            ProxyPluginPyInterface::getHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler));
        EXPECT_EQ(bridge ? bridge->getHandler() : nullptr, handler);
    }

    CaptureOutput destruction;
    ProxyPythonPluginNS::onDestroy();
    EXPECT_EQ(destruction.out() + destruction.err(),
              "destroying " + std::string(created) + "script stop\n");
    EXPECT_TRUE(ProxyPythonPluginNS::plugins_vect.empty());
    EXPECT_FALSE(handlers[0]->isRegistered(plugin) || handlers[1]->isRegistered(plugin));
}

namespace {
// A plug-in object of the host's own making, as a host with plug-ins of several libraries has.
class ForeignPlugin : public ICDPluginObject {
public:
    ForeignPlugin() : ICDPluginObject("Foreign") {}
    void onPluginAction(unsigned int) override {}
    void start() override {}
    void stop() override {}
    void onSetICDHandler(ICDHandler*) override {}
};
}  // namespace

// A host reaches a plug-in's session by the undecorated name, without casting to the library's
// classes: only objects the library made and has not destroyed have one.
TEST(EntryPoints, TheSessionLookUpAnswersForLiveObjectsTheLibraryMadeAndNullForAnyOther) {
    void* library = dlopen(nullptr, RTLD_NOW);
    auto sessionOf = reinterpret_cast<PySession* (*)(const ICDPluginObject*)>(
        dlsym(library, "ProxyPythonPluginSessionOf"));
    ASSERT_NE(sessionOf, nullptr) << dlerror();

    CaptureOutput output;
    ForeignPlugin foreign;
    ICDPluginObject* plugin = ProxyPythonPluginNS::onCreate();
    const PySession* beforeHandler = sessionOf(plugin);
    plugin->setFileName(dataPath("names.py"));
    ICDHandler* handler = loadHandler();
    assign(plugin, handler);
    const PySession* withHandler = sessionOf(plugin);
    const PySession* ofForeign = sessionOf(&foreign);
    const PySession* ofNull = sessionOf(nullptr);
    ProxyPythonPluginNS::onDestroy();
    const PySession* afterDestroy = sessionOf(plugin);

    EXPECT_EQ(beforeHandler, nullptr);
    EXPECT_NE(withHandler, nullptr);
    EXPECT_EQ(ofForeign, nullptr);
    EXPECT_EQ(ofNull, nullptr);
    EXPECT_EQ(afterDestroy, nullptr);
}

// A host learns whether a plug-in runs and whether its scripts reported errors by undecorated
// names: the running state follows the start and stop callables' results, and every error the
// library prints for a script is counted, whatever thread or call printed it.
TEST(EntryPoints, TheRunningStateAndTheScriptErrorCountAreReadByUndecoratedNames) {
    void* library = dlopen(nullptr, RTLD_NOW);
    auto isRunning = reinterpret_cast<int (*)(const ICDPluginObject*)>(
        dlsym(library, "ProxyPythonPluginIsRunning"));
    auto errorCount = reinterpret_cast<unsigned long long (*)()>(
        dlsym(library, "ProxyPythonPluginScriptErrorCount"));
    ASSERT_NE(isRunning, nullptr) << dlerror();
    ASSERT_NE(errorCount, nullptr) << dlerror();

    CaptureOutput output;
    ForeignPlugin foreign;
    ICDPluginObject* plugin = ProxyPythonPluginNS::onCreate();
    plugin->setFileName(dataPath("names.py"));
    assign(plugin, loadHandler());
    PySession* session = static_cast<ProxyPythonPlugin*>(plugin)->getSession();
    const unsigned long long errorsAtStart = errorCount();
    session->eval("pp.setStartCallback(ID, lambda: True)");
    session->eval("pp.setStopCallback(ID, lambda: 1 / 0)");
    const int beforeStart = isRunning(plugin);
    plugin->start();
    const int started = isRunning(plugin);
    plugin->stop();  // the stop callable raises: the plug-in still runs
    const int afterFailedStop = isRunning(plugin);
    const unsigned long long errorsAfterFailedStop = errorCount();
    session->eval("pp.setStopCallback(ID, lambda: True)");
    session->eval("pp.getChecked('no such identifier', 1)");
    const unsigned long long errorsAfterWrongIdentifier = errorCount();
    plugin->stop();
    const int stopped = isRunning(plugin);
    const int ofForeign = isRunning(&foreign);
    const int ofNull = isRunning(nullptr);
    ProxyPythonPluginNS::onDestroy();
    const int afterDestroy = isRunning(plugin);

    EXPECT_EQ(beforeStart, 0);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(afterFailedStop, 1);
    EXPECT_EQ(errorsAfterFailedStop, errorsAtStart + 1);
    EXPECT_EQ(errorsAfterWrongIdentifier, errorsAtStart + 2);
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(ofForeign, -1);
    EXPECT_EQ(ofNull, -1);
    EXPECT_EQ(afterDestroy, -1);
}

// A host chooses the isolation before its first plug-in: an unknown mode is refused at any time,
// and once a plug-in exists only the choice in force is accepted; each refusal is one line on
// standard error. The host's choice wins over PROXYPLUGIN_ISOLATION.
TEST(EntryPoints, TheIsolationIsChosenBeforeTheFirstPluginAndRefusedWithOneLineAfterwards) {
    CaptureOutput output;
    const bool unknownAccepted = ProxyPythonPluginSetIsolation("own-GIL");
    const bool nullAccepted = ProxyPythonPluginSetIsolation(nullptr);
    const bool sharedAccepted = ProxyPythonPluginSetIsolation("shared");
    ProxyPythonPluginNS::onCreate();
    const std::string inForce = ProxyPythonPluginIsolation();
    const bool laterOwnAccepted = ProxyPythonPluginSetIsolation("own-gil");
    const bool laterSameAccepted = ProxyPythonPluginSetIsolation("shared");
    ProxyPythonPluginNS::onDestroy();
    EXPECT_FALSE(unknownAccepted);
    EXPECT_FALSE(nullAccepted);
    EXPECT_TRUE(sharedAccepted);
    EXPECT_EQ(inForce, "shared");
    EXPECT_FALSE(PyMainInterp::ownLocks());
    EXPECT_FALSE(laterOwnAccepted);
    EXPECT_TRUE(laterSameAccepted);
    EXPECT_EQ(output.err(),
              "ProxyPythonPlugin: unknown isolation 'own-GIL' (own-gil or shared)\n"
              "ProxyPythonPlugin: unknown isolation '' (own-gil or shared)\n"
              "ProxyPythonPlugin: the isolation is chosen before the first plug-in is created; it "
              "stays shared\n");
}
