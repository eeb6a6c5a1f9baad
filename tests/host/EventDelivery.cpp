#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "HostTestSupport.h"
#include "Watchdog.h"

namespace {

// Logs its id (single-threaded tests only) and runs `action` for each delivery. A delivery that
// starts once `gone` is set, or that runs on when another object sets it, is a violation.
class Recorder : public ICDUiObject {
public:
    bool consumeICDEvent(unsigned int event, unsigned long) override {
        violations += gone ? 1 : 0;
        if (log != nullptr) {
            log->push_back(id);
        }
        const int count = ++deliveries;
        if (action) {
            action(event, count);
        } else {
            std::this_thread::yield();
            violations += gone ? 1 : 0;
        }
        return answer;
    }

    int id = 0;
    std::vector<int>* log = nullptr;
    bool answer = true;
    std::function<void(unsigned int event, int count)> action;
    std::atomic<bool> gone{false};
    std::atomic<int> deliveries{0};
    std::atomic<int> violations{0};
};

class EventDelivery : public HostFixture {
protected:
    // Registers `count` new recorders with ids 1, 2, ..., logging to `log` when `logged`.
    std::vector<Recorder*> registered(int count, bool logged = true) {
        std::vector<Recorder*> made;
        for (int i = 0; i < count; ++i) {
            recorders.push_back(std::make_unique<Recorder>());
            made.push_back(recorders.back().get());
            made.back()->id = i + 1;
            made.back()->log = logged ? &log : nullptr;
            handler->registerUiObject(made.back());
        }
        return made;
    }
    // An action that unregisters `victim` at its `at`-th delivery, as `gone` says.
    std::function<void(unsigned int, int)> unregisterAt(Recorder* victim, int at) {
        return [this, victim, at](unsigned int, int count) {
            if (count == at) {
                handler->unregisterUiObject(victim);
                victim->gone = true;
            }
        };
    }

    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<int> log;
};

TEST_F(EventDelivery, EveryObjectGetsTheEventOnceInRegistrationOrderAndTrueAnswersAreCounted) {
    std::vector<Recorder*> r = registered(3);
    handler->registerUiObject(r[0]);
    r[1]->answer = false;
    EXPECT_EQ(handler->deliverICDEvent(7, 99), 2u);
    handler->sendICDEvent(42);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 1, 2, 3}));
}

TEST_F(EventDelivery, AnObjectUnregisteredDuringADeliveryGetsNoMoreEventsEvenFromWithinItself) {
    Watchdog watchdog("unregistering during a delivery", std::chrono::seconds(20));
    std::vector<Recorder*> r = registered(3);
    r[0]->action = unregisterAt(r[2], 1);  // before its turn in this delivery
    r[1]->action = [&](unsigned int event, int) {
        event == 1 ? (void)handler->deliverICDEvent(2, 0) : handler->unregisterUiObject(r[1]);
    };
    handler->deliverICDEvent(1, 0);
    handler->deliverICDEvent(3, 0);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 1, 2, 1}));
}

// Recorders 1-4 are unregistered by two others each from inside their deliveries, possibly on
// two threads at once while they run on a third; 5-8 stay; 17-20 unregister themselves.
TEST_F(EventDelivery, FourThreadsDeliverWhileObjectsUnregisterThemselvesAndEachOther) {
    Watchdog watchdog("four threads delivering while objects leave", std::chrono::seconds(60));
    std::vector<Recorder*> r = registered(20, false);
    for (int i = 0; i < 4; ++i) {
        r[8 + i]->action = unregisterAt(r[i], 80);
        r[12 + i]->action = unregisterAt(r[i], 80);
        r[16 + i]->action = unregisterAt(r[16 + i], 50);
    }
    onThreads(4, [&](int) {
        for (unsigned int e = 0; e < 400; ++e) {
            handler->deliverICDEvent(e, 0);
        }
    });
    int violations = 0;
    for (Recorder* recorder : r) {
        violations += recorder->violations;
    }
    EXPECT_EQ(violations, 0);
    EXPECT_EQ(handler->registeredUiObjectCount(), 12u);
    EXPECT_EQ(r[4]->deliveries.load(), 4 * 400);
}

}  // namespace
