#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "Barrier.h"
#include "HostTestSupport.h"
#include "Watchdog.h"

namespace {

// Logs its id (single-threaded tests only) and runs `action` for each delivery. A delivery that
// starts once `gone` is set, or that runs on when another object sets it, is a violation.
class Recorder : public ICDUiObject {
public:
    Recorder(int id, std::vector<int>* log) : _id(id), _log(log) {}
    bool consumeICDEvent(unsigned int event, unsigned long) override {
        violations += gone ? 1 : 0;
        if (_log != nullptr) {
            _log->push_back(_id);
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

    bool answer = true;
    std::function<void(unsigned int event, int count)> action;
    std::atomic<bool> gone{false};
    std::atomic<int> deliveries{0};
    std::atomic<int> violations{0};

private:
    int _id;
    std::vector<int>* _log;
};

class EventDelivery : public HostFixture {
protected:
    // Registers `count` new recorders with ids 1, 2, ...
    std::vector<Recorder*> registered(int count, bool logged = true) {
        std::vector<Recorder*> made;
        for (int i = 0; i < count; ++i) {
            recorders.push_back(std::make_unique<Recorder>(i + 1, logged ? &log : nullptr));
            made.push_back(recorders.back().get());
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
    EXPECT_EQ(std::exchange(log, {}), (std::vector<int>{1, 2, 3}));
    handler->sendICDEvent(42);
    EXPECT_EQ(r[2]->deliveries, 2);
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
    constexpr int threads = 4;
    constexpr int events = 400;
    Barrier start(threads);
    std::vector<std::thread> deliverers;
    for (int t = 0; t < threads; ++t) {
        deliverers.emplace_back([&] {
            start.arriveAndWait();
            for (int e = 0; e < events; ++e) {
                handler->deliverICDEvent(static_cast<unsigned int>(e), 0);
            }
        });
    }
    for (auto& thread : deliverers) {
        thread.join();
    }
    int violations = 0;
    for (Recorder* recorder : r) {
        violations += recorder->violations;
    }
    EXPECT_EQ(violations, 0);
    EXPECT_EQ(handler->registeredUiObjectCount(), 12u);
    EXPECT_EQ(r[4]->deliveries.load(), threads * events);
}

}  // namespace
