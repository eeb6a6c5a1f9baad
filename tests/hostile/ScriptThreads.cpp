// A script whose own Python threads call the plug-in's module functions as fast as they can
// (tests/data/hostile/spawns_threads.py), beside host threads that encode and decode its fields and
// the host's thread that runs it, and after its plug-in object is deleted. Nothing deadlocks,
// nothing raises into the threads, every conversion is right. A daemon thread of the script is
// still running when the test program ends, and so while the library's static objects are
// destroyed: its lookups must not depend on them. A thread of another script renames its plug-in
// while the host reads the name (tests/data/hostile/renames_itself.py).
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/Barrier.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

constexpr int kHostRounds = 600 / harness::kSlowdown;

TEST(ScriptThreads, PythonThreadsCallingThePluginRunBesideTheHostAndOutliveThePluginObject) {
    Watchdog watchdog("a script's Python threads against the host", 100s);
    CaptureOutput output;
    harness::HostilePlugin threads("spawns_threads.py");
    ICDHandler* handler = threads.handler;
    ProxyPythonPlugin* plugin = threads.plugin.get();
    PySession* session = threads.session();

    // Each host thread has fields of its own; the script's encoders double and upper-case.
    auto converts = [&](int t, int i) {
        ICDGenericMessageField* number = threads.field(t == 0 ? "int" : "longlong");
        ICDGenericMessageField* text = threads.field("text");
        const auto value = [&](int v) {
            return t == 0 ? Value(v) : Value(static_cast<long long>(v));
        };
        const std::string word = "w" + std::to_string(i);
        return number->setValue(value(i)) && number->encode() && number->getRaw() == 2u * i &&
               number->decode(4u * i, false) && number->getValue() == value(2 * i) &&
               (t == 1 || (text->setValue(Value(word)) && text->encode() &&
                           text->getRawText() == "W" + std::to_string(i)));
    };
    Barrier barrier(3);
    std::vector<int> failed[2];
    std::vector<std::thread> encoders;
    for (int t = 0; t < 2; ++t) {
        encoders.emplace_back([&, t] {
            barrier.arriveAndWait();
            for (int i = 0; i < kHostRounds; ++i) {
                if (!converts(t, i)) {
                    failed[t].push_back(i);
                }
            }
        });
    }
    barrier.arriveAndWait();
    for (int i = 0; i < kHostRounds; ++i) {
        plugin->start();
        plugin->onPluginAction(i);
        handler->deliverICDEvent(1000 + i, 0);
        plugin->stop();
    }
    for (std::thread& encoder : encoders) {
        encoder.join();
    }
    // What the host's onDestroy does, while the script's threads go on calling.
    plugin->stop();
    std::this_thread::sleep_for(100ms);
    threads.plugin.reset();
    std::this_thread::sleep_for(200ms);
    const bool joined = harness::run(session, "join_threads()");
    output.stop();

    EXPECT_TRUE(joined);
    EXPECT_EQ(failed[0], std::vector<int>());
    EXPECT_EQ(failed[1], std::vector<int>());
    EXPECT_EQ(harness::evalText(session, "escaped, min(rounds) > 0, events[0] > 0"),
              "([], True, True)");
    EXPECT_FALSE(harness::errorPending(session));
    // The only reports: top-level actions added after the plug-in object was deleted.
    EXPECT_EQ(harness::unexpectedLines(
                  output.err(), {std::regex("Traceback \\(most recent call last\\):|  .*"),
                                 std::regex("RuntimeError: the plug-in object of this script has "
                                            "been deleted")}),
              "");
}

TEST(ScriptThreads, TheHostReadsAWholeNameWhileAScriptThreadRenamesThePlugin) {
    Watchdog watchdog("the host reading the name a script thread writes", 60s);
    CaptureOutput output;
    // Set-up itself reads the name after the script has run, with the renaming thread started.
    harness::HostilePlugin renamer("renames_itself.py");
    PySession* session = renamer.session();
    ProxyPluginPyInterface* interface = renamer.plugin->getInterface();
    ASSERT_NE(interface, nullptr);
    const std::string first = harness::evalText(session, "NAMES[0]");
    const std::string second = harness::evalText(session, "NAMES[1]");
    const std::string setUpName = renamer.plugin->getName();
    // Read until both names were seen, which shows the reads overlapped the renaming.
    std::vector<std::string> torn;
    bool seen[2] = {false, false};
    for (long i = 0; i < 2000 / harness::kSlowdown || (!(seen[0] && seen[1]) && i < 5000000); ++i) {
        std::string name = interface->getName();
        if (name == first || name == second) {
            seen[name == second ? 1 : 0] = true;
        } else if (torn.size() < 5) {
            torn.push_back(std::move(name));
        }
    }
    const bool stopped = harness::run(session, "stop_renaming()");
    output.stop();

    EXPECT_TRUE(stopped);
    EXPECT_EQ(torn, std::vector<std::string>());
    EXPECT_TRUE(seen[0] && seen[1]);
    EXPECT_TRUE(setUpName == first || setUpName == second) << setUpName;
}

TEST(ScriptThreads, HandlerKeyLookupsOfAThreadRunningAtExitNeverReadTheDestroyedHandlerTable) {
    harness::HostilePlugin bystander("ends_at_load.py");
    const std::string key = ProxyPythonPlugin::handlerKeyOf(bystander.handler);
    ProxyPluginPyHandlerInterface* bridge = ProxyPluginPyInterface::getHandlerInterface(key);
    ASSERT_NE(bridge, nullptr);
    // What the process's exit does to the table while a script's daemon thread still runs; the
    // freed memory is then reused for texts of the same size.
    std::map<std::string, ProxyPluginPyHandlerInterface*>().swap(
        ProxyPluginPyInterface::_proxy_handler_map);
    std::vector<std::string> reuse(64, std::string(key.size(), 'x'));
    // Asked on a new thread: the calling thread remembers its last answer.
    ProxyPluginPyHandlerInterface* found = nullptr;
    std::thread([&] { found = ProxyPluginPyInterface::getHandlerInterface(key); }).join();
    EXPECT_EQ(found, bridge);
}

}  // namespace
