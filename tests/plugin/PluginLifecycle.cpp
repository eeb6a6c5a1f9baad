// A proxy plug-in answering the host: start, stop, action requests, its help document, and what
// is left of it for the script once it is deleted.
#include "PyInterpreter.h"
#include "ScriptedPluginSupport.h"
#include "Watchdog.h"
#include "plugin/ProxyPythonPluginNS.h"

namespace {

using namespace plugintest;
using P = ProxyPythonPlugin;

TEST(PluginLifecycle, StartAndStopFollowTheScriptsAnswersAndOnlyTrueCounts) {
    ScriptDir dir("lifecycle.py");
    auto plugin = makePlugin(dir.script, loadHandler("plugin_bus.xml"));
    // Sets the script's answer, makes the call, and tells what was printed and the state after.
    auto run = [&](const char* answer, void (P::*call)()) {
        EXPECT_TRUE(plugin->getSession()->eval(answer));
        CaptureOutput output;
        (plugin.get()->*call)();
        return output.out() + output.err() + (plugin->isRunning() ? "running" : "stopped");
    };
    EXPECT_EQ(run("start_answer = 1", &P::start), "script start\nLifecycle::Start() 0\nstopped");
    EXPECT_EQ(run("start_answer = True", &P::start), "script start\nLifecycle::Start() 1\nrunning");
    EXPECT_EQ(run("start_answer = True", &P::start), "running");
    EXPECT_EQ(run("stop_answer = False", &P::stop), "script stop\nrunning");
    EXPECT_EQ(run("stop_answer = True", &P::stop), "script stop\nstopped");
    EXPECT_EQ(run("stop_answer = True", &P::stop), "script stop\nstopped");
}

TEST(PluginLifecycle, HelpActionOpensCompiledHelpOrThePydocPageAndNeverReachesTheScript) {
    setenv("ICD_OPEN_COMMAND", dataPath("record-open.sh").c_str(), 1);
    for (const bool compiled : {false, true}) {
        ScriptDir dir("lifecycle.py", compiled);
        auto plugin = makePlugin(dir.script, loadHandler("plugin_bus.xml"));
        EXPECT_EQ(std::filesystem::exists(dir.path + "ProxyPluginObject.html"), !compiled);

        CaptureOutput actions;
        plugin->onPluginAction(5);
        plugin->onPluginAction(P::HELP_ACTION_ID);
        EXPECT_EQ(actions.out() + actions.err(), "script action 5\n") << compiled;
        const char* page = compiled ? "ProxyPythonPlugin.chm\n" : "ProxyPluginObject.html\n";
        EXPECT_EQ(opened(dir.path), dir.path + page);
    }
}

TEST(PluginLifecycle, EventsNeverReachADeletedPluginThroughItsScript) {
    Watchdog watchdog("events after deletion", std::chrono::seconds(30));
    ScriptDir dir("lifecycle.py");
    ICDHandler* handler = loadHandler("plugin_bus.xml");
    auto plugin = makePlugin(dir.script, handler);
    plugin.reset();

    // The script's event callable still runs; its call on the plug-in fails cleanly.
    CaptureOutput deleted;
    handler->deliverICDEvent(1235, 0);
    EXPECT_TRUE(ProxyPythonPluginWaitForEvents(5000));
    EXPECT_EQ(deleted.out(), "event 1235\n");
    EXPECT_NE(deleted.err().find("RuntimeError"), std::string::npos) << deleted.err();
}

}  // namespace
