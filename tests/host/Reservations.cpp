#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "HostTestSupport.h"

namespace {

using Reservations = HostFixture;

TEST_F(Reservations, OnlyTheFirstHolderGetsAFieldAndOnlyItEndsTheReservationOnce) {
    ICDUiObject first;
    ICDUiObject second;
    mode->setReservationTo(nullptr);
    EXPECT_FALSE(mode->isReserved());
    mode->setReservationTo(&first);
    mode->setReservationTo(&second);
    EXPECT_EQ(mode->reservationHolder(), &first);
    EXPECT_FALSE(mode->releaseReservationTo(&second) || mode->releaseReservationTo(nullptr));
    EXPECT_TRUE(mode->releaseReservationTo(&first));
    EXPECT_FALSE(mode->releaseReservationTo(&first));
    mode->setReservationTo(&second);
    EXPECT_EQ(mode->reservationHolder(), &second);
}

TEST_F(Reservations, OfFourThreadsRacingForAFieldOneGetsItAndOnlyThatOneReleasesIt) {
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
        ASSERT_FALSE(mode->isReserved()) << "round " << round;
    }
}

TEST_F(Reservations, CommitsEncodeTheWholeMessageOrOneFieldOfItsOwn) {
    ICDGenericMessageField* label = status->findMessageField("label");
    ICDGenericMessageField* rpm = handler->findMessage("ENGINE")->findMessageField("rpm");
    ASSERT_TRUE(mode->setValue(static_cast<unsigned short>(12)));
    ASSERT_TRUE(label->setValue(std::string("cruise")));
    EXPECT_TRUE(status->commitSingleField(mode));
    EXPECT_EQ(mode->getRaw(), 12u);
    EXPECT_EQ(label->getRawText(), "idle");
    EXPECT_FALSE(status->commitSingleField(rpm));
    status->commitChanges();
    status->touch();
    EXPECT_EQ(label->getRawText(), "cruise");
    EXPECT_EQ(status->commitCount() + 10 * status->touchCount(), 11u) << "one commit, one touch";
}

}  // namespace
