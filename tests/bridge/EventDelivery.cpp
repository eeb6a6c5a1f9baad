// Events the host raises on a handler reach the script's event callable, through the bridge's
// queue and background thread, filtered, in order and complete.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "CaptureOutput.h"
#include "ICDHandler.h"
#include "ICDHost.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "tests/bridge/PluginSessions.h"

using namespace std::chrono_literals;
using plugin_sessions::evalRepr;
using plugin_sessions::run;

namespace {

const char* const kEventScript = R"(
import sys, time
events = []
def on_event(n):
    events.append(n)
def on_event_raising(n):
    events.append(n)
    if n == 13:
        raise ValueError("bad event %d" % n)
    if n == 99:
        sys.exit(3)
def on_event_slow(n):
    time.sleep(0.0005)
    events.append(n)
)";

class EventDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        session = plugin_sessions::sessionA();
        std::string error;
        handler = ICDHandler::load(PPP_TEST_DATA_DIR "/bridge/bridge.xml", &error);
        ASSERT_TRUE(handler) << error;
        ASSERT_TRUE(run(session, kEventScript));
    }
    void TearDown() override {
        bridge.reset();  // before its handler
        ICDHost::setRefusedEvents({});
    }

    // A bridge on the fixture's handler whose callable is the global `callable` (none if null).
    std::unique_ptr<ProxyPluginPyHandlerInterface> makeBridge(ICDHandler* on, PySession* in,
                                                              const char* callable, bool start) {
        auto made = std::make_unique<ProxyPluginPyHandlerInterface>(on, in);
        if (callable != nullptr) {
            PySession::Use use(in);
            PyObject* function = PyDict_GetItemString(in->globals(), callable);  // borrowed
            PyRef stored = PyRef::steal(made->setOnConsumeICDEvent(function));
            EXPECT_EQ(stored.get(), Py_None);
        }
        if (start) {
            made->init();
        }
        return made;
    }
    void startBridge(const char* callable = "on_event", bool start = true) {
        bridge = makeBridge(handler.get(), session, callable, start);
    }
    std::string events() { return evalRepr(session, "events"); }

    PySession* session = nullptr;
    std::unique_ptr<ICDHandler> handler;
    std::unique_ptr<ProxyPluginPyHandlerInterface> bridge;
};

TEST_F(EventDelivery, BusControlEventsNeverReachTheScriptWhileTheirNeighboursDo) {
    startBridge();
    for (unsigned int event : {2999u, 3000u, 3001u, 3999u, 4000u, 4001u, 4002u, 4003u}) {
        EXPECT_EQ(handler->deliverICDEvent(event, 0), 1u) << event;
    }
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[2999, 3001, 3999, 4003]");
}

TEST_F(EventDelivery, AnEventTheBaseHandlingRefusesIsNeitherQueuedNorAccepted) {
    startBridge();
    ICDHost::setRefusedEvents({1234, 3000});
    EXPECT_FALSE(bridge->consumeICDEvent(1234, 0));
    EXPECT_FALSE(bridge->consumeICDEvent(3000, 0));
    EXPECT_TRUE(bridge->consumeICDEvent(1235, 0));
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[1235]");
}

