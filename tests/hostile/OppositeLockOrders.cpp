// A script whose encoder checks a menu item (the plug-in's lock, inside the transcoder mutex)
// while its action callable commits the encoder's message (the transcoder mutex, inside the
// plug-in's lock): a host thread encoding the field and the host's thread running the action take
// the two locks in opposite orders, and must never wait for each other for ever.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/Barrier.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

constexpr int kRounds = 4000 / harness::kSlowdown;

TEST(OppositeLockOrders, AnEncoderCheckingAMenuItemWhileAnActionCommitsItsMessageNeverDeadlocks) {
    Watchdog watchdog("encoder and action taking two locks in opposite orders", 60s);
    CaptureOutput output;
    harness::HostilePlugin flagging("encoder_checks_menu.py");
    ICDGenericMessageField* field = flagging.field("int");

    Barrier barrier(2);
    std::vector<std::string> failures;
    std::thread encoder([&] {
        barrier.arriveAndWait();
        for (int i = 0; i < kRounds; ++i) {
            // The action's commits encode the same field: only success is certain here.
            if ((!field->setValue(Value(i)) || !field->encode()) && failures.size() < 10) {
                failures.push_back("encode of " + std::to_string(i) + " failed");
            }
        }
    });
    barrier.arriveAndWait();
    for (int i = 0; i < kRounds; ++i) {
        flagging.plugin->onPluginAction(2);
    }
    encoder.join();
    output.stop();

    EXPECT_EQ(failures, std::vector<std::string>());
    EXPECT_EQ(harness::evalText(flagging.session(), "checks[0] >= " + std::to_string(kRounds)),
              "True");
    EXPECT_FALSE(harness::errorPending(flagging.session()));
}

}  // namespace
