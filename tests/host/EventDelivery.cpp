#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "tests/host/HostTestSupport.h"
#include "tests/support/Watchdog.h"

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

// Object 1 is registered twice and delivers event 8 from within event 7; object 2 answers false,
// unregisters object 3 from within event 8 (before 3's turn) and itself within event 42.
TEST_F(EventDelivery, EachObjectGetsEachEventOnceInRegistrationOrderUntilUnregisteredEvenWithin) {
    Watchdog watchdog("unregistering during a delivery", std::chrono::seconds(20));
    std::vector<Recorder*> r = registered(3);
    handler->registerUiObject(r[0]);
    r[0]->action = [&](unsigned int event, int) {
        event == 7 ? (void)handler->deliverICDEvent(8, 0) : (void)0;
    };
    r[1]->answer = false;
    r[1]->action = [&](unsigned int event, int) {
        event == 8 ? handler->unregisterUiObject(r[2]) : (void)0;
        event == 42 ? handler->unregisterUiObject(r[1]) : (void)0;
    };
    EXPECT_EQ(handler->deliverICDEvent(7, 99), 1u) << "the true answers";
    handler->sendICDEvent(42);
    handler->deliverICDEvent(43, 0);
    EXPECT_EQ(log, (std::vector<int>{1, 1, 2, 2, 1, 2, 1}));
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
