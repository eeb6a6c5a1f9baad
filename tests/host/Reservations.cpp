#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "tests/host/HostTestSupport.h"

namespace {

using Reservations = HostFixture;

// Once the races are over, a null holder is never granted.
TEST_F(Reservations, OfFourThreadsRacingForAFieldOneGetsItAndOnlyItReleasesItOnce) {
    for (int round = 0; round < 50; ++round) {
        std::vector<ICDUiObject> holders(4);
        std::vector<ICDUiObject*> seen(4);
        std::atomic<int> releases{0};
        onThreads(4, [&](int t) {
            mode->setReservationTo(&holders[t]);
            seen[t] = mode->reservationHolder();
        });
        onThreads(4, [&](int t) { releases += mode->releaseReservationTo(&holders[t]) ? 1 : 0; });
        ASSERT_NE(seen[0], nullptr) << "round " << round;
        ASSERT_EQ(seen, std::vector<ICDUiObject*>(4, seen[0])) << "round " << round;
        ASSERT_EQ(releases, 1) << "round " << round;
        ASSERT_FALSE(mode->isReserved() || mode->releaseReservationTo(seen[0])) << round;
    }
    mode->setReservationTo(nullptr);
    EXPECT_FALSE(mode->isReserved() || mode->releaseReservationTo(nullptr));
}

// A refused commit of another message's field shows in the trace.
TEST_F(Reservations, CommitsEncodeTheWholeMessageOrOneFieldOfItsOwn) {
    ICDGenericMessageField* label = status->findMessageField("label");
    ASSERT_TRUE(mode->setValue(static_cast<unsigned short>(12)));
    ASSERT_TRUE(label->setValue(std::string("cruise")));
    EXPECT_TRUE(status->commitSingleField(mode));
    EXPECT_EQ(std::to_string(mode->getRaw()) + label->getRawText(), "12idle");
    status->commitChanges();
    EXPECT_EQ(label->getRawText(), "cruise");
}

}  // namespace
