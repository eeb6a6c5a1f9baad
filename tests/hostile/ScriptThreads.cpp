// A script whose own Python threads call the plug-in's module functions as fast as they can
// (tests/data/hostile/spawns_threads.py), beside host threads that encode and decode its fields and
// the host's thread that runs it, and after its plug-in object is deleted. Nothing deadlocks,
// nothing raises into the threads, every conversion is right. A daemon thread of the script is
// still running when the test program ends, and so while the library's static objects are
// destroyed: its lookups must not depend on them.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "CaptureOutput.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "PluginHarness.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

constexpr int kHostRounds = 600 / harness::kSlowdown;

// Encodes and decodes a numeric STATUS field of type T, and STATUS.text when `withText`, through
// the script's doubling encoders. Each host thread has fields of its own.
template <typename T>
std::string checkFields(ICDHandler* handler, const std::string& name, bool withText, T value) {
    ICDMessage* status = handler->findMessage("STATUS");
    ICDGenericMessageField* number = status->findMessageField(name);
    const std::string what = name + " " + std::to_string(value);
    if (!number->setValue(Value(value)) || !number->encode() ||
        number->getRaw() != static_cast<unsigned long long>(2 * value)) {
        return what + " encoded to " + std::to_string(number->getRaw());
    }
    if (!number->decode(static_cast<unsigned long long>(4 * value), false) ||
        number->getValue() != Value(static_cast<T>(2 * value))) {
        return what + " decoded to " + number->valueText();
    }
    ICDGenericMessageField* text = status->findMessageField("text");
    const std::string word = "word" + std::to_string(value);
    if (withText && (!text->setValue(Value(word)) || !text->encode() ||
                     text->getRawText() != "WORD" + std::to_string(value))) {
        return word + " encoded to " + text->getRawText();
    }
    return std::string();
}

TEST(ScriptThreads, PythonThreadsCallingThePluginRunBesideTheHostAndOutliveThePluginObject) {
    Watchdog watchdog("a script's Python threads against the host", 100s);
    ICDHandler* handler = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
    ASSERT_NE(handler, nullptr);
    harness::ScratchDir scripts;
    auto* plugin = new ProxyPythonPlugin("ProxyPythonPlugin?");
    CaptureOutput output;
    harness::setUp(plugin, scripts.copy("hostile", "spawns_threads.py"), {handler});
    PySession* session = plugin->getSession();
    ASSERT_NE(session, nullptr);

    constexpr int kEncoders = 2;
    Barrier barrier(kEncoders + 1);
    std::vector<std::string> failures[kEncoders];
    std::vector<std::thread> threads;
    for (int t = 0; t < kEncoders; ++t) {
        threads.emplace_back([&, t] {
            barrier.arriveAndWait();
            for (int i = 0; i < kHostRounds; ++i) {
                const std::string failure =
                    t == 0 ? checkFields<int>(handler, "int", true, i)
                           : checkFields<long long>(handler, "longlong", false, i);
                if (!failure.empty() && failures[t].size() < 10) {
                    failures[t].push_back(failure);
                }
            }
        });
    }
    barrier.arriveAndWait();
    for (int i = 0; i < kHostRounds; ++i) {
        plugin->start();
        plugin->onPluginAction(static_cast<unsigned int>(i));
        handler->deliverICDEvent(static_cast<unsigned int>(1000 + i), 0);
        plugin->stop();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // What the host's onDestroy does, while the script's threads go on calling.
    plugin->stop();
    std::this_thread::sleep_for(100ms);
    delete plugin;
    std::this_thread::sleep_for(200ms);
    const bool joined = harness::run(session, "join_threads()");
    output.stop();

    EXPECT_TRUE(joined);
    for (int t = 0; t < kEncoders; ++t) {
        EXPECT_TRUE(failures[t].empty()) << harness::joined(failures[t]);
    }
    EXPECT_EQ(harness::evalText(session, "escaped"), "[]");
    EXPECT_GT(harness::evalInteger(session, "min(rounds)"), 0);
    EXPECT_GT(harness::evalInteger(session, "events[0]"), 0);
    EXPECT_FALSE(harness::errorPending(session));
    // The only reports: top-level actions added after the plug-in object was deleted.
    const std::vector<std::string> unexpected = harness::unexpectedLines(
        output.err(), {std::regex("Traceback \\(most recent call last\\):"), std::regex("  .*"),
                       std::regex("RuntimeError: the plug-in object of this script has been "
                                  "deleted")});
    EXPECT_TRUE(unexpected.empty()) << harness::joined(unexpected);
}

TEST(ScriptThreads, HandlerKeyLookupsOfAThreadRunningAtExitNeverReadTheDestroyedHandlerTable) {
    ICDHandler* handler = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
    ASSERT_NE(handler, nullptr);
    harness::ScratchDir scripts;
    ProxyPythonPlugin plugin("ProxyPythonPlugin?");
    CaptureOutput output;
    harness::setUp(&plugin, scripts.copy("hostile", "bystander.py"), {handler});
    output.stop();
    const std::string key = ProxyPythonPlugin::handlerKeyOf(handler);
    ProxyPluginPyHandlerInterface* bridge = ProxyPluginPyInterface::findHandlerInterface(key);
    ASSERT_NE(bridge, nullptr);

    // What the process's exit does to the table while a script's daemon thread still runs; the
    // freed memory is then reused for texts of the same size.
    auto& table = ProxyPluginPyInterface::_proxy_handler_map;
    std::map<std::string, ProxyPluginPyHandlerInterface*> kept;
    kept.swap(table);
    kept.clear();
    std::vector<std::string> reuse(64, std::string(key.size(), 'x'));

    // Asked on a new thread: the calling thread remembers its last answer.
    ProxyPluginPyHandlerInterface* found = nullptr;
    std::thread([&] { found = ProxyPluginPyInterface::findHandlerInterface(key); }).join();
    EXPECT_EQ(found, bridge);
}

}  // namespace
