// Four plug-ins on two ICDs, each with an interpreter lock of its own and a script thread spinning
// in pure Python, under host threads raising events on both ICDs and encoding and decoding
// through every plug-in's encoders, for about a minute: every plug-in keeps its own event callable
// on its own bridge and gets every event of its ICD once and in order, every conversion is right,
// no reference is gained or lost, nothing is printed, nothing deadlocks. Runs in the suite's
// second pass on CPython 3.12 and later (PROXYPLUGIN_ISOLATION=own-gil, scripts/versions.sh).
#include <gtest/gtest.h>

#include <Python.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/Barrier.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

constexpr int kRaisingThreads = 4;
constexpr int kEncodingThreads = 2;
// How long the host threads keep at it; the bridges then empty their queues.
constexpr auto kLoadTime = std::chrono::seconds(45 / harness::kSlowdown + 5);

class BusyPluginsWithOwnLocks : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(ProxyPythonPluginIsolation()) != "own-gil") {
            GTEST_SKIP() << "runs with a lock per interpreter (PROXYPLUGIN_ISOLATION=own-gil)";
        }
        for (const char* name : {"stress_a.xml", "stress_b.xml"}) {
            handlers.push_back(harness::loadHandler(harness::dataPath("stress", name)));
        }
        scripts.copy("stress", "busy_plugin.py");
        CaptureOutput setUpOutput;
        for (int index = 0; index < 4; ++index) {
            plugins.push_back(static_cast<ProxyPythonPlugin*>(ProxyPythonPluginNS::onCreate()));
            const std::string suffix = std::to_string(index % 2);
            const std::string script = "plugin" + std::to_string(index) + ".py";
            harness::setUp(
                plugins.back(),
                scripts.write(script, "from busy_plugin import *\nattach(['count" + suffix +
                                          "'], " + std::to_string(factor(index)) + ")\n"),
                {handlers[index / 2]});
        }
        setUpErrors = setUpOutput.err();
    }

    void TearDown() override {
        if (plugins.empty()) {
            return;
        }
        for (ProxyPythonPlugin* plugin : plugins) {
            harness::run(plugin->getSession(), "running[0] = False");
        }
        CaptureOutput quiet;
        ProxyPythonPluginNS::onDestroy();
    }

    static int factor(int plugin) { return plugin + 2; }

    std::string script(int plugin, const std::string& expression) {
        return harness::evalText(plugins[plugin]->getSession(), expression);
    }

    harness::ScratchDir scripts;
    std::vector<ICDHandler*> handlers;
    std::vector<ProxyPythonPlugin*> plugins;
    std::string setUpErrors;
};

TEST_F(BusyPluginsWithOwnLocks, EveryPluginGetsEveryEventOfItsIcdInOrderAndEveryConversionIsRight) {
    ASSERT_EQ(setUpErrors, "");
    Watchdog watchdog("four busy plug-ins with their own locks", 150s);
    const std::string counts = "[sys.getrefcount(handed) for handed in tracked]";
    std::vector<std::string> countsBefore;
    for (int plugin = 0; plugin < 4; ++plugin) {
        ASSERT_TRUE(harness::run(plugins[plugin]->getSession(), "import sys"));
        countsBefore.push_back(script(plugin, counts));
    }
    CaptureOutput output;
    std::atomic<bool> stop{false};
    std::vector<int> raised(kRaisingThreads, 0);
    std::atomic<int> conversions{0};
    std::atomic<int> wrong{0};
    Barrier barrier(kRaisingThreads + kEncodingThreads + 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kRaisingThreads; ++t) {
        threads.emplace_back([&, t] {
            barrier.arriveAndWait();
            int sequence = 0;
            for (; !stop.load(std::memory_order_relaxed); ++sequence) {
                for (ICDHandler* handler : handlers) {
                    handler->deliverICDEvent((t + 1) * 1000000 + sequence, sequence);
                }
                if (sequence % 8 == 7) {
                    // Leaves the bridges time to keep up: the queues stay short.
                    std::this_thread::sleep_for(1ms);
                }
            }
            raised[t] = sequence;
        });
    }
    // Encoding thread t converts field count<t> of both ICDs: the encoders of plug-ins t and 2 + t.
    for (int t = 0; t < kEncodingThreads; ++t) {
        threads.emplace_back([&, t] {
            barrier.arriveAndWait();
            for (int value = 0; !stop.load(std::memory_order_relaxed); ++value) {
                for (int h = 0; h < 2; ++h) {
                    const unsigned long long f = factor(2 * h + t);
                    ICDGenericMessageField* field =
                        handlers[h]->findMessage("HOST")->findMessageField("count" +
                                                                           std::to_string(t));
                    const bool right = field->setValue(Value(value)) && field->encode() &&
                                       field->getRaw() == value * f + 1 &&
                                       field->decode((value + 3) * f + 1, false) &&
                                       field->getValue() == Value(value + 3);
                    (right ? conversions : wrong).fetch_add(1);
                }
            }
        });
    }
    barrier.arriveAndWait();
    std::this_thread::sleep_for(kLoadTime);
    stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    const bool idle = ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s);
    output.stop();

    ASSERT_TRUE(idle) << "the bridges did not deliver every event within 60 s";
    EXPECT_EQ(output.err(), "");
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(conversions, 0);
    std::string expected = "[";
    for (int t = 0; t < kRaisingThreads; ++t) {
        expected += (t > 0 ? ", " : "") + std::to_string(raised[t]);
    }
    expected += "]";
    for (int plugin = 0; plugin < 4; ++plugin) {
        EXPECT_EQ(script(plugin, "faults, nexts"), "([], " + expected + ")") << plugin;
        EXPECT_EQ(script(plugin, "spins[0] == 0 and running[0]"), "True") << plugin;
        EXPECT_EQ(script(plugin, counts), countsBefore[plugin]) << plugin;
        EXPECT_FALSE(harness::errorPending(plugins[plugin]->getSession()));
    }
}

}  // namespace
