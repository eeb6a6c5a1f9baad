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

// Results of reserving (+), releasing (-) and committing (c) the field, or another holder taking
// (o) and leaving (x) it, and the bus word after each commit.
TEST_F(MessageFieldOperations,
       AFieldIsReservedOnceReleasedByItsHolderOnlyAndCommittedOnlyReserved) {
    ICDGenericMessageField* mode = field("COMMAND", "mode");
    ASSERT_TRUE(mode->setValue(ICDGenericMessageField::Value(9u)));
    ICDUiObject other;
    std::string results;
    for (char step : std::string("co-cx++c--c")) {
        if (step == 'o' || step == 'x') {
            step == 'o' ? mode->setReservationTo(&other)
                        : (void)(results += mode->releaseReservationTo(&other) ? "x " : "x? ");
            continue;
        }
        results += call([&] {
            return step == 'c' ? bridge->commitSingleMessageField("COMMAND", "mode")
                               : bridge->setMessageFieldReserved("COMMAND", "mode", step == '+');
        });
        results += step == 'c' ? "@" + std::to_string(mode->getRaw()) + " " : " ";
    }
    EXPECT_EQ(results, "False@7 False False@7 x True False True@9 True False False@9 ");
    EXPECT_FALSE(mode->isReserved());
    EXPECT_EQ(call([&] { return bridge->setMessageFieldReserved("COMMAND", "no_such", true); }),
              "False");
}

}  // namespace
