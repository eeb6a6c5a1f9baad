// A script thread spinning in a pure-Python loop never blocks, so it gives up the interpreter lock
// only when another thread asks for it. Every interpreter shares that lock, and on CPython 3.9 to
// 3.12 a waiter asks in its own interpreter only: without the library's hand-off another
// plug-in's session entry, and every shut-down, would wait for good behind the spinning thread.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/hostile/PluginHarness.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;

TEST(BusyScriptThreads, AnotherPluginRunsAndEveryPluginShutsDownWhileAScriptThreadSpins) {
    Watchdog watchdog("plug-ins beside a spinning script thread", 60s);
    harness::HostilePlugin busy("spins_in_thread.py");
    harness::HostilePlugin other("spins_in_thread.py");
    PySession* busySession = busy.session();
    PySession* otherSession = other.session();
    ASSERT_NE(busySession, nullptr);
    ASSERT_NE(otherSession, nullptr);

    busy.plugin->onPluginAction(1);  // returns once the thread runs
    {
        // A liveness bound, not a speed target: without the hand-off this waits for good.
        Watchdog bound("another plug-in's actions and every shut-down beside a spinning thread",
                       2s);
        const auto started = std::chrono::steady_clock::now();
        for (int i = 0; i < 3; ++i) {
            other.plugin->onPluginAction(2);
        }
        const auto answered = std::chrono::steady_clock::now();
        EXPECT_EQ(harness::evalText(otherSession, "answered[0]"), "3");
        other.plugin->stop();
        other.plugin.reset();
        busy.plugin->stop();
        busy.plugin.reset();
        const auto ms = [&](auto end) {
            return std::to_string(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - started).count());
        };
        RecordProperty("three_actions_ms", ms(answered));
        RecordProperty("actions_and_shut_down_ms", ms(std::chrono::steady_clock::now()));
    }
    // The spinning thread went on all along, in its own interpreter.
    EXPECT_EQ(harness::evalText(busySession, "stop_spinning() > 0"), "True");
    EXPECT_EQ(harness::evalText(busySession, "answered[0]"), "0");
}

}  // namespace
