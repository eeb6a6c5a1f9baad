// A script whose callables and encoders replace, delete or rebind themselves while the plug-in
// runs them (tests/data/hostile/rebinds_while_running.py). Each call runs the callable that was
// installed when it began; a replaced callable is freed as soon as its call ends, so a slot never
// keeps more than the one reference it owns; encoders keep working or fail cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

TEST(ScriptsChangingThemselves, CallablesAndEncodersReplacedWhileTheyRunFinishAndAreThenFreed) {
    Watchdog watchdog("callables and encoders replacing themselves", 60s);
    CaptureOutput output;
    harness::HostilePlugin rebinding("rebinds_while_running.py");
    ProxyPythonPlugin& plugin = *rebinding.plugin;
    PySession* session = rebinding.session();
    for (int round = 0; round < 3; ++round) {
        plugin.start();
        plugin.stop();
        plugin.onPluginAction(1);
    }
    for (int event = 0; event < 5; ++event) {
        rebinding.handler->deliverICDEvent(5, 0);
    }
    const bool idle = ProxyPluginPyHandlerInterface::waitUntilAllIdle(30s);
    // The dictionary action deletes the script's only reference to itself while it runs.
    bool executed[2] = {};
    ICDDictionary results[2];
    for (int round = 0; round < 2; ++round) {
        PySession::Use use(session);
        executed[round] = plugin.getPluginAction(0)->execute(ICDDictionary(), &results[round]);
    }
    // Each encode of the number installs the next generation on its field while it runs; the
    // running one finishes with its own. The text encoder deletes its class's encode while
    // running, and its decode rebinds itself on the instance.
    ICDGenericMessageField* number = rebinding.field("int");
    ICDGenericMessageField* text = rebinding.field("text");
    std::string conversions;
    for (bool converted :
         {number->setValue(Value(5)) && number->encode() && number->getRaw() == 5u,
          number->encode() && number->getRaw() == 6u,
          number->decode(10, false) && number->getValue() == Value(8),
          text->setValue(Value(std::string("hello"))) && text->encode() &&
              text->getRawText() == "HELLO",
          !text->encode(), text->decodeText("RAW") && text->getValue() == Value(std::string("raw")),
          text->decodeText("RAW") && text->getValue() == Value(std::string("rebound RAW"))}) {
        conversions += converted ? "+" : "-";
    }
    output.stop();

    EXPECT_TRUE(idle);
    EXPECT_EQ(conversions, "+++++++");
    EXPECT_TRUE(executed[0] && executed[1] && results[1].getBoolean("ran"));
    EXPECT_EQ(harness::evalText(session, "log"),
              "['start 0', 'stop 0', 'action 0', 'start 1', 'stop 1', 'action 1', 'start 2', "
              "'stop 2', 'action 2', 'event 0', 'event 1', 'event 2', 'event 3', 'event 4']");
    // Only the generation now installed is alive: no replaced callable kept a reference.
    EXPECT_EQ(harness::evalText(session, "[alive(kind) for kind in INSTALL]"),
              "[[3], [3], [3], [5]]");
    EXPECT_EQ(harness::evalText(session, "'body' in globals(), 'forgetting' in globals()"),
              "(False, False)");
    EXPECT_NE(output.err().find("<class 'AttributeError'>: 'ForgettingCoder' object has no "
                                "attribute 'encode'"),
              std::string::npos)
        << output.err();
    EXPECT_FALSE(harness::errorPending(session));
}

}  // namespace
