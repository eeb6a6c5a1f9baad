// Set-up with a missing script: the plug-in still gets its module, its name, its help action and
// the script directory taken from the path; and the handler key.
#include "tests/plugin/ScriptedPluginSupport.h"

using namespace plugintest;

TEST(ScriptSetup, MissingScriptIsReportedAndThePluginIsNamedAfterItsIdentifier) {
    // A key is the handler's address in sixteen lower-case digits, without a prefix.
    const auto* example = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0x1a2b3c4d50});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(example), "0000001a2b3c4d50");
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
