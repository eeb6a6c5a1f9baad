// A script failing in every way a script can (an exception, sys.exit(), a raised SystemExit, a
// KeyboardInterrupt) in every kind of callable the plug-in calls: the host goes on, each failure
// is reported and nothing stays pending. icdhost runs the other failing scripts.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

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

bool hasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(FailingScripts, EveryKindOfCallableFailingInEveryWayIsReportedAndTheHostGoesOn) {
    Watchdog watchdog("callables failing in every way", 100s);
    ICDHandler* handler = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
    harness::ScratchDir scripts;
    ProxyPythonPlugin plugin("ProxyPythonPlugin?");
    CaptureOutput setUpOutput;
    harness::setUp(&plugin, scripts.copy("hostile", "fails_everywhere.py"), {handler});
    ASSERT_EQ(setUpOutput.err(), "");
    PySession* session = plugin.getSession();
    ProxyPluginPyHandlerInterface* bridge =
        ProxyPluginPyInterface::findHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler));
    ASSERT_NE(bridge, nullptr);
    ICDPluginAction* dictionaryAction = plugin.getPluginAction(0);
    ASSERT_EQ(dictionaryAction->getActionKind(), ACTION_KIND_DICTIONARY);
    auto field = [&](const char* name) {
        return handler->findMessage("STATUS")->findMessageField(name);
    };

    // The way, the exception's name in a traceback, its class as transcoder reports give it.
    const std::vector<std::vector<std::string>> ways = {
        {"raise", "HostileError", "<class '__main__.HostileError'>"},
        {"exit", "SystemExit", "<class 'SystemExit'>"},
        {"SystemExit", "SystemExit", "<class 'SystemExit'>"},
        {"interrupt", "KeyboardInterrupt", "<class 'KeyboardInterrupt'>"}};
    for (const auto& way : ways) {
        ASSERT_TRUE(harness::run(session, "failure['how'] = '" + way[0] + "'"));
        const std::string named = way[1] + ": ";
        const std::string coded = way[2] + ": ";
        const std::string encodeError = "ERROR: encode returns python errors";
        struct Call {
            std::string what;
            std::function<bool()> failedCleanly;
            std::vector<std::string> lines;
        };
        const std::vector<Call> calls = {
            {"start",
             [&] {
                 plugin.start();
                 return !plugin.isRunning();
             },
             {named + "start"}},
            {"stop",
             [&] {
                 plugin.stop();
                 return true;
             },
             {named + "stop"}},
            {"action",
             [&] {
                 plugin.onPluginAction(1);
                 return true;
             },
             {named + "action"}},
            // setChecked runs the stop callable; its failure is printed, not raised into the
            // script.
            {"setChecked",
             [&] { return harness::run(session, "assert pp.setChecked(ID, 8, 1) is True"); },
             {named + "stop"}},
            {"dictionary action",
             [&] {
                 PySession::Use use(session);
                 ICDDictionary output;
                 return !dictionaryAction->execute(ICDDictionary(), &output);
             },
             {named + "dictionary action"}},
            {"event",
             [&] {
                 handler->deliverICDEvent(5, 0);
                 return bridge->waitUntilIdle(30s) && bridge->getLastError() == "event";
             },
             {named + "event"}},
            {"encode",
             [&] { return !(field("int")->setValue(Value(5)) && field("int")->encode()); },
             {encodeError, coded + "encode"}},
            {"decode",
             [&] { return !field("int")->decode(10, false); },
             {"ERROR: decode returns python errors", coded + "decode"}},
            {"text encode",
             [&] {
                 return !(field("text")->setValue(Value(std::string("hello"))) &&
                          field("text")->encode());
             },
             {encodeError, coded + "encode"}},
            // The text transcoder says "encode" in both directions.
            {"text decode",
             [&] { return !field("text")->decodeText("RAW"); },
             {encodeError, coded + "decode"}},
        };
        for (const Call& call : calls) {
            CaptureOutput output;
            const bool failedCleanly = call.failedCleanly();
            const std::string printed = output.err();
            EXPECT_TRUE(failedCleanly) << way[0] << " in " << call.what;
            for (const std::string& line : call.lines) {
                EXPECT_TRUE(hasLine(printed, line)) << way[0] << " in " << call.what << ":\n"
                                                    << printed;
            }
        }
        EXPECT_FALSE(harness::errorPending(session));
        EXPECT_EQ(harness::evalText(session, "6 * 7"), "42");
    }
}

}  // namespace
