// Set-up of a proxy plug-in beyond a first handler and a script that runs well: a second
// handler, a failing or missing script, and the handler key.
#include <Python.h>

#include "PyInterpreter.h"
#include "ScriptedPluginSupport.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace {

using namespace plugintest;

int helpActions(const ProxyPythonPlugin& plugin) {
    int count = 0;
    for (unsigned int i = 0; i < plugin.getPluginActionSize(); ++i) {
        const ICDPluginAction* action = plugin.getPluginAction(i);
        count +=
            action->getId() == ProxyPythonPlugin::HELP_ACTION_ID && action->getName() == "Help";
    }
    return count;
}

TEST(ScriptSetup, SecondHandlerAddsABridgeRunsTheScriptAgainAndAddsASecondHelpAction) {
    // Compiled help keeps pydoc out: pydoc keeps a reference to the script's modules.
    ScriptDir dir("lifecycle.py", true);
    ICDHandler* handlers[] = {loadHandler("plugin_bus.xml"), loadHandler("second_bus.xml")};
    auto plugin = makePlugin(dir.script);
    assign(plugin.get(), handlers[0]);
    Py_ssize_t moduleReferences = 0;
    {
        PySession::Use use(plugin->getSession());
        moduleReferences = Py_REFCNT(plugin->getModule());
    }

    EXPECT_EQ(assign(plugin.get(), handlers[1]),
              "run 2 " + ProxyPythonPlugin::handlerKeyOf(handlers[1]) + " SECOND_BUS " +
                  dataPath("second_bus.xml") + " 4000000000\nProxyPythonPlugin::Lifecycle\n");
    EXPECT_EQ(helpActions(*plugin), 2);
    for (ICDHandler* handler : handlers) {
        ProxyPluginPyHandlerInterface* bridge =
            ProxyPluginPyInterface::findHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler));
        ASSERT_NE(bridge, nullptr);
        EXPECT_EQ(bridge->getHandler(), handler);
    }
    PySession::Use use(plugin->getSession());
    EXPECT_EQ(Py_REFCNT(plugin->getModule()), moduleReferences);
}

TEST(ScriptSetup, FailingScriptIsReportedAndKeepsWhatItRegisteredBeforeFailing) {
    ScriptDir dir("failing.py");
    auto plugin = makePlugin(dir.script);
    const std::string printed = assign(plugin.get(), loadHandler("plugin_bus.xml"));
    EXPECT_NE(printed.find("ProxyPythonPlugin::Failing\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("the script fails on purpose"), std::string::npos) << printed;

    CaptureOutput start;
    EXPECT_FALSE(plugin->loadPythonFile(dir.script));
    plugin->start();
    EXPECT_EQ(start.out(), "Failing::Start() 1\n");
}

TEST(ScriptSetup, MissingScriptIsReportedAndThePluginIsNamedAfterItsIdentifier) {
    ScriptDir dir("failing.py");
    const struct {
        std::string fileName, scriptDir;
    } rows[] = {
        {"C:\\work\\scripts\\demo.py", "C:/work/scripts/"},
        {"C:\\work/scripts\\demo.py", "C:/work/scripts/"},
        {"ppp-no-such-script.py", ""},
        {dir.path, dir.path},  // a directory is no script
    };
    for (const auto& row : rows) {
        auto plugin = makePlugin(row.fileName);
        const std::string printed = assign(plugin.get(), loadHandler("plugin_bus.xml"));
        const std::string id = plugin->getInterface()->getIdentifier();
        EXPECT_EQ(printed.rfind("Module::proxyplugin->" + id + "\nProxyPythonPlugin::" + id +
                                    "\npython plugin file " + row.fileName + " not found\n",
                                0),
                  0u)
            << printed;
        EXPECT_EQ(helpActions(*plugin), 1) << row.fileName;
        EXPECT_EQ(plugin->getScriptDir(), row.scriptDir);
        EXPECT_TRUE(plugin->getSession()->eval("assert sys.path[-2:] == ['" + row.scriptDir +
                                               "', '" + row.scriptDir + "lib/site-packages']"));
    }
}

TEST(ScriptSetup, HandlerKeyIsSixteenLowerCaseDigitsWithoutPrefix) {
    const auto* low = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0x1a2b3c4d50});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(low), "0000001a2b3c4d50");
    const auto* high = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0xFFFFABCDEF012345});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(high), "ffffabcdef012345");
}

}  // namespace
