// Debug builds stop a process whose session entries break the entry rules (same thread, nested
// order, the state left is the current one) at the broken rule, before the thread states are
// corrupted. Release builds compile the checks away, so there the tests are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PyInterpreter.h"
#include "tests/interpreter/SessionTestSupport.h"
#include "tests/support/Watchdog.h"

using namespace interpreter_test;
using namespace std::chrono_literals;

namespace {

// The child re-runs the test program up to the death statement: no thread of the parent (its
// interpreter's, the watchdog's) is copied into it.
class SessionEntryChecks : public testing::Test {
protected:
    void SetUp() override {
#ifdef NDEBUG
        GTEST_SKIP() << "the entry checks are compiled only without NDEBUG";
#endif
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

}  // namespace

TEST_F(SessionEntryChecks, ASessionLeftOnAnotherThreadStopsTheProcessAtTheRule) {
    Watchdog watchdog("a session left on another thread", 60s);
    PySession* session = newSubInterpreterSession();
    EXPECT_DEATH(
        {
            auto* use = new PySession::Use(session);
            std::thread([use] { delete use; }).join();
        },
        "session entry check failed: a session is left on the thread that entered it, in nested "
        "order");
}

TEST_F(SessionEntryChecks, ASessionLeftOutOfNestedOrderStopsTheProcessAtTheRule) {
    Watchdog watchdog("sessions left out of nested order", 60s);
    PySession* first = newSubInterpreterSession();
    PySession* second = newSubInterpreterSession();
    // Left first while the entry made after it still holds the thread: the usual exit, then the
    // exit that switches back.
    EXPECT_DEATH(
        {
            auto* outer = new PySession::Use(first);
            new PySession::Use(second);
            delete outer;
        },
        "a session is left on the thread that entered it, in nested order");
    EXPECT_DEATH(
        {
            PySession::Use outer(first);
            auto* middle = new PySession::Use(second);
            new PySession::Use(first);
            delete middle;
        },
        "a session is left on the thread that entered it, in nested order");
}

TEST_F(SessionEntryChecks, ASessionLeftWithAnotherStateCurrentStopsTheProcessAtTheRule) {
    Watchdog watchdog("a session left with another state current", 60s);
    PySession* session = newSubInterpreterSession();
    EXPECT_DEATH(
        {
            PySession::Use use(session);
            PyThreadState_Swap(PyThreadState_New(session->interpreter()));
        },
        "session entry check failed: the state being left is the calling thread's current state");
}
