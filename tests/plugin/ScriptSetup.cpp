// Set-up of a proxy plug-in with real scripts and real ICD handlers: the sub-interpreter and its
// module proxyplugin, the handler constants and bridges, the script run, the name and the lines
// printed on the way.
#include <gtest/gtest.h>

#include <Python.h>

#include <memory>
#include <string>

#include "CaptureOutput.h"
#include "PyInterpreter.h"
#include "ScriptedPluginSupport.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace {

using namespace plugintest;

std::unique_ptr<ProxyPythonPlugin> makePlugin(const std::string& fileName) {
    auto plugin = std::make_unique<ProxyPythonPlugin>("ProxyPythonPlugin?");
    plugin->setFileName(fileName);
    return plugin;
}

// The last `count` entries of the plug-in's sys.path.
std::vector<std::string> lastPathEntries(ProxyPythonPlugin& plugin, std::size_t count) {
    std::vector<std::string> entries;
    PySession::Use use(plugin.getSession());
    PyObject* path = PySys_GetObject("path");  // borrowed
    const Py_ssize_t size = PyList_Size(path);
    for (Py_ssize_t i = size - static_cast<Py_ssize_t>(count); i < size; ++i) {
        entries.push_back(PyUnicode_AsUTF8(PyList_GetItem(path, i)));  // both borrowed
    }
    return entries;
}

std::size_t helpActionCount(const ProxyPythonPlugin& plugin) {
    std::size_t count = 0;
    for (unsigned int i = 0; i < plugin.getPluginActionSize(); ++i) {
        const ICDPluginAction* action = plugin.getPluginAction(i);
        if (action->getId() == ProxyPythonPlugin::HELP_ACTION_ID && action->getName() == "Help" &&
            action->getActionType() == ACTION_TYPE_NORMAL &&
            action->getActionKind() == ACTION_KIND_MENU && action->getParent() == nullptr) {
            ++count;
        }
    }
    return count;
}

TEST(ScriptSetup, PrintsTheModuleLineTheScriptOutputTheNameAndThePydocLineByteForByte) {
    ScriptDir dir;
    const std::string script = dir.copy("lifecycle.py");
    ICDHandler* handler = loadHandler("plugin_bus.xml");
    ASSERT_NE(handler, nullptr);

    CaptureOutput output;
    ICDPluginObject* created = ProxyPythonPluginNS::onCreate();
    auto* plugin = static_cast<ProxyPythonPlugin*>(created);
    plugin->setFileName(script);
    assignHandler(plugin, handler);
    output.stop();

    const std::string identifier = plugin->getInterface()->getIdentifier();
    EXPECT_EQ(output.out(), "plugin " + streamed(plugin) + "\n" + "Module::proxyplugin->" +
                                identifier + "\n" + "run 1 " +
                                ProxyPythonPlugin::handlerKeyOf(handler) + " PLUGIN_BUS " +
                                dataPath("plugin_bus.xml") + " 250\n" +
                                "ProxyPythonPlugin::Lifecycle\n"
                                "wrote ProxyPluginObject.html\n");
    EXPECT_EQ(output.err(), "");
    EXPECT_EQ(plugin->getName(), "Lifecycle");
    EXPECT_TRUE(plugin->isInitialised());
    EXPECT_EQ(plugin->getScriptDir(), dir.path());

    CaptureOutput destruction;
    ProxyPythonPluginNS::onDestroy();
}

