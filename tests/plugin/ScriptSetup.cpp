// Set-up of a proxy plug-in beyond a first handler and a script that runs well: a second
// handler and its key, a missing script and the script directory taken from its path.
#include "ScriptedPluginSupport.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"

using namespace plugintest;

static int helpActions(const ProxyPythonPlugin& plugin) {
    int count = 0;
    for (unsigned int i = 0; i < plugin.getPluginActionSize(); ++i) {
        const ICDPluginAction* action = plugin.getPluginAction(i);
        count +=
            action->getId() == ProxyPythonPlugin::HELP_ACTION_ID && action->getName() == "Help";
    }
    return count;
}

TEST(ScriptSetup, SecondHandlerAddsABridgeUnderItsKeyRunsTheScriptAgainAndAddsAHelpAction) {
    // A key is the handler's address in sixteen lower-case digits, without a prefix.
    const auto* example = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0x1a2b3c4d50});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(example), "0000001a2b3c4d50");
    // Compiled help keeps pydoc out: pydoc keeps a reference to the script's modules.
    ScriptDir dir("lifecycle.py", true);
    ICDHandler* handlers[] = {loadHandler(), loadHandler("second_bus.xml")};
    ScriptedPlugin script(dir.script, handlers[0]);
    ProxyPythonPlugin* plugin = script.plugin.get();
    auto moduleReferences = [&] {
        PySession::Use use(plugin->getSession());
        return Py_REFCNT(plugin->getModule());
    };
    const Py_ssize_t referencesBefore = moduleReferences();

    EXPECT_EQ(assign(plugin, handlers[1]), "run 2 " + ProxyPythonPlugin::handlerKeyOf(handlers[1]) +
                                               " SECOND_BUS " + dataPath("second_bus.xml") +
                                               " 4000000000\nProxyPythonPlugin::Lifecycle\n");
    EXPECT_EQ(helpActions(*plugin), 2);
    for (ICDHandler* handler : handlers) {
        const auto* bridge =
            ProxyPluginPyInterface::findHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler));
        EXPECT_EQ(bridge ? bridge->getHandler() : nullptr, handler);
    }
    EXPECT_EQ(moduleReferences(), referencesBefore);
}

TEST(ScriptSetup, MissingScriptIsReportedAndThePluginIsNamedAfterItsIdentifier) {
    // A script and the directory it gives.
    const std::pair<std::string, std::string> rows[] = {
        {"C:\\work\\scripts\\demo.py", "C:/work/scripts/"},
        {"C:\\work/scripts\\demo.py", "C:/work/scripts/"},
        {"ppp-no-such-script.py", ""},
        {dataPath(""), dataPath("")},  // a directory is no script
    };
    for (const auto& [fileName, scriptDir] : rows) {
        ScriptedPlugin script(fileName);
        ProxyPythonPlugin* plugin = script.plugin.get();
        const std::string id = plugin->getInterface()->getIdentifier();
        const std::string expected = "Module::proxyplugin->" + id + "\nProxyPythonPlugin::" + id +
                                     "\npython plugin file " + fileName + " not found\n";
        EXPECT_EQ(script.printed.substr(0, expected.size()), expected);
        EXPECT_EQ(helpActions(*plugin), 1) << fileName;
        EXPECT_TRUE(plugin->getSession()->eval("assert sys.path[-2:] == ['" + scriptDir + "', '" +
                                               scriptDir + "lib/site-packages']"));
    }
}