TEST_F(EventDelivery, EventsOfSeveralHostThreadsAllArriveEachThreadsInItsOrder) {
    startBridge();
    Watchdog watchdog("events of four host threads", 60s);
    constexpr unsigned int kThreads = 4;
    constexpr unsigned int kPerThread = 500;
    Barrier barrier(kThreads);
    std::vector<std::thread> threads;
    for (unsigned int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            barrier.arriveAndWait();
            for (unsigned int i = 0; i < kPerThread; ++i) {
                handler->deliverICDEvent(10000 * (t + 1) + i, 0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(bridge->waitUntilIdle(30s));
    EXPECT_EQ(plugin_sessions::evalInteger(session, "len(events)"), kThreads * kPerThread);
    for (unsigned int t = 1; t <= kThreads; ++t) {
        const std::string mine = "[n for n in events if n // 10000 == " + std::to_string(t) + "]";
        EXPECT_EQ(plugin_sessions::evalInteger(
                      session, "int(" + mine + " == list(range(" + std::to_string(10000 * t) +
                                   ", " + std::to_string(10000 * t + kPerThread) + ")))"),
                  1)
            << "thread " << t;
    }
}

TEST_F(EventDelivery, EventsThatArriveBeforeInitAreDeliveredAfterItInArrivalOrder) {
    startBridge("on_event", /*start=*/false);
    for (unsigned int event : {5u, 6u, 7u}) {
        EXPECT_EQ(handler->deliverICDEvent(event, 0), 1u);
    }
    EXPECT_FALSE(bridge->waitUntilIdle(50ms));
    EXPECT_EQ(events(), "[]");
    bridge->init();
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[5, 6, 7]");
}

TEST_F(EventDelivery, ARaisingCallableLeavesItsTextInLastErrorUntilTheNextSuccess) {
    startBridge("on_event_raising");
    CaptureOutput output;
    handler->deliverICDEvent(13, 0);
    const bool idleAfterRaise = bridge->waitUntilIdle(10s);
    const std::string afterRaise = bridge->getLastError();
    handler->deliverICDEvent(14, 0);
    const bool idleAfterSuccess = bridge->waitUntilIdle(10s);
    const std::string err = output.err();
    ASSERT_TRUE(idleAfterRaise && idleAfterSuccess);
    EXPECT_EQ(afterRaise, "bad event 13");
    EXPECT_EQ(bridge->getLastError(), "");
    EXPECT_NE(err.find("Traceback (most recent call last):"), std::string::npos) << err;
    EXPECT_NE(err.find("ValueError: bad event 13"), std::string::npos) << err;
    EXPECT_EQ(events(), "[13, 14]");
}

TEST_F(EventDelivery, ACallableThatExitsIsPrintedAndTheHostGoesOn) {
    startBridge("on_event_raising");
    CaptureOutput output;
    handler->deliverICDEvent(99, 0);
    const bool idle = bridge->waitUntilIdle(10s);
    const std::string afterExit = bridge->getLastError();
    handler->deliverICDEvent(100, 0);
    ASSERT_TRUE(bridge->waitUntilIdle(10s) && idle);
    const std::string err = output.err();
    EXPECT_EQ(afterExit, "3");
    EXPECT_NE(err.find("SystemExit: 3"), std::string::npos) << err;
    EXPECT_EQ(events(), "[99, 100]");
}

TEST_F(EventDelivery, EventNumbersFromTwoToThe31OnArriveNegativeAndDataNeverReachesPython) {
    startBridge();
    handler->deliverICDEvent(2147483647u, 77);
    handler->deliverICDEvent(2147483648u, 78);
    handler->deliverICDEvent(4294967295u, 79);
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    // on_event takes exactly one argument: a second one would have raised.
    EXPECT_EQ(events(), "[2147483647, -2147483648, -1]");
    EXPECT_EQ(bridge->getLastError(), "");
}

TEST_F(EventDelivery, WithoutACallableEventsAreDroppedAndNotReplayedLater) {
    startBridge(nullptr);
    handler->deliverICDEvent(1, 0);
    handler->deliverICDEvent(2, 0);
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    {
        PySession::Use use(session);
        PyObject* function = PyDict_GetItemString(session->globals(), "on_event");  // borrowed
        PyRef stored = PyRef::steal(bridge->setOnConsumeICDEvent(function));
    }
    handler->deliverICDEvent(3, 0);
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[3]");
}

TEST_F(EventDelivery, AnEventTheCallableSendsIsDeliveredInTheSamePass) {
    ASSERT_TRUE(run(session, R"(
def on_event_sending(n):
    events.append(n)
    if n == 1:
        send_two()
)"));
    plugin_sessions::bindHostCall(session, "send_two", [this] { bridge->sendICDEvent(2); });
    startBridge("on_event_sending");
    handler->deliverICDEvent(1, 0);
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[1, 2]");
}

TEST_F(EventDelivery, ABridgeWithoutHandlerRegistersNowhereAndSendsNothing) {
    const std::size_t registered = handler->registeredUiObjectCount();
    bridge = makeBridge(nullptr, session, "on_event", true);
    EXPECT_EQ(handler->registeredUiObjectCount(), registered);
    bridge->sendICDEvent(5);
    EXPECT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[]");
}

TEST_F(EventDelivery, ABridgeWithoutSessionConsumesEventsWithoutQueuing) {
    bridge = makeBridge(handler.get(), nullptr, nullptr, true);
    EXPECT_EQ(handler->deliverICDEvent(42, 0), 1u);
    EXPECT_TRUE(bridge->consumeICDEvent(43, 0));
    EXPECT_TRUE(bridge->waitUntilIdle(0ms));
}

TEST_F(EventDelivery, WaitingForAllBridgesCoversBridgesOfEverySession) {
    PySession* other = plugin_sessions::sessionB();
    ASSERT_TRUE(run(other, kEventScript));
    std::string error;
    std::unique_ptr<ICDHandler> otherHandler =
        ICDHandler::load(PPP_TEST_DATA_DIR "/bridge/bridge.xml", &error);
    ASSERT_TRUE(otherHandler) << error;
    startBridge("on_event_slow");
    auto otherBridge = makeBridge(otherHandler.get(), other, "on_event_slow", true);
    for (unsigned int event = 0; event < 200; ++event) {
        handler->deliverICDEvent(event, 0);
        otherHandler->deliverICDEvent(event, 0);
    }
    ASSERT_TRUE(ProxyPythonPluginWaitForEvents(30000));
    EXPECT_EQ(plugin_sessions::evalInteger(session, "len(events)"), 200);
    EXPECT_EQ(plugin_sessions::evalInteger(other, "len(events)"), 200);
    otherBridge.reset();
}

TEST_F(EventDelivery, WaitingForAllBridgesGivesUpAtTheTimeoutWhileEventsWait) {
    startBridge("on_event", /*start=*/false);
    handler->deliverICDEvent(1, 0);
    EXPECT_FALSE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(30ms));
    bridge->init();
    EXPECT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(10s));
}

TEST_F(EventDelivery, DestroyingABusyBridgeUnregistersItAndEndsItsThread) {
    Watchdog watchdog("destroying a busy bridge", 60s);
    startBridge("on_event_slow");
    const std::size_t registered = handler->registeredUiObjectCount();
    for (unsigned int event = 0; event < 100; ++event) {
        handler->deliverICDEvent(event, 0);
    }
    bridge.reset();
    EXPECT_EQ(handler->registeredUiObjectCount(), registered - 1);
    EXPECT_EQ(handler->deliverICDEvent(1, 0), 0u);
    // Events still queued when the loop saw the stop are dropped; none arrives afterwards.
    const long long delivered = plugin_sessions::evalInteger(session, "len(events)");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(plugin_sessions::evalInteger(session, "len(events)"), delivered);
    EXPECT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(1s));
}

}  // namespace
