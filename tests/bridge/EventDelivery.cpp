// Events the host raises on a handler reach the script's event callables, through the bridge's
// queue and background thread, filtered, in order and complete, each with its data word for the
// callable that takes it; waiting for idle answers from the
// state the background loop keeps.
#include <chrono>
#include <climits>

#include "tests/bridge/BridgeFixture.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

using namespace std::chrono_literals;

namespace {

class EventDelivery : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        ASSERT_TRUE(session->eval(R"(
import sys, threading
events, gate = [], threading.Event()
def on_event(n):
    events.append(n)
    if n == 7: gate.wait(10)
    if n == 13: raise ValueError("bad event %d" % n)
    if n == 99: sys.exit(3)
)"));
        PySession::Use use(session);
        PyRef previous = PyRef::steal(bridge->setOnConsumeICDEvent(global("on_event")));
    }
    void TearDown() override {
        session->eval("gate.set()");
        BridgeFixture::TearDown();
    }
    std::string events() { return plugin_sessions::evalRepr(session, "events"); }
};

// Events 3000 and 4000-4002 drive the bus; the host's data word never reaches Python.
// Events that arrive before init wait for it and keep their order.
TEST_F(EventDelivery, BusControlAndRefusedEventsNeverReachTheScriptAndHighNumbersArriveNegative) {
    ICDHost::setRefusedEvents({1234});
    EXPECT_FALSE(bridge->consumeICDEvent(1234, 0));
    for (unsigned int event : {2999u, 3000u, 3001u, 3999u, 4000u, 4001u, 4002u, 4003u, 2147483647u,
                               2147483648u, 4294967295u}) {
        EXPECT_EQ(handler->deliverICDEvent(event, 77), 1u) << event;
    }
    EXPECT_FALSE(bridge->waitUntilIdle(50ms));
    EXPECT_EQ(events(), "[]");
    bridge->init();
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[2999, 3001, 3999, 4003, 2147483647, -2147483648, -1]");
    EXPECT_EQ(bridge->getLastError(), "");
}

TEST_F(EventDelivery, EventsOfSeveralHostThreadsAllArriveEachThreadsInItsOrder) {
    bridge->init();
    Watchdog watchdog("events of four host threads", 60s);
    onThreads(4, [&](int t) {
        for (int i = 0; i < 500; ++i) {
            handler->deliverICDEvent(10000 * (t + 1) + i, 0);
        }
    });
    ASSERT_TRUE(bridge->waitUntilIdle(30s));
    EXPECT_EQ(
        plugin_sessions::evalRepr(session,
                                  "len(events), all([n for n in events if n // 10000 == t] == "
                                  "list(range(10000 * t, 10000 * t + 500)) for t in range(1, 5))"),
        "(2000, True)");
}

TEST_F(EventDelivery, ARaisingOrExitingCallableIsPrintedAndLeavesItsTextInLastErrorUntilASuccess) {
    bridge->init();
    CaptureOutput output;
    std::string lastErrors;
    for (unsigned int event : {13u, 99u, 14u}) {
        handler->deliverICDEvent(event, 0);
        lastErrors += bridge->waitUntilIdle(10s) ? "[" + bridge->getLastError() + "]" : "busy";
    }
    const std::string err = output.err();
    EXPECT_EQ(lastErrors, "[bad event 13][3][]");
    EXPECT_NE(err.find("Traceback (most recent call last):"), std::string::npos) << err;
    EXPECT_NE(err.find("ValueError: bad event 13"), std::string::npos) << err;
    EXPECT_NE(err.find("SystemExit: 3"), std::string::npos) << err;
    EXPECT_EQ(events(), "[13, 99, 14]");
}

// The data word travels with its event through the queue: the (event, data) callable gets each
// event queued since its registration right after the number-only one, with the word the host
// delivered, and keeps no reference to what it was given.
TEST_F(EventDelivery, TheDataCallableGetsEachLaterEventWithItsOwnDataWordAfterTheNumberCallable) {
    handler->deliverICDEvent(4, 44);  // queued before a data callable: its number only
    ASSERT_TRUE(session->eval(R"(
def on_data(n, d):
    events.append((n, d))
    if n == 13: raise ValueError("bad data %d" % d)
base = sys.getrefcount(on_data)
)"));
    {
        PySession::Use use(session);
        PyRef previous = PyRef::steal(bridge->setOnConsumeICDEventData(global("on_data")));
    }
    const unsigned long kWord = ULONG_MAX - 1;  // a fresh int, far above the shared small ones
    for (const auto& [event, data] :
         {std::pair<unsigned int, unsigned long>{5, 7}, {3000, 1}, {2147483648u, kWord}, {6, 0}}) {
        handler->deliverICDEvent(event, data);
    }
    bridge->init();
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(events(), "[4, 5, (5, 7), -2147483648, (-2147483648, " + std::to_string(kWord) +
                            "), 6, (6, 0)]");
    // The word is held by the script's tuple (and the count's own argument) only, the callable by
    // the bridge's one reference and nothing more after the events.
    EXPECT_EQ(plugin_sessions::evalRepr(
                  session, "sys.getrefcount(events[4][1]), sys.getrefcount(on_data) - base"),
              "(2, 1)");

    CaptureOutput output;
    handler->deliverICDEvent(13, 21);
    ASSERT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_EQ(bridge->getLastError(), "bad data 21");
    EXPECT_NE(output.err().find("ValueError: bad data 21"), std::string::npos) << output.err();
}

TEST_F(EventDelivery, ADataCallableAloneGetsEveryForwardedEventWithItsData) {
    ProxyPluginPyHandlerInterface alone(handler.get(), session);
    ASSERT_TRUE(session->eval("alone_got = []"));
    {
        PySession::Use use(session);
        PyRef callable =
            PyRef::steal(PyRun_String("lambda n, d: alone_got.append((n, d))", Py_eval_input,
                                      session->globals(), session->globals()));
        ASSERT_TRUE(callable);
        PyRef stored = PyRef::steal(alone.setOnConsumeICDEventData(callable.get()));
    }
    alone.init();
    for (unsigned int event : {8u, 4001u, 9u}) {
        handler->deliverICDEvent(event, event * 10);
    }
    ASSERT_TRUE(alone.waitUntilIdle(10s));
    EXPECT_EQ(plugin_sessions::evalRepr(session, "alone_got"), "[(8, 80), (9, 90)]");
}

// A library whose objects disagree on the bridge's layout answers from the wrong member here.
TEST_F(EventDelivery, WaitingForIdleLastsWhileTheCallableRunsAndEndsWhenItReturns) {
    bridge->init();
    Watchdog watchdog("idle wait on a running call", 60s);
    handler->deliverICDEvent(7, 0);
    const bool idleWhileRunning = bridge->waitUntilIdle(100ms);
    const bool allIdleWhileRunning = ProxyPluginPyHandlerInterface::waitUntilAllIdle(100ms);
    session->eval("gate.set()");
    EXPECT_TRUE(bridge->waitUntilIdle(10s));
    EXPECT_FALSE(idleWhileRunning || allIdleWhileRunning);
}

TEST_F(EventDelivery, ABridgeStoppedBeforeInitDropsItsQueuedEvents) {
    Watchdog watchdog("stopping a bridge with queued events", 60s);
    handler->deliverICDEvent(5, 0);
    bridge.reset();
    EXPECT_EQ(handler->deliverICDEvent(6, 0), 0u) << "still registered";
    EXPECT_EQ(events(), "[]");
}

}  // namespace
