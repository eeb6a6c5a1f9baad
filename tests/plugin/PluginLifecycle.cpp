// A set-up proxy plug-in answering the host: start, stop, action requests, its help action and
// document, and what is left of it for the script once it is deleted.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureOutput.h"
#include "ScriptedPluginSupport.h"
#include "Watchdog.h"
#include "plugin/ProxyPythonPlugin.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace {

using namespace plugintest;

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        _handler = loadHandler("plugin_bus.xml");
        ASSERT_NE(_handler, nullptr);
    }

    // A plug-in running lifecycle.py from the scratch directory, set up on the test's handler.
    std::unique_ptr<ProxyPythonPlugin> setUpPlugin(const std::string& script = "lifecycle.py") {
        auto plugin = std::make_unique<ProxyPythonPlugin>("ProxyPythonPlugin?");
        plugin->setFileName(_dir.copy(script));
        CaptureOutput output;
        assignHandler(plugin.get(), _handler);
        return plugin;
    }

    ScriptDir _dir;
    ICDHandler* _handler = nullptr;
};

TEST_F(LifecycleTest, StartAndStopFollowTheScriptsAnswersAndOnlyTrueCounts) {
    auto plugin = setUpPlugin();
    PySession* session = plugin->getSession();
    auto outputOf = [&](void (ProxyPythonPlugin::*call)()) {
        CaptureOutput output;
        (plugin.get()->*call)();
        return output.out() + output.err();
    };

    runInScript(session, "start_answer = 1");
    EXPECT_EQ(outputOf(&ProxyPythonPlugin::start), "script start\nLifecycle::Start() 0\n");
    EXPECT_FALSE(plugin->isRunning());

    runInScript(session, "start_answer = True");
    EXPECT_EQ(outputOf(&ProxyPythonPlugin::start), "script start\nLifecycle::Start() 1\n");
    EXPECT_TRUE(plugin->isRunning());
    EXPECT_EQ(outputOf(&ProxyPythonPlugin::start), "");

    runInScript(session, "stop_answer = False");
    EXPECT_EQ(outputOf(&ProxyPythonPlugin::stop), "script stop\n");
    EXPECT_TRUE(plugin->isRunning());

    runInScript(session, "stop_answer = True");
    EXPECT_EQ(outputOf(&ProxyPythonPlugin::stop), "script stop\n");
    EXPECT_FALSE(plugin->isRunning());
    // Stopped already: the script is asked all the same.
    EXPECT_EQ(outputOf(&ProxyPythonPlugin::stop), "script stop\n");
}

TEST_F(LifecycleTest, ActionRequestsReachTheScriptButTheHelpActionOpensThePydocPage) {
    OpenRecorder recorder(_dir);
    auto plugin = setUpPlugin();
    EXPECT_TRUE(_dir.exists("ProxyPluginObject.html"));
    EXPECT_NE(readFile(_dir.path() + "ProxyPluginObject.html").find("ProxyPluginObject"),
              std::string::npos);
    EXPECT_EQ(plugin->getHelpFile(), _dir.path() + "ProxyPluginObject.html");

    CaptureOutput action;
    plugin->onPluginAction(5);
    EXPECT_EQ(action.out(), "script action 5\n");

    // The script registered an action with the help action's id: the request still stays out.
    CaptureOutput help;
    plugin->onPluginAction(ProxyPythonPlugin::HELP_ACTION_ID);
    EXPECT_EQ(help.out(), "");
    EXPECT_EQ(help.err(), "");
    EXPECT_EQ(recorder.opened(), _dir.path() + "ProxyPluginObject.html\n");
}

TEST_F(LifecycleTest, CompiledHelpBesideTheScriptIsOpenedAndNoPageIsGenerated) {
    OpenRecorder recorder(_dir);
    _dir.write("ProxyPythonPlugin.chm", "compiled help");
    auto plugin = std::make_unique<ProxyPythonPlugin>("ProxyPythonPlugin?");
    plugin->setFileName(_dir.copy("lifecycle.py"));
    CaptureOutput setUp;
    assignHandler(plugin.get(), _handler);
    setUp.stop();

    EXPECT_EQ(setUp.out().find("wrote"), std::string::npos) << setUp.out();
    EXPECT_FALSE(_dir.exists("ProxyPluginObject.html"));
    EXPECT_EQ(plugin->getHelpFile(), _dir.path() + "ProxyPythonPlugin.chm");

    plugin->onPluginAction(ProxyPythonPlugin::HELP_ACTION_ID);
    EXPECT_EQ(recorder.opened(), _dir.path() + "ProxyPythonPlugin.chm\n");
}

TEST_F(LifecycleTest, PluginNeverGivenAHandlerIgnoresStartStopAndActionsSilently) {
    OpenRecorder recorder(_dir);
    ProxyPythonPlugin plugin("ProxyPythonPlugin?");
    plugin.setFileName(_dir.copy("lifecycle.py"));

    CaptureOutput output;
    plugin.start();
    plugin.stop();
    plugin.onPluginAction(5);
    plugin.onPluginAction(ProxyPythonPlugin::HELP_ACTION_ID);
    output.stop();

    EXPECT_EQ(output.out(), "");
    EXPECT_EQ(output.err(), "");
    EXPECT_FALSE(plugin.isRunning());
    EXPECT_FALSE(plugin.isInitialised());
    EXPECT_EQ(plugin.getSession(), nullptr);
    EXPECT_EQ(recorder.openedNow(), "");
}

TEST_F(LifecycleTest, ScriptEventsAddActionsToALivePluginAndNeverReachADeletedOne) {
    Watchdog watchdog("events after deletion", std::chrono::seconds(30));
    auto plugin = setUpPlugin("events.py");
    ProxyPluginPyInterface* interface = plugin->getInterface();
    const unsigned int actionsBefore = plugin->getPluginActionSize();

    CaptureOutput live;
    _handler->deliverICDEvent(1234, 0);
    EXPECT_TRUE(ProxyPythonPluginWaitForEvents(5000));
    live.stop();
    EXPECT_EQ(live.out(), "event 1234\n");
    ASSERT_EQ(plugin->getPluginActionSize(), actionsBefore + 1);
    EXPECT_EQ(plugin->getPluginAction(actionsBefore)->getName(), "Event 1234");

    plugin.reset();
    EXPECT_EQ(interface->getPlugin(), nullptr);

    CaptureOutput afterDeletion;
    _handler->deliverICDEvent(1235, 0);
    EXPECT_TRUE(ProxyPythonPluginWaitForEvents(5000));
    afterDeletion.stop();
    EXPECT_EQ(afterDeletion.out(), "event 1235\n");
    EXPECT_NE(afterDeletion.err().find("RuntimeError"), std::string::npos) << afterDeletion.err();
}

}  // namespace
