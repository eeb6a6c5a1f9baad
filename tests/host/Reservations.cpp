#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "HostTestSupport.h"

namespace {

class Reservations : public testing::Test {
protected:
    void SetUp() override {
        _handler = loadHostData("nav_bus.xml");
        ASSERT_NE(_handler, nullptr);
        _status = _handler->findMessage("NAV_STATUS");
        _mode = _status->findMessageField("mode");
    }

    std::unique_ptr<ICDHandler> _handler;
    ICDMessage* _status = nullptr;
    ICDGenericMessageField* _mode = nullptr;
    ICDUiObject _first;
    ICDUiObject _second;
};

TEST_F(Reservations, AFreeFieldGoesToTheFirstHolderOnly) {
    EXPECT_FALSE(_mode->isReserved());
    _mode->setReservationTo(&_first);
    EXPECT_TRUE(_mode->isReserved());
    EXPECT_EQ(_mode->reservationHolder(), &_first);
    _mode->setReservationTo(&_second);
    EXPECT_EQ(_mode->reservationHolder(), &_first);
}

TEST_F(Reservations, ANullHolderIsNeverGranted) {
    _mode->setReservationTo(nullptr);
    EXPECT_FALSE(_mode->isReserved());
    EXPECT_FALSE(_mode->releaseReservationTo(nullptr));
}

TEST_F(Reservations, OnlyTheHolderEndsItsReservationAndOnlyOnce) {
    _mode->setReservationTo(&_first);
    EXPECT_FALSE(_mode->releaseReservationTo(&_second));
    EXPECT_TRUE(_mode->isReserved());
    EXPECT_TRUE(_mode->releaseReservationTo(&_first));
    EXPECT_FALSE(_mode->isReserved());
    EXPECT_FALSE(_mode->releaseReservationTo(&_first));
    _mode->setReservationTo(&_second);
    EXPECT_EQ(_mode->reservationHolder(), &_second);
}

TEST_F(Reservations, ThreadsRacingForOneFieldLeaveExactlyOneHolder) {
    constexpr int racers = 4;
    std::vector<ICDUiObject> holders(racers);
    std::vector<ICDUiObject*> granted(racers, nullptr);
    Barrier start(racers);
    std::vector<std::thread> threads;
    for (int i = 0; i < racers; ++i) {
        threads.emplace_back([&, i] {
            start.arriveAndWait();
            _mode->setReservationTo(&holders[i]);
            granted[i] = _mode->reservationHolder();
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ICDUiObject* holder = _mode->reservationHolder();
    ASSERT_NE(holder, nullptr);
    for (ICDUiObject* seen : granted) {
        EXPECT_EQ(seen, holder);
    }
}

TEST_F(Reservations, CommitChangesEncodesEveryFieldAndTouchCounts) {
    ICDGenericMessageField* label = _status->findMessageField("label");
    ASSERT_TRUE(_mode->setValue(static_cast<unsigned short>(0xBEEF)));
    ASSERT_TRUE(label->setValue(std::string("cruise")));
    _status->commitChanges();
    EXPECT_EQ(_mode->getRaw(), 0xBEEFu);
    EXPECT_EQ(label->getRawText(), "cruise");
    EXPECT_EQ(_status->commitCount(), 1u);
    EXPECT_EQ(_status->touchCount(), 0u);
    _status->touch();
    _status->touch();
    EXPECT_EQ(_status->touchCount(), 2u);
}

TEST_F(Reservations, CommitSingleFieldEncodesOnlyAFieldOfItsOwnMessage) {
    ICDGenericMessageField* label = _status->findMessageField("label");
    ASSERT_TRUE(_mode->setValue(static_cast<unsigned short>(12)));
    ASSERT_TRUE(label->setValue(std::string("untouched")));
    EXPECT_TRUE(_status->commitSingleField(_mode));
    EXPECT_EQ(_mode->getRaw(), 12u);
    EXPECT_EQ(label->getRawText(), "idle");

    ICDMessage* engine = _handler->findMessage("ENGINE");
    ICDGenericMessageField* rpm = engine->findMessageField("rpm");
    ASSERT_TRUE(rpm->setValue(99u));
    EXPECT_FALSE(_status->commitSingleField(rpm));
    EXPECT_EQ(rpm->getRaw(), 8000u);
    EXPECT_FALSE(_status->commitSingleField(nullptr));
    EXPECT_FALSE(_status->commitSingleField(_status->findMessageField("spare")))
        << "a field without a value type does not encode";
    EXPECT_EQ(_status->commitCount(), 0u);
}

}  // namespace