TEST(ScriptSetup, ScriptSeesTheModuleConstantsInTheOrderTheyWereSet) {
    ScriptDir dir;
    ICDHandler* handler = loadHandler("second_bus.xml");
    ASSERT_NE(handler, nullptr);
    auto plugin = makePlugin(dir.copy("constants.py"));

    CaptureOutput output;
    assignHandler(plugin.get(), handler);
    const std::vector<std::string> printed = lines(output.out());

    ASSERT_GE(printed.size(), 7u) << output.out();
    EXPECT_EQ(printed[1], "same module True");
    EXPECT_EQ(printed[2],
              "order proxy_plugin_handlers_dict __proxy_plugin_identifier__ ACTION_TYPE_MENU "
              "ACTION_TYPE_CHECKABLE ACTION_TYPE_EX_GROUP ACTION_TYPE_NORMAL "
              "__proxy_plugin_icd_identifier__ __proxy_plugin_icd_interface__ "
              "__proxy_plugin_icd_filename__ __proxy_plugin_icd_us_busclock__");
    EXPECT_EQ(printed[3], "types 1 2 3 4");
    EXPECT_EQ(printed[4], "handlers dict dict 0");
    EXPECT_EQ(printed[5], "clock type str");
    EXPECT_EQ(printed[6], "argv ['']");
    EXPECT_EQ(output.err(), "");

    PySession::Use use(plugin->getSession());
    PyObject* module = plugin->getModule();
    ASSERT_NE(module, nullptr);
    EXPECT_STREQ(PyModule_GetName(module), "proxyplugin");
    PyObject* clock = PyObject_GetAttrString(module, "__proxy_plugin_icd_us_busclock__");
    ASSERT_NE(clock, nullptr);
    EXPECT_STREQ(PyUnicode_AsUTF8(clock), "4000000000");
    Py_DECREF(clock);
}

TEST(ScriptSetup, IdentifiersAreNumberedInCreationOrderAndEndInTheOwnersAddress) {
    ScriptDir dir;
    const std::string script = dir.copy("lifecycle.py");
    ICDHandler* handler = loadHandler("plugin_bus.xml");
    ASSERT_NE(handler, nullptr);
    auto first = makePlugin(script);
    auto second = makePlugin(script);

    CaptureOutput output;
    assignHandler(first.get(), handler);
    assignHandler(second.get(), handler);
    output.stop();

    const std::string firstId = first->getInterface()->getIdentifier();
    const std::string secondId = second->getInterface()->getIdentifier();
    const std::string prefix = "proxyplugin#";
    ASSERT_EQ(firstId.rfind(prefix, 0), 0u) << firstId;
    const std::size_t at = firstId.find('@');
    ASSERT_NE(at, std::string::npos);
    const int number = std::stoi(firstId.substr(prefix.size(), at - prefix.size()));
    EXPECT_EQ(firstId, prefix + std::to_string(number) + "@" + upperHex16(first.get()));
    EXPECT_EQ(secondId, prefix + std::to_string(number + 1) + "@" + upperHex16(second.get()));

    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(firstId),
              first->getInterface());
    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(secondId),
              second->getInterface());
    const std::string out = output.out();
    EXPECT_NE(out.find("Module::proxyplugin->" + firstId + "\n"), std::string::npos);
    EXPECT_NE(out.find("Module::proxyplugin->" + secondId + "\n"), std::string::npos);
}

TEST(ScriptSetup, SecondHandlerAddsABridgeRunsTheScriptAgainAndAddsASecondHelpAction) {
    ScriptDir dir;
    ICDHandler* firstHandler = loadHandler("plugin_bus.xml");
    ICDHandler* secondHandler = loadHandler("second_bus.xml");
    ASSERT_NE(firstHandler, nullptr);
    ASSERT_NE(secondHandler, nullptr);
    // Compiled help keeps pydoc out: pydoc itself takes a lasting reference to the script's
    // modules on every page it writes, which would hide what set-up does.
    dir.write("ProxyPythonPlugin.chm", "compiled help");
    auto plugin = makePlugin(dir.copy("lifecycle.py"));
    {
        CaptureOutput first;
        assignHandler(plugin.get(), firstHandler);
    }
    Py_ssize_t moduleReferences = 0;
    {
        PySession::Use use(plugin->getSession());
        moduleReferences = Py_REFCNT(plugin->getModule());
    }

    CaptureOutput second;
    assignHandler(plugin.get(), secondHandler);
    second.stop();

    const std::string secondKey = ProxyPythonPlugin::handlerKeyOf(secondHandler);
    EXPECT_EQ(second.out(), "run 2 " + secondKey + " SECOND_BUS " + dataPath("second_bus.xml") +
                                " 4000000000\n"
                                "ProxyPythonPlugin::Lifecycle\n");
    EXPECT_EQ(second.err(), "");
    EXPECT_EQ(helpActionCount(*plugin), 2u);

    ProxyPluginPyHandlerInterface* firstBridge =
        ProxyPluginPyInterface::findHandlerInterface(ProxyPythonPlugin::handlerKeyOf(firstHandler));
    ProxyPluginPyHandlerInterface* secondBridge =
        ProxyPluginPyInterface::findHandlerInterface(secondKey);
    ASSERT_NE(firstBridge, nullptr);
    ASSERT_NE(secondBridge, nullptr);
    EXPECT_EQ(firstBridge->getHandler(), firstHandler);
    EXPECT_EQ(secondBridge->getHandler(), secondHandler);
    EXPECT_TRUE(firstHandler->isRegistered(firstBridge));
    EXPECT_TRUE(secondHandler->isRegistered(secondBridge));

    // Publishing the second handler and running the script again leave no reference behind.
    PySession::Use use(plugin->getSession());
    EXPECT_EQ(Py_REFCNT(plugin->getModule()), moduleReferences);
}

