// The registry object's lock against the interpreter lock: script code running under the lock
// re-enters it on its own thread, and a bridge thread's event callable that needs the lock while
// an action callable holds it on the host's thread never leaves the two waiting on each other.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Barrier.h"
#include "CaptureOutput.h"
#include "ScriptFixture.h"
#include "Watchdog.h"

namespace {

TEST(InterfaceLockOrder, ScriptCodeRunningUnderTheLockReentersItOnItsOwnThread) {
    Watchdog watchdog("re-entry of the interface lock", std::chrono::seconds(60));
    ScriptFixture script;
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 1, 'Check', pp.ACTION_TYPE_CHECKABLE)\n"
                   "def halt():\n"
                   "    pp.addSimpleAction(ID, 3, 'from stop', 1)\n"
                   "    return True\n"
                   "pp.setStopCallback(ID, halt)\n"
                   "def act(i):\n"
                   "    pp.setChecked(ID, 1, 1)\n"
                   "    pp.addSimpleAction(ID, 2, 'from action', 1)\n"
                   "    pp.addCallableAction(ID, 4, 'callable from action', lambda: {})\n"
                   "pp.setOnPluginActionCallback(ID, act)\n"));

    {
        PySession::Use use(script.session());
        script.registry().onPluginAction(9);
    }

    EXPECT_TRUE(script.truth("pp.getChecked(ID, 1) is True"));
    ASSERT_EQ(script.owner().getPluginActionSize(), 4u);
    EXPECT_EQ(script.owner().getPluginAction(1)->getName(), "from stop");
    EXPECT_EQ(script.owner().getPluginAction(2)->getName(), "from action");
    EXPECT_EQ(script.owner().getPluginAction(3)->getName(), "callable from action");
}

TEST(InterfaceLockOrder, AThreadTheScriptStartedWaitsForTheLockWithoutHoldingTheInterpreter) {
    Watchdog watchdog("script thread against action callable", std::chrono::seconds(60));
    ScriptFixture script;
    ASSERT_TRUE(
        script.run("import threading, time\n"
                   "workers = []\n"
                   "def add_late():\n"
                   "    pp.addSimpleAction(ID, 2, 'from thread', 1)\n"
                   "def act(i):\n"
                   "    t = threading.Thread(target=add_late)\n"
                   "    workers.append(t)\n"
                   "    t.start()\n"
                   "    time.sleep(0.05)\n"
                   "    pp.addSimpleAction(ID, 1, 'from action', 1)\n"
                   "pp.setOnPluginActionCallback(ID, act)\n"));

    {
        PySession::Use use(script.session());
        script.registry().onPluginAction(1);
    }
    ASSERT_TRUE(script.run("workers[0].join()\n"));

    ASSERT_EQ(script.owner().getPluginActionSize(), 2u);
    // The thread waited for the action callable to finish before it could attach its action.
    EXPECT_EQ(script.owner().getPluginAction(0)->getName(), "from action");
    EXPECT_EQ(script.owner().getPluginAction(1)->getName(), "from thread");
}

TEST(InterfaceLockOrder, AnEventCallableAndAnActionCallableNeverDeadlock) {
    constexpr int kRounds = 300;
    Watchdog watchdog("action callable against event callable", std::chrono::seconds(60));
    ScriptFixture script;
    script.attachHandler();
    ASSERT_TRUE(
        script.run("import sys, time\n"
                   "old_interval = sys.getswitchinterval()\n"
                   "sys.setswitchinterval(1e-6)\n"
                   "pp.addSimpleAction(ID, 1, 'Mode', pp.ACTION_TYPE_EX_GROUP)\n"
                   "pp.addSimpleAction(ID, 2, 'A', pp.ACTION_TYPE_CHECKABLE, 1)\n"
                   "pp.addSimpleAction(ID, 3, 'B', pp.ACTION_TYPE_CHECKABLE, 1)\n"
                   "actions = []\n"
                   "events = []\n"
                   "def act(i):\n"
                   "    actions.append(i)\n"
                   "    pp.setChecked(ID, 2, 1)\n"
                   "    time.sleep(0)\n"
                   "    sum(range(200))\n"
                   "    pp.addSimpleAction(ID, 1000, 'from action', 1)\n"
                   "def on_event(e):\n"
                   "    events.append(e)\n"
                   "    pp.setChecked(ID, 3, 1)\n"
                   "    pp.addSimpleAction(ID, 2000, 'from event', 1)\n"
                   "pp.setOnPluginActionCallback(ID, act)\n"
                   "pp.setConsumeICDEventCallback(ID, KEY, on_event)\n"));
    const unsigned int before = script.owner().getPluginActionSize();
    ICDHandler* handler = script.handler();
    ProxyPluginPyHandlerInterface* bridge =
        ProxyPluginPyInterface::findHandlerInterface(ScriptFixture::keyOf(handler));
    ASSERT_NE(bridge, nullptr);

    Barrier barrier(2);
    std::thread host([&] {
        barrier.arriveAndWait();
        for (int round = 0; round < kRounds; ++round) {
            PySession::Use use(script.session());
            script.registry().onPluginAction(static_cast<unsigned int>(round));
        }
    });
    std::thread events([&] {
        barrier.arriveAndWait();
        for (int round = 0; round < kRounds; ++round) {
            handler->sendICDEvent(5000);
            if (round % 16 == 0) {
                std::this_thread::yield();
            }
        }
    });
    host.join();
    events.join();
    const bool idle = bridge->waitUntilIdle(std::chrono::seconds(60));
    ASSERT_TRUE(script.run("sys.setswitchinterval(old_interval)\n"));

    EXPECT_TRUE(idle);
    EXPECT_EQ(script.number("len(actions)"), kRounds);
    EXPECT_EQ(script.number("len(events)"), kRounds);
    EXPECT_EQ(script.owner().getPluginActionSize(), before + 2u * kRounds);
    // Both children were checked many times; the group leaves exactly one checked.
    EXPECT_EQ(script.number("int(pp.getChecked(ID, 2)) + int(pp.getChecked(ID, 3))"), 1);
}

}  // namespace
