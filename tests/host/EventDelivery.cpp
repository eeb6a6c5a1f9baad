#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "HostTestSupport.h"
#include "Watchdog.h"

namespace {

struct Delivery {
    int object;
    unsigned int event;
    unsigned long data;
    std::thread::id thread;
};

// Records every delivery in one shared log, then runs `action` (if any) and gives `answer`.
class Recorder : public ICDUiObject {
public:
    Recorder(int id, std::vector<Delivery>* log, std::mutex* logMutex)
        : _id(id), _log(log), _logMutex(logMutex) {}

    bool consumeICDEvent(unsigned int event, unsigned long data) override {
        {
            std::lock_guard<std::mutex> lock(*_logMutex);
            _log->push_back(Delivery{_id, event, data, std::this_thread::get_id()});
        }
        if (action) {
            action(event);
        }
        return answer;
    }

    bool answer = true;
    std::function<void(unsigned int)> action;

private:
    int _id;
    std::vector<Delivery>* _log;
    std::mutex* _logMutex;
};

class EventDelivery : public testing::Test {
protected:
    Recorder& recorder(int id) {
        _recorders.push_back(std::make_unique<Recorder>(id, &_log, &_logMutex));
        return *_recorders.back();
    }
    std::vector<int> receivers() {
        std::lock_guard<std::mutex> lock(_logMutex);
        std::vector<int> ids;
        for (const Delivery& delivery : _log) {
            ids.push_back(delivery.object);
        }
        _log.clear();
        return ids;
    }

