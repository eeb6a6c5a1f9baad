// Events the host raises on a handler reach the script's event callable, through the bridge's
// queue and background thread, filtered, in order and complete.
#include <chrono>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "CaptureOutput.h"
#include "Watchdog.h"
#include "tests/bridge/BridgeFixture.h"

using namespace std::chrono_literals;

namespace {

class EventDelivery : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        ASSERT_TRUE(session->eval(R"(
import sys
events = []
def on_event(n):
    events.append(n)
    if n == 13: raise ValueError("bad event %d" % n)
    if n == 99: sys.exit(3)
)"));
        PySession::Use use(session);
        PyRef previous = PyRef::steal(bridge->setOnConsumeICDEvent(global("on_event")));
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
    Barrier barrier(4);
    std::vector<std::thread> threads;
    for (unsigned int t = 1; t <= 4; ++t) {
        threads.emplace_back([&, t] {
            barrier.arriveAndWait();
            for (unsigned int i = 0; i < 500; ++i) {
                handler->deliverICDEvent(10000 * t + i, 0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
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

}  // namespace
