// Module functions that act on an ICD handler: arguments reach the bridge as the script gave
// them and results come back to the script.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "CaptureOutput.h"
#include "ICDUiObject.h"
#include "ScriptFixture.h"

using ::testing::ElementsAre;

namespace {

class RecordingObject : public ICDUiObject {
public:
    bool consumeICDEvent(unsigned int event, unsigned long data) override {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _events.push_back(event);
        }
        return ICDUiObject::consumeICDEvent(event, data);
    }
    std::vector<unsigned int> events() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _events;
    }

private:
    std::mutex _mutex;
    std::vector<unsigned int> _events;
};

class HandlerFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        script.attachHandler();
        ICDMessage* message = script.handler()->addMessage("NAV", false);
        message->addField("alt", 511);
    }
    ScriptFixture script;
};

TEST_F(HandlerFunctions, ANegativeEventIdReachesTheHandlerAsItsUnsignedPattern) {
    RecordingObject recorder;
    script.handler()->registerUiObject(&recorder);

    ASSERT_TRUE(script.run("r = (pp.sendICDEvent(ID, KEY, -1), pp.sendICDEvent(ID, KEY, 12))\n"));

    EXPECT_EQ(script.text("r"), "(None, None)");
    EXPECT_THAT(recorder.events(), ElementsAre(4294967295u, 12u));
    script.handler()->unregisterUiObject(&recorder);
}

TEST_F(HandlerFunctions, RaiseErrorPassesTheTextAndTheClampedSeverity) {
    ASSERT_TRUE(script.run("r = pp.raiseError(ID, KEY, 'sensor lost', 7)\n"));

    EXPECT_TRUE(script.truth("r is True"));
    ASSERT_EQ(script.handler()->errors().size(), 1u);
    EXPECT_EQ(script.handler()->errors()[0].text, "sensor lost");
    EXPECT_EQ(script.handler()->errors()[0].severity, 3);
}

TEST_F(HandlerFunctions, CommitAndReservationResultsComeBackAsBooleans) {
    ASSERT_TRUE(
        script.run("r = (pp.commitSingleMessage(ID, KEY, 'NAV'),\n"
                   "     pp.commitSingleMessage(ID, KEY, 'NONE'),\n"
                   "     pp.commitSingleMessageField(ID, KEY, 'NAV', 'alt'),\n"
                   "     pp.setMessageFieldReserved(ID, KEY, 'NAV', 'alt', 1),\n"
                   "     pp.commitSingleMessageField(ID, KEY, 'NAV', 'alt'),\n"
                   "     pp.setMessageFieldReserved(ID, KEY, 'NAV', 'alt', 0))\n"));

    EXPECT_EQ(script.text("r"), "(True, False, False, True, True, True)");
}

TEST_F(HandlerFunctions, EncoderNamesComeBackAsTextOrNone) {
    ASSERT_TRUE(
        script.run("r = (type(pp.getEncoderName(ID, KEY, 'NAV', 'alt')).__name__,\n"
                   "     pp.getEncoderName(ID, KEY, 'NAV', 'nothing'))\n"));

    EXPECT_EQ(script.text("r"), "('str', None)");
}

TEST_F(HandlerFunctions, AnEncoderObjectIsInstalledThroughTheBridge) {
    ASSERT_TRUE(
        script.run("class Enc:\n"
                   "    name = 'scaled'\n"
                   "    def encode(self, v):\n        return int(v)\n"
                   "    def decode(self, w):\n        return float(w)\n"
                   "enc = Enc()\n"));
    CaptureOutput capture;
    ASSERT_TRUE(
        script.run("r = (pp.setEncodingFrom(ID, KEY, 'NAV', 'alt', enc),\n"
                   "     pp.setEncodingFrom(ID, KEY, 'NAV', 'none', enc))\n"));
    capture.stop();

    EXPECT_EQ(script.text("r"), "(True, False)");
}

TEST_F(HandlerFunctions, TheEventCallableIsStoredOnTheBridgeAndReceivesEvents) {
    ASSERT_TRUE(script.run("got = []\nr = pp.setConsumeICDEventCallback(ID, KEY, got.append)\n"));
    script.handler()->sendICDEvent(2999);
    script.handler()->sendICDEvent(3000);  // never forwarded to scripts
    ProxyPluginPyHandlerInterface* bridge =
        ProxyPluginPyInterface::findHandlerInterface(ScriptFixture::keyOf(script.handler()));
    ASSERT_TRUE(bridge->waitUntilIdle(std::chrono::seconds(10)));

    EXPECT_TRUE(script.truth("r is None"));
    EXPECT_EQ(script.text("got"), "[2999]");
}

TEST_F(HandlerFunctions, ARefusedEventCallableKeepsThePreviousOne) {
    ASSERT_TRUE(script.run("got = []\npp.setConsumeICDEventCallback(ID, KEY, got.append)\n"));
    CaptureOutput capture;
    ASSERT_TRUE(script.run("r = pp.setConsumeICDEventCallback(ID, KEY, 'not callable')\n"));
    capture.stop();
    script.handler()->sendICDEvent(17);
    ProxyPluginPyHandlerInterface* bridge =
        ProxyPluginPyInterface::findHandlerInterface(ScriptFixture::keyOf(script.handler()));
    ASSERT_TRUE(bridge->waitUntilIdle(std::chrono::seconds(10)));

    EXPECT_TRUE(script.truth("r is None"));
    EXPECT_THAT(capture.err(), ::testing::HasSubstr(" Failed to setCallbackByRef. 0x"));
    EXPECT_EQ(script.text("got"), "[17]");
}

}  // namespace