    HostControlsGuard _controls;
    ICDHandler _handler{"BUS", "bus.xml", 1000};
    std::vector<std::unique_ptr<Recorder>> _recorders;
    std::vector<Delivery> _log;
    std::mutex _logMutex;
};

TEST_F(EventDelivery, EveryObjectGetsTheEventInRegistrationOrderAndTrueAnswersAreCounted) {
    Recorder& a = recorder(1);
    Recorder& b = recorder(2);
    Recorder& c = recorder(3);
    _handler.registerUiObject(&c);
    _handler.registerUiObject(&a);
    _handler.registerUiObject(&b);
    b.answer = false;
    EXPECT_EQ(_handler.deliverICDEvent(7, 99), 2u);
    ASSERT_EQ(_log.size(), 3u);
    EXPECT_EQ(_log[0].object, 3);
    EXPECT_EQ(_log[1].object, 1);
    EXPECT_EQ(_log[2].object, 2);
    for (const Delivery& delivery : _log) {
        EXPECT_EQ(delivery.event, 7u);
        EXPECT_EQ(delivery.data, 99u);
        EXPECT_EQ(delivery.thread, std::this_thread::get_id());
    }
}

TEST_F(EventDelivery, RegisteringTwiceKeepsOneRegistration) {
    Recorder& a = recorder(1);
    _handler.registerUiObject(&a);
    _handler.registerUiObject(&a);
    _handler.registerUiObject(nullptr);
    EXPECT_EQ(_handler.registeredUiObjectCount(), 1u);
    _handler.deliverICDEvent(1, 0);
    EXPECT_EQ(receivers(), std::vector<int>{1});
    _handler.unregisterUiObject(&a);
    EXPECT_FALSE(_handler.isRegistered(&a));
    EXPECT_EQ(_handler.deliverICDEvent(1, 0), 0u);
    EXPECT_TRUE(receivers().empty());
}

TEST_F(EventDelivery, SendICDEventDeliversWithDataZeroOnTheCallingThread) {
    Recorder& a = recorder(1);
    _handler.registerUiObject(&a);
    std::thread sender([&] { _handler.sendICDEvent(42); });
    const std::thread::id senderId = sender.get_id();
    sender.join();
    ASSERT_EQ(_log.size(), 1u);
    EXPECT_EQ(_log[0].event, 42u);
    EXPECT_EQ(_log[0].data, 0u);
    EXPECT_EQ(_log[0].thread, senderId);
}

TEST_F(EventDelivery, TheBaseHandlingRefusesOnlyTheConfiguredEvents) {
    ICDUiObject plain;
    _handler.registerUiObject(&plain);
    EXPECT_EQ(_handler.deliverICDEvent(3, 0), 1u);
    ICDHost::setRefusedEvents({3, 4});
    EXPECT_EQ(_handler.deliverICDEvent(3, 0), 0u);
    EXPECT_EQ(_handler.deliverICDEvent(5, 0), 1u);
    EXPECT_FALSE(plain.consumeICDEvent(4, 0));
    _handler.unregisterUiObject(&plain);
}

TEST_F(EventDelivery, RaiseICDEventHandsTheEventToTheObjectsOwnHandling) {
    Recorder& a = recorder(1);
    a.raiseICDEvent(11);
    ASSERT_EQ(_log.size(), 1u);
    EXPECT_EQ(_log[0].event, 11u);
    EXPECT_EQ(_log[0].data, 0u);
}

TEST_F(EventDelivery, ThePreferredRepresentationIsKept) {
    ICDUiObject plain;
    EXPECT_EQ(plain.getPreferredUiRapresentation(), "");
    plain.setPreferredUiRapresentation("gauge");
    EXPECT_EQ(plain.getPreferredUiRapresentation(), "gauge");
    EXPECT_EQ(plain.connectUi(), 0);
}

TEST_F(EventDelivery, AnObjectMayUnregisterItselfOrALaterOneDuringADelivery) {
    Recorder& a = recorder(1);
    Recorder& b = recorder(2);
    Recorder& c = recorder(3);
    for (Recorder* r : {&a, &b, &c}) {
        _handler.registerUiObject(r);
    }
    a.action = [&](unsigned int) { _handler.unregisterUiObject(&a); };
    b.action = [&](unsigned int) { _handler.unregisterUiObject(&c); };
    _handler.deliverICDEvent(1, 0);
    EXPECT_EQ(receivers(), (std::vector<int>{1, 2}));
    _handler.deliverICDEvent(2, 0);
    EXPECT_EQ(receivers(), std::vector<int>{2});
}

TEST_F(EventDelivery, AnObjectRegisteredDuringADeliveryGetsTheNextEvent) {
    Recorder& a = recorder(1);
    Recorder& late = recorder(2);
    _handler.registerUiObject(&a);
    a.action = [&](unsigned int) { _handler.registerUiObject(&late); };
    _handler.deliverICDEvent(1, 0);
    EXPECT_EQ(receivers(), std::vector<int>{1});
    _handler.deliverICDEvent(2, 0);
    EXPECT_EQ(receivers(), (std::vector<int>{1, 2}));
}

TEST_F(EventDelivery, ANestedDeliveryMayUnregisterTheObjectItRunsIn) {
    Watchdog watchdog("ANestedDeliveryMayUnregisterTheObjectItRunsIn", std::chrono::seconds(20));
    Recorder& a = recorder(1);
    _handler.registerUiObject(&a);
    a.action = [&](unsigned int event) {
        if (event == 1) {
            _handler.deliverICDEvent(2, 0);
        } else {
            _handler.unregisterUiObject(&a);
        }
    };
    _handler.deliverICDEvent(1, 0);
    EXPECT_EQ(receivers(), (std::vector<int>{1, 1}));
    EXPECT_FALSE(_handler.isRegistered(&a));
}

TEST_F(EventDelivery, UnregisterWaitsForADeliveryRunningOnAnotherThread) {
    Watchdog watchdog("UnregisterWaitsForADeliveryRunningOnAnotherThread",
                      std::chrono::seconds(20));
    Recorder& slow = recorder(1);
    _handler.registerUiObject(&slow);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> finished{false};
    slow.action = [&](unsigned int) {
        entered.set_value();
        released.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    };
    std::thread deliverer([&] { _handler.deliverICDEvent(1, 0); });
    entered.get_future().wait();
    std::atomic<bool> unregistering{false};
    bool finishedWhenReturned = false;
    std::thread remover([&] {
        unregistering = true;
        _handler.unregisterUiObject(&slow);
        finishedWhenReturned = finished.load();
    });
    while (!unregistering) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release.set_value();
    remover.join();
    deliverer.join();
    EXPECT_TRUE(finishedWhenReturned);
}

TEST_F(EventDelivery, TwoThreadsInsideOneObjectMayBothUnregisterIt) {
    Watchdog watchdog("TwoThreadsInsideOneObjectMayBothUnregisterIt", std::chrono::seconds(20));
    Recorder& a = recorder(1);
    _handler.registerUiObject(&a);
    Barrier bothInside(2);
    a.action = [&](unsigned int) {
        bothInside.arriveAndWait();
        _handler.unregisterUiObject(&a);
    };
    Barrier start(2);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            start.arriveAndWait();
            _handler.deliverICDEvent(1, 0);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(receivers(), (std::vector<int>{1, 1}));
    EXPECT_EQ(_handler.deliverICDEvent(2, 0), 0u);
}

// Delivered from four threads at once while objects leave: some unregister themselves, some
// are unregistered by other objects from inside their delivery, some by a thread outside any
// delivery. No delivery may start, or still run on another thread, after the unregistering
// returned.
class Leaver : public ICDUiObject {
public:
    enum class Kind { Plain, SelfRemover, Killer };

