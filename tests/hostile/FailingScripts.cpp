// A script failing in every way a script can (an exception, sys.exit(), a raised SystemExit, a
// KeyboardInterrupt) in every kind of callable the plug-in calls: the host goes on, each failure
// is reported and nothing stays pending. icdhost runs the other failing scripts.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

TEST(FailingScripts, EveryKindOfCallableFailingInEveryWayIsReportedAndTheHostGoesOn) {
    Watchdog watchdog("callables failing in every way", 100s);
    CaptureOutput setUpOutput;
    harness::HostilePlugin hostile("fails_everywhere.py");
    ASSERT_EQ(setUpOutput.err(), "");
    ProxyPythonPlugin& plugin = *hostile.plugin;
    PySession* session = hostile.session();
    ICDGenericMessageField* number = hostile.field("int");
    ICDGenericMessageField* text = hostile.field("text");
    ProxyPluginPyHandlerInterface* bridge = ProxyPluginPyInterface::getHandlerInterface(
        ProxyPythonPlugin::handlerKeyOf(hostile.handler));
    ICDPluginAction* dictionaryAction = plugin.getPluginAction(0);
    ASSERT_EQ(dictionaryAction->getActionKind(), ACTION_KIND_DICTIONARY);

    // The way, the exception's name in a traceback, its class as transcoder reports give it.
    const std::vector<std::vector<std::string>> ways = {
        {"raise", "HostileError", "<class '__main__.HostileError'>"},
        {"exit", "SystemExit", "<class 'SystemExit'>"},
        {"SystemExit", "SystemExit", "<class 'SystemExit'>"},
        {"interrupt", "KeyboardInterrupt", "<class 'KeyboardInterrupt'>"}};
    for (const auto& way : ways) {
        ASSERT_TRUE(harness::run(session, "failure['how'] = '" + way[0] + "'"));
        CaptureOutput output;
        plugin.start();
        const bool running = plugin.isRunning();
        plugin.stop();
        plugin.onPluginAction(1);
        // setChecked runs the stop callable; its failure is printed, not raised into the script.
        const bool checked = harness::run(session, "assert pp.setChecked(ID, 8, 1) is True");
        bool executed = false;
        {
            PySession::Use use(session);
            ICDDictionary results;
            executed = dictionaryAction->execute(ICDDictionary(), &results);
        }
        hostile.handler->deliverICDEvent(5, 0);
        const bool delivered = bridge->waitUntilIdle(30s) && bridge->getLastError() == "event";
        const std::vector<bool> converted = {
            number->setValue(Value(5)) && number->encode(), number->decode(10, false),
            text->setValue(Value(std::string("hello"))) && text->encode(), text->decodeText("RAW")};
        const std::string printed = output.err();

        EXPECT_FALSE(running || executed) << way[0];
        EXPECT_TRUE(checked && delivered) << way[0];
        EXPECT_EQ(converted, std::vector<bool>(4, false)) << way[0];
        // Every failure reported, in order; the text transcoder says "encode" in both directions.
        const std::string named = way[1] + ": ";
        const std::string coded = way[2] + ": ";
        const std::string encodeError = "ERROR: encode returns python errors";
        std::size_t at = 0;
        for (const std::string& line :
             {named + "start", named + "stop", named + "action", named + "stop",
              named + "dictionary action", named + "event", encodeError, coded + "encode",
              std::string("ERROR: decode returns python errors"), coded + "decode", encodeError,
              coded + "encode", encodeError, coded + "decode"}) {
            at = ("\n" + printed).find("\n" + line + "\n", at);
            EXPECT_NE(at, std::string::npos) << way[0] << ": " << line << " in\n" << printed;
            at = at == std::string::npos ? 0 : at + line.size();
        }
        EXPECT_FALSE(harness::errorPending(session));
        EXPECT_EQ(harness::evalText(session, "6 * 7"), "42");
    }
}

}  // namespace
