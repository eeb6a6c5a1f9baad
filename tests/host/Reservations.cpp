#include <gtest/gtest.h>

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
    EXPECT_FALSE(mode->releaseReservationTo(&second));
    EXPECT_FALSE(mode->releaseReservationTo(nullptr));
    EXPECT_TRUE(mode->releaseReservationTo(&first));
    EXPECT_FALSE(mode->releaseReservationTo(&first));
    mode->setReservationTo(&second);
    EXPECT_EQ(mode->reservationHolder(), &second);
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