TEST(ScriptSetup, FailingScriptIsReportedAndKeepsWhatItRegisteredBeforeFailing) {
    ScriptDir dir;
    ICDHandler* handler = loadHandler("plugin_bus.xml");
    ASSERT_NE(handler, nullptr);
    auto plugin = makePlugin(dir.copy("failing.py"));

    CaptureOutput output;
    assignHandler(plugin.get(), handler);
    output.stop();

    EXPECT_NE(output.err().find("the script fails on purpose"), std::string::npos) << output.err();
    EXPECT_NE(output.out().find("ProxyPythonPlugin::Failing\n"), std::string::npos);
    EXPECT_EQ(plugin->getName(), "Failing");
    EXPECT_EQ(helpActionCount(*plugin), 1u);
    {
        CaptureOutput again;
        EXPECT_FALSE(plugin->loadPythonFile(dir.path() + "failing.py"));
        EXPECT_NE(again.err().find("the script fails on purpose"), std::string::npos);
    }

    CaptureOutput start;
    plugin->start();
    EXPECT_EQ(start.out(), "Failing::Start() 1\n");
}

TEST(ScriptSetup, MissingScriptOrADirectoryIsReportedAndThePluginIsNamedAfterItsIdentifier) {
    ScriptDir dir;
    ICDHandler* handler = loadHandler("plugin_bus.xml");
    ASSERT_NE(handler, nullptr);
    for (const std::string& path :
         {std::string("/nonexistent/ppp-plugin/missing.py"), dir.path()}) {
        auto plugin = makePlugin(path);
        CaptureOutput output;
        assignHandler(plugin.get(), handler);
        output.stop();

        const std::string identifier = plugin->getInterface()->getIdentifier();
        EXPECT_EQ(output.err().rfind("python plugin file " + path + " not found\n", 0), 0u)
            << output.err();
        EXPECT_EQ(output.out(), "Module::proxyplugin->" + identifier + "\n" +
                                    "ProxyPythonPlugin::" + identifier + "\n");
        EXPECT_EQ(plugin->getName(), identifier);
        EXPECT_EQ(helpActionCount(*plugin), 1u);
        EXPECT_EQ(plugin->getHelpFile(),
                  ProxyPythonPlugin::scriptDirOf(path) + "ProxyPluginObject.html");
    }
}

TEST(ScriptSetup, ScriptDirectoryAndItsSitePackagesAreAppendedToSysPath) {
    ICDHandler* handler = loadHandler("plugin_bus.xml");
    ASSERT_NE(handler, nullptr);
    const struct {
        const char* fileName;
        std::vector<std::string> appended;
    } cases[] = {
        {"C:\\work\\scripts\\demo.py", {"C:/work/scripts/", "C:/work/scripts/lib/site-packages"}},
        {"ppp-no-such-script.py", {"", "lib/site-packages"}},
    };
    for (const auto& each : cases) {
        auto plugin = makePlugin(each.fileName);
        {
            CaptureOutput output;
            assignHandler(plugin.get(), handler);
        }
        EXPECT_EQ(lastPathEntries(*plugin, 2), each.appended) << each.fileName;
    }
}

}  // namespace
