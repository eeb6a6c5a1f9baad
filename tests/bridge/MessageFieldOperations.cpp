// What a script does to its handler's messages and fields through the bridge: report errors,
// commit messages and reserved fields, reserve and release fields, read encoder names and values.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureOutput.h"
#include "ICDHandler.h"
#include "ICDHost.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "tests/bridge/PluginSessions.h"

namespace {

class MessageFieldOperations : public ::testing::Test {
protected:
    void SetUp() override {
        session = plugin_sessions::sessionA();
        std::string error;
        handler = ICDHandler::load(PPP_TEST_DATA_DIR "/bridge/bridge.xml", &error);
        ASSERT_TRUE(handler) << error;
        bridge = std::make_unique<ProxyPluginPyHandlerInterface>(handler.get(), session);
        bridge->init();
        mode = handler->findMessage("COMMAND")->findMessageField("mode");
    }
    void TearDown() override {
        bridge.reset();
        ICDHost::setTrace(false);
    }

    // repr() of an operation's result, which is released; the operation runs with the session
    // held, as a module function runs it, and must leave no Python error pending. Asserts nothing:
    // some callers capture the output meanwhile.
    template <typename Operation>
    std::string call(Operation operation) {
        PySession::Use use(session);
        PyRef result = PyRef::steal(operation());
        if (PyErr_Occurred() != nullptr) {
            PyErr_Clear();
            return "<error pending>";
        }
        if (!result) {
            return "<null>";
        }
        PyRef text = PyRef::steal(PyObject_Repr(result.get()));
        return PyUnicode_AsUTF8(text.get());
    }
    std::string reserve(const char* field, bool on) {
        return call([&] { return bridge->setMessageFieldReserved("COMMAND", field, on); });
    }
    std::string commitField(const char* field) {
        return call([&] { return bridge->commitSingleMessageField("COMMAND", field); });
    }

    PySession* session = nullptr;
    std::unique_ptr<ICDHandler> handler;
    std::unique_ptr<ProxyPluginPyHandlerInterface> bridge;
    ICDGenericMessageField* mode = nullptr;
};

TEST_F(MessageFieldOperations, RaiseErrorClampsOnlyTheUpperSeverity) {
    EXPECT_EQ(call([&] { return bridge->raiseError("too hot", 7); }), "True");
    EXPECT_EQ(call([&] { return bridge->raiseError("cold", -1); }), "True");
    EXPECT_EQ(call([&] { return bridge->raiseError("warm", 3); }), "True");
    const auto errors = handler->errors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0].text, "too hot");
    EXPECT_EQ(errors[0].severity, 3);
    EXPECT_EQ(errors[1].severity, -1);
    EXPECT_EQ(errors[2].severity, 3);
}

TEST_F(MessageFieldOperations, WithoutAHandlerEveryOperationFailsQuietly) {
    ProxyPluginPyHandlerInterface alone(nullptr, session);
    CaptureOutput output;
    const std::string results =
        call([&] { return alone.raiseError("x", 1); }) + " " +
        call([&] { return alone.commitSingleMessage("COMMAND"); }) + " " +
        call([&] { return alone.commitSingleMessageField("COMMAND", "mode"); }) + " " +
        call([&] { return alone.setMessageFieldReserved("COMMAND", "mode", true); }) + " " +
        call([&] { return alone.getEncoderName("COMMAND", "mode"); }) + " " +
        call([&] { return alone.getAsUInt("COMMAND", "mode"); });
    const std::string printed = output.out() + output.err();
    EXPECT_EQ(results, "False False False False None None");
    EXPECT_EQ(printed, "");
}

TEST_F(MessageFieldOperations, CommittingAMessageCommitsAndTouchesItWhenTheIcdHoldsIt) {
    ICDMessage* command = handler->findMessage("COMMAND");
    const unsigned long commits = command->commitCount();
    const unsigned long touches = command->touchCount();
    EXPECT_EQ(call([&] { return bridge->commitSingleMessage("COMMAND"); }), "True");
    EXPECT_EQ(command->commitCount(), commits + 1);
    EXPECT_EQ(command->touchCount(), touches + 1);
    EXPECT_EQ(call([&] { return bridge->commitSingleMessage("NO_SUCH"); }), "False");
}

