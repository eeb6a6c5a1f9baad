// The registry object's lock against the interpreter lock: script code running under the lock
// re-enters it on its own thread (an action callable checking an action runs the stop callable,
// which adds an action), and a bridge thread's event callable that needs the lock while an action
// callable holds it on the host's thread never leaves the two waiting on each other.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "plugin/ProxyPythonPluginNS.h"
#include "tests/plugin/ScriptedPluginSupport.h"
#include "tests/support/Barrier.h"
#include "tests/support/Watchdog.h"

TEST(InterfaceLockOrder, ReentryAndAnEventCallableAgainstAnActionCallableNeverDeadlock) {
    constexpr int kRounds = 300;
    Watchdog watchdog("action callable against event callable", std::chrono::seconds(60));
    plugintest::ScriptedPlugin script;
    ASSERT_TRUE(
        script.run("import sys, time\nold_interval = sys.getswitchinterval()\n"
                   "sys.setswitchinterval(1e-6)\n"
                   "pp.addSimpleAction(ID, 1, 'Mode', pp.ACTION_TYPE_EX_GROUP)\n"
                   "pp.addSimpleAction(ID, 2, 'A', pp.ACTION_TYPE_CHECKABLE, 1)\n"
                   "pp.addSimpleAction(ID, 3, 'B', pp.ACTION_TYPE_CHECKABLE, 1)\n"
                   "actions, events, stops = [], [], []\n"
                   "def halt():\n    pp.addSimpleAction(ID, 3000, 'from stop', 1)\n"
                   "    return stops.append(1) or True\n"
                   "def act(i):\n    actions.append(i)\n    pp.setChecked(ID, 2, 1)\n"
                   "    time.sleep(0)\n    pp.addSimpleAction(ID, 1000, 'from action', 1)\n"
                   "def on_event(e):\n    events.append(e)\n    pp.setChecked(ID, 3, 1)\n"
                   "    pp.addSimpleAction(ID, 2000, 'from event', 1)\n"
                   "pp.setStopCallback(ID, halt)\npp.setOnPluginActionCallback(ID, act)\n"
                   "pp.setConsumeICDEventCallback(ID, KEY, on_event)"));
    const unsigned int before = script.plugin->getPluginActionSize();

    Barrier barrier(2);
    std::thread host([&] {
        barrier.arriveAndWait();
        for (int round = 0; round < kRounds; ++round) {
            PySession::Use use(script.plugin->getSession());
            script.registry().onPluginAction(static_cast<unsigned int>(round));
        }
    });
    std::thread events([&] {
        barrier.arriveAndWait();
        for (int round = 0; round < kRounds; ++round) {
            script.handler->sendICDEvent(5000);
        }
    });
    host.join();
    events.join();
    const bool idle = ProxyPythonPluginWaitForEvents(60000);
    ASSERT_TRUE(script.run("sys.setswitchinterval(old_interval)"));

    EXPECT_TRUE(idle);
    EXPECT_EQ(script.text("(len(actions), len(events), len(stops) > 0)"), "(300, 300, True)");
    EXPECT_EQ(script.plugin->getPluginActionSize(),
              before + 2u * kRounds + std::stoul(script.text("len(stops)")));
    // The group leaves exactly one child checked.
    EXPECT_EQ(script.text("int(pp.getChecked(ID, 2)) + int(pp.getChecked(ID, 3))"), "1");
}
