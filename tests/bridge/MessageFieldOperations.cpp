// What a script does to its handler's messages and fields through the bridge.
#include "tests/bridge/BridgeFixture.h"

namespace {

using MessageFieldOperations = BridgeFixture;

TEST_F(MessageFieldOperations, RaiseErrorClampsOnlyTheUpperSeverity) {
    std::string severities;
    for (int severity : {7, -1, 3}) {
        EXPECT_EQ(call([&] { return bridge->raiseError("hot", severity); }), "True");
    }
    for (const auto& report : handler->errors()) {
        severities += report.text + " " + std::to_string(report.severity) + ";";
    }
    EXPECT_EQ(severities, "hot 3;hot -1;hot 3;");
}

TEST_F(MessageFieldOperations,
       AFieldIsReservedOnceReleasedByItsHolderOnlyAndCommittedOnlyReserved) {
    ICDGenericMessageField* mode = field("COMMAND", "mode");
    auto reserve = [&](const char* name, bool on) {
        return call([&] { return bridge->setMessageFieldReserved("COMMAND", name, on); });
    };
    auto commit = [&] {
        return call([&] { return bridge->commitSingleMessageField("COMMAND", "mode"); });
    };
    ASSERT_TRUE(mode->setValue(ICDGenericMessageField::Value(9u)));
    ICDUiObject other;
    EXPECT_EQ(commit(), "False") << "not reserved";
    mode->setReservationTo(&other);
    EXPECT_EQ(reserve("mode", false), "False") << "reserved by another holder";
    EXPECT_EQ(commit(), "False");
    EXPECT_EQ(mode->reservationHolder(), &other);
    EXPECT_EQ(mode->getRaw(), 7u);
    ASSERT_TRUE(mode->releaseReservationTo(&other));
    EXPECT_EQ(reserve("mode", true), "True");
    EXPECT_EQ(reserve("mode", true), "False");
    EXPECT_EQ(commit(), "True");
    EXPECT_EQ(mode->getRaw(), 9u);
    EXPECT_EQ(reserve("mode", false), "True");
    EXPECT_EQ(reserve("mode", false), "False");
    EXPECT_FALSE(mode->isReserved());
    EXPECT_EQ(commit(), "False");
    EXPECT_EQ(reserve("no_such", true), "False");
}

}  // namespace
