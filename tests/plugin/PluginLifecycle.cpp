// A proxy plug-in answering the host: start, stop, action requests, its help document, and what
// is left of it for the script once it is deleted.
#include "plugin/ProxyPythonPluginNS.h"
#include "tests/plugin/ScriptedPluginSupport.h"
#include "tests/support/Watchdog.h"

using namespace plugintest;
using P = ProxyPythonPlugin;

TEST(PluginLifecycle, StartAndStopFollowTheScriptsAnswersAndOnlyTrueCounts) {
    ScriptDir dir("lifecycle.py");
    ScriptedPlugin script(dir.script);
    ProxyPythonPlugin* plugin = script.plugin.get();
    // The script's answer, the call, what is printed and the state after.
    const std::tuple<const char*, void (P::*)(), std::string> rows[] = {
        {"start_answer = 1", &P::start, "script start\nLifecycle::Start() 0\nstopped"},
        {"start_answer = True", &P::start, "script start\nLifecycle::Start() 1\nrunning"},
        {"start_answer = True", &P::start, "running"},
        {"stop_answer = False", &P::stop, "script stop\nrunning"},
        {"stop_answer = True", &P::stop, "script stop\nstopped"},
        {"stop_answer = True", &P::stop, "script stop\nstopped"},
    };
    for (const auto& [answer, call, expected] : rows) {
        EXPECT_TRUE(plugin->getSession()->eval(answer));
        CaptureOutput output;
        (plugin->*call)();
        const std::string state = plugin->isRunning() ? "running" : "stopped";
        EXPECT_EQ(output.out() + output.err() + state, expected) << answer;
    }
}

TEST(PluginLifecycle, HelpActionOpensCompiledHelpOrThePydocPageAndNeverReachesTheScript) {
    setenv("ICD_OPEN_COMMAND", dataPath("record-open.sh").c_str(), 1);
    for (const bool compiled : {false, true}) {
        ScriptDir dir("lifecycle.py", compiled);
        ScriptedPlugin script(dir.script);
        ProxyPythonPlugin* plugin = script.plugin.get();
        EXPECT_EQ(std::filesystem::exists(dir.path() + "ProxyPluginObject.html"), !compiled);
        CaptureOutput actions;
        plugin->onPluginAction(5);
        plugin->onPluginAction(P::HELP_ACTION_ID);
        EXPECT_EQ(actions.out() + actions.err(), "script action 5\n") << compiled;
        const char* page = compiled ? "ProxyPythonPlugin.chm\n" : "ProxyPluginObject.html\n";
        EXPECT_EQ(opened(dir.path()), dir.path() + page);
    }
}

TEST(PluginLifecycle, EventsNeverReachADeletedPluginThroughItsScript) {
    Watchdog watchdog("events after deletion", std::chrono::seconds(30));
    ScriptDir dir("lifecycle.py");
    ICDHandler* handler = loadHandler();
    ScriptedPlugin(dir.script, handler).plugin.reset();
    // The script's event callable still runs; its call on the plug-in fails cleanly.
    CaptureOutput deleted;
    handler->deliverICDEvent(1235, 0);
    const bool idle = ProxyPythonPluginWaitForEvents(5000);
    const std::string out = deleted.out(), err = deleted.err();
    EXPECT_TRUE(idle);
    EXPECT_EQ(out, "event 1235\n");
    EXPECT_NE(err.find("RuntimeError"), std::string::npos) << err;
}