TEST_F(MessageFieldOperations, ReservingAFieldTwiceSucceedsOnlyTheFirstTime) {
    EXPECT_EQ(reserve("mode", true), "True");
    EXPECT_TRUE(mode->isReserved());
    EXPECT_EQ(reserve("mode", true), "False");
    EXPECT_EQ(reserve("no_such", true), "False");
    EXPECT_EQ(call([&] { return bridge->setMessageFieldReserved("NO_SUCH", "mode", true); }),
              "False");
}

TEST_F(MessageFieldOperations, OnlyAFieldThisBridgeReservedIsCommitted) {
    ICDHost::setTrace(true);
    // With the trace on, the host prints a "commitSingleField" line for each commit it receives.
    std::string unreserved;
    std::string unreservedTrace;
    {
        CaptureOutput output;
        unreserved = commitField("mode") + " " + commitField("no_such");
        unreservedTrace = output.out();
    }
    EXPECT_EQ(unreserved, "False False");
    EXPECT_EQ(unreservedTrace.find("commitSingleField"), std::string::npos) << unreservedTrace;

    ICDUiObject other;
    mode->setReservationTo(&other);
    ASSERT_EQ(mode->reservationHolder(), &other);
    std::string foreign;
    std::string foreignTrace;
    {
        CaptureOutput output;
        foreign = commitField("mode");
        foreignTrace = output.out();
    }
    EXPECT_EQ(foreign, "False");
    EXPECT_EQ(foreignTrace.find("commitSingleField"), std::string::npos) << foreignTrace;
    ASSERT_TRUE(mode->releaseReservationTo(&other));

    EXPECT_EQ(reserve("mode", true), "True");
    std::string own;
    std::string ownTrace;
    {
        CaptureOutput output;
        own = commitField("mode");
        ownTrace = output.out();
    }
    EXPECT_EQ(own, "True");
    EXPECT_NE(ownTrace.find("commitSingleField"), std::string::npos) << ownTrace;
}

TEST_F(MessageFieldOperations, ReleasingEndsOnlyThisBridgesOwnReservation) {
    EXPECT_EQ(reserve("mode", false), "False");  // nobody holds it

    ICDUiObject other;
    mode->setReservationTo(&other);
    EXPECT_EQ(reserve("mode", false), "False");
    EXPECT_EQ(mode->reservationHolder(), &other);
    ASSERT_TRUE(mode->releaseReservationTo(&other));

    const std::size_t registered = mode->registeredUiObjectCount();
    EXPECT_EQ(reserve("mode", true), "True");
    EXPECT_EQ(mode->registeredUiObjectCount(), registered + 1);
    EXPECT_EQ(reserve("mode", false), "True");
    EXPECT_FALSE(mode->isReserved());
    EXPECT_EQ(mode->registeredUiObjectCount(), registered);
    EXPECT_EQ(commitField("mode"), "False");
    EXPECT_EQ(reserve("mode", false), "False");
    EXPECT_EQ(reserve("mode", true), "True");  // and again, with a new holder
}

TEST_F(MessageFieldOperations, EncoderNamesAndUnsignedValuesAreReadOrNone) {
    EXPECT_EQ(call([&] { return bridge->getEncoderName("COMMAND", "mode"); }), "'default'");
    EXPECT_EQ(call([&] { return bridge->getEncoderName("COMMAND", "no_such"); }), "None");
    EXPECT_EQ(call([&] { return bridge->getEncoderName("NO_SUCH", "mode"); }), "None");

    EXPECT_EQ(call([&] { return bridge->getAsUInt("COMMAND", "mode"); }), "7");
    ASSERT_TRUE(mode->setValue(ICDGenericMessageField::Value(4294967295u)));
    EXPECT_EQ(call([&] { return bridge->getAsUInt("COMMAND", "mode"); }), "4294967295");
    // The host refuses negative, too large and text values.
    EXPECT_EQ(call([&] { return bridge->getAsUInt("COMMAND", "offset"); }), "None");
    EXPECT_EQ(call([&] { return bridge->getAsUInt("COMMAND", "huge"); }), "None");
    EXPECT_EQ(call([&] { return bridge->getAsUInt("COMMAND", "label"); }), "None");
    EXPECT_EQ(call([&] { return bridge->getAsUInt("COMMAND", "no_such"); }), "None");
    EXPECT_EQ(call([&] { return bridge->getAsUInt("NO_SUCH", "mode"); }), "None");
}

}  // namespace
