// Scripts that replace, delete or rebind their callables and encoders while the plug-in runs them
// (tests/data/hostile/rebinds_while_running.py). Each call runs the callable that was installed
// when it began; a replaced callable is freed as soon as its call ends, so a slot never keeps
// more than the one reference it owns; encoders keep working or fail cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "CaptureOutput.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "PluginHarness.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

class ScriptsChangingThemselves : public ::testing::Test {
protected:
    void SetUp() override {
        handler = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
        ASSERT_NE(handler, nullptr);
        CaptureOutput output;
        harness::setUp(&plugin, scripts.copy("hostile", "rebinds_while_running.py"), {handler});
        output.stop();
        ASSERT_EQ(output.err(), "");
        session = plugin.getSession();
        ASSERT_NE(session, nullptr);
    }

    ICDGenericMessageField* field(const std::string& name) {
        return handler->findMessage("STATUS")->findMessageField(name);
    }
    std::string script(const std::string& expression) {
        return harness::evalText(session, expression);
    }

    ICDHandler* handler = nullptr;
    harness::ScratchDir scripts;
    ProxyPythonPlugin plugin{"ProxyPythonPlugin?"};
    PySession* session = nullptr;
};

TEST_F(ScriptsChangingThemselves, CallablesReplacedWhileTheyRunAreFreedOnceTheirCallEnds) {
    Watchdog watchdog("callables replacing themselves", 60s);
    CaptureOutput output;
    for (int round = 0; round < 3; ++round) {
        plugin.start();
        plugin.stop();
        plugin.onPluginAction(1);
    }
    for (int event = 0; event < 5; ++event) {
        handler->deliverICDEvent(5, 0);
    }
    ASSERT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(30s));
    output.stop();
    EXPECT_EQ(output.err(), "");

    EXPECT_EQ(script("[entry for entry in log if entry.startswith('start')]"),
              "['start 0', 'start 1', 'start 2']");
    EXPECT_EQ(script("[entry for entry in log if entry.startswith('event')]"),
              "['event 0', 'event 1', 'event 2', 'event 3', 'event 4']");
    // Only the generation now installed is alive: no replaced callable kept a reference.
    EXPECT_EQ(script("alive('start')"), "[3]");
    EXPECT_EQ(script("alive('stop')"), "[3]");
    EXPECT_EQ(script("alive('action')"), "[3]");
    EXPECT_EQ(script("alive('event')"), "[5]");
    EXPECT_FALSE(harness::errorPending(session));
}

TEST_F(ScriptsChangingThemselves, ADictionaryActionDeletingItsOnlyScriptReferenceStillRuns) {
    ICDPluginAction* action = nullptr;
    for (unsigned int index = 0; index < plugin.getPluginActionSize(); ++index) {
        if (plugin.getPluginAction(index)->getId() == 7) {
            action = plugin.getPluginAction(index);
        }
    }
    ASSERT_NE(action, nullptr);
    for (int round = 0; round < 2; ++round) {
        PySession::Use use(session);
        ICDDictionary output;
        EXPECT_TRUE(action->execute(ICDDictionary(), &output));
        EXPECT_TRUE(output.getBoolean("ran"));
    }
    EXPECT_EQ(script("'body' in globals()"), "False");
}

TEST_F(ScriptsChangingThemselves, EncodersReplacingOrRebindingThemselvesWorkOrFailCleanly) {
    Watchdog watchdog("encoders replacing themselves", 60s);
    CaptureOutput output;
    // Each encode installs the next generation on its own field while it runs; the running one
    // finishes with its own generation.
    ICDGenericMessageField* number = field("int");
    ASSERT_TRUE(number->setValue(Value(5)));
    ASSERT_TRUE(number->encode());
    EXPECT_EQ(number->getRaw(), 5u);
    ASSERT_TRUE(number->encode());
    EXPECT_EQ(number->getRaw(), 6u);
    ASSERT_TRUE(number->decode(10, false));
    EXPECT_EQ(number->getValue(), Value(8));

    // The text encoder deletes its class's encode while running: the next encode fails cleanly.
    // Its decode rebinds itself on the instance: the next decode runs the new one.
    ICDGenericMessageField* text = field("text");
    ASSERT_TRUE(text->setValue(Value(std::string("hello"))));
    EXPECT_TRUE(text->encode());
    EXPECT_EQ(text->getRawText(), "HELLO");
    EXPECT_FALSE(text->encode());
    EXPECT_TRUE(text->decodeText("RAW"));
    EXPECT_EQ(text->getValue(), Value(std::string("raw")));
    EXPECT_TRUE(text->decodeText("RAW"));
    EXPECT_EQ(text->getValue(), Value(std::string("rebound RAW")));
    output.stop();

    EXPECT_NE(output.err().find("'ForgettingCoder' object has no attribute 'encode'"),
              std::string::npos)
        << output.err();
    EXPECT_EQ(script("'forgetting' in globals()"), "False");
    EXPECT_FALSE(harness::errorPending(session));
}

}  // namespace