    Leaver(ICDUiAbstractItem* item, Kind kind, std::atomic<int>* violations)
        : _item(item), _kind(kind), _violations(violations) {}

    bool consumeICDEvent(unsigned int, unsigned long) override {
        if (gone) {
            ++*_violations;
        }
        const int count = ++deliveries;
        if (_kind == Kind::SelfRemover && count >= 50) {
            _item->unregisterUiObject(this);
            gone = true;
        }
        if (_kind == Kind::Killer && victim != nullptr && count >= 80) {
            _item->unregisterUiObject(victim);
            victim->gone = true;
        }
        std::this_thread::yield();
        if (_kind == Kind::Plain && gone) {
            ++*_violations;
        }
        return true;
    }

    std::atomic<bool> gone{false};
    std::atomic<int> deliveries{0};
    Leaver* victim = nullptr;

private:
    ICDUiAbstractItem* _item;
    Kind _kind;
    std::atomic<int>* _violations;
};

TEST_F(EventDelivery, FourThreadsDeliverWhileObjectsUnregisterThemselvesAndEachOther) {
    Watchdog watchdog("FourThreadsDeliverWhileObjectsUnregisterThemselvesAndEachOther",
                      std::chrono::seconds(60));
    std::atomic<int> violations{0};
    std::vector<std::unique_ptr<Leaver>> plain;
    std::vector<std::unique_ptr<Leaver>> others;
    for (int i = 0; i < 12; ++i) {
        plain.push_back(std::make_unique<Leaver>(&_handler, Leaver::Kind::Plain, &violations));
    }
    for (int i = 0; i < 4; ++i) {
        others.push_back(
            std::make_unique<Leaver>(&_handler, Leaver::Kind::SelfRemover, &violations));
        others.push_back(std::make_unique<Leaver>(&_handler, Leaver::Kind::Killer, &violations));
        // Two killers share each victim, so two threads may unregister it at once.
        others.back()->victim = plain[i].get();
        others.push_back(std::make_unique<Leaver>(&_handler, Leaver::Kind::Killer, &violations));
        others.back()->victim = plain[i].get();
    }
    for (auto& leaver : plain) {
        _handler.registerUiObject(leaver.get());
    }
    for (auto& leaver : others) {
        _handler.registerUiObject(leaver.get());
    }

    constexpr int threads = 4;
    constexpr int events = 400;
    Barrier start(threads + 1);
    std::vector<std::thread> deliverers;
    for (int t = 0; t < threads; ++t) {
        deliverers.emplace_back([&] {
            start.arriveAndWait();
            for (int e = 0; e < events; ++e) {
                _handler.deliverICDEvent(static_cast<unsigned int>(e), 0);
            }
        });
    }
    std::thread outsider([&] {
        start.arriveAndWait();
        // Plain objects 4..7 leave from outside any delivery, while events flow.
        for (int i = 4; i < 8; ++i) {
            while (plain[i]->deliveries < 100 * (i - 3)) {
                std::this_thread::yield();
            }
            _handler.unregisterUiObject(plain[i].get());
            plain[i]->gone = true;
        }
    });
    for (auto& thread : deliverers) {
        thread.join();
    }
    outsider.join();

    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(_handler.registeredUiObjectCount(), 4u + 8u) << "plain 8..11 and the killers stay";
    for (int i = 8; i < 12; ++i) {
        EXPECT_EQ(plain[i]->deliveries.load(), threads * events);
    }
    for (auto& leaver : others) {
        EXPECT_GE(leaver->deliveries.load(), 50);
    }
}

}  // namespace
