// Entering sessions: from many threads at once, nested across sub-interpreters, re-entered on the
// same thread, from threads Python itself started, and the clean-up when a thread ends.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "SessionTestSupport.h"
#include "Watchdog.h"

using namespace interpreter_test;
using namespace std::chrono_literals;

TEST(SessionEntry, FourThreadsEnteringOneSubInterpreterAtOnceEachRunAloneWithCountsExact) {
    Watchdog watchdog("four threads entering one session", 60s);
    PySession* session = newSubInterpreterSession();
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    PyObject* list = nullptr;  // owned by the session's namespace
    {
        PySession::Use use(session);
        PyRef made = PyRef::steal(PyList_New(0));
        PyDict_SetItemString(session->globals(), "entries", made.get());
        list = made.get();
    }
    Barrier barrier(kThreads);
    long counter = 0;  // changed only with the session held
    std::vector<int> elsewhere(kThreads, 0);
    std::vector<int> appendFailures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            barrier.arriveAndWait();
            for (int round = 0; round < kRounds; ++round) {
                PySession::Use use(session);
                if (currentInterpreter() != session->interpreter()) {
                    ++elsewhere[t];
                }
                ++counter;
                PyRef number = PyRef::steal(PyLong_FromLong(t));
                if (PyList_Append(list, number.get()) != 0) {
                    ++appendFailures[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, kThreads * kRounds);
    EXPECT_EQ(elsewhere, std::vector<int>(kThreads, 0));
    EXPECT_EQ(appendFailures, std::vector<int>(kThreads, 0));
    PySession::Use use(session);
    EXPECT_EQ(PyList_Size(list), kThreads * kRounds);
}

TEST(SessionEntry, NestingTwoSubInterpretersOnOneThreadSwitchesAndComesBack) {
    Watchdog watchdog("nesting A, B, A", 30s);
    PySession* a = newSubInterpreterSession();
    PySession* b = newSubInterpreterSession();
    ASSERT_NE(a->interpreter(), b->interpreter());
    std::vector<PyInterpreterState*> seen;
    {
        PySession::Use useA(a);
        seen.push_back(currentInterpreter());
        {
            PySession::Use useB(b);
            seen.push_back(currentInterpreter());
            {
                PySession::Use useAAgain(a);
                seen.push_back(currentInterpreter());
            }
            seen.push_back(currentInterpreter());
        }
        seen.push_back(currentInterpreter());
    }
    EXPECT_EQ(seen, (std::vector<PyInterpreterState*>{a->interpreter(), b->interpreter(),
                                                      a->interpreter(), b->interpreter(),
                                                      a->interpreter()}));
    EXPECT_FALSE(PyInterpreterRelease::threadHoldsInterpreter());
}

TEST(SessionEntry, AlternatingBetweenTwoSubInterpretersKeepsTheirNamespacesApart) {
    PySession* a = newSubInterpreterSession();
    PySession* b = newSubInterpreterSession();
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(a->eval("where = 'a'"));
        EXPECT_TRUE(b->eval("where = 'b'"));
    }
    EXPECT_TRUE(a->eval("assert where == 'a'"));
    EXPECT_TRUE(b->eval("assert where == 'b'"));
}

TEST(SessionEntry, ReenteringTheHeldSessionChangesNothingAndKeepsItHeld) {
    Watchdog watchdog("re-entering a held session", 30s);
    PySession* session = newSubInterpreterSession();
    bool heldAfterInner = false;
    bool evalInside = false;
    bool sameInterpreter = false;
    {
        PySession::Use outer(session);
        {
            PySession::Use inner(session);
            evalInside = session->eval("inside = 1");
        }
        heldAfterInner = PyInterpreterRelease::threadHoldsInterpreter();
        PyRef result = PyRef::steal(
            PyRun_String("inside + 1", Py_eval_input, session->globals(), session->globals()));
        sameInterpreter = result && currentInterpreter() == session->interpreter();
    }
    EXPECT_TRUE(evalInside);
    EXPECT_TRUE(heldAfterInner);
    EXPECT_TRUE(sameInterpreter);
    EXPECT_FALSE(PyInterpreterRelease::threadHoldsInterpreter());
}

TEST(SessionEntry, EvalOfAnotherSessionInsideAUseSwitchesThereAndBack) {
    Watchdog watchdog("eval of B inside A", 30s);
    PySession* a = newSubInterpreterSession();
    PySession* b = newSubInterpreterSession();
    bool evaluated = false;
    PyInterpreterState* after = nullptr;
    {
        PySession::Use use(a);
        evaluated = b->eval("from_a = True");
        after = currentInterpreter();
    }
    EXPECT_TRUE(evaluated);
    EXPECT_EQ(after, a->interpreter());
}

namespace {

PySession* targetSession = nullptr;
std::atomic<int> enteredKind{-1};
std::atomic<bool> enteredTarget{false};

PyObject* enterTarget(PyObject*, PyObject*) {
    {
        PySession::Use use(targetSession);
        enteredKind = PySession::getExecType(pycompat::currentThreadStateUnchecked());
        enteredTarget = currentInterpreter() == targetSession->interpreter();
    }
    Py_RETURN_NONE;
}

PyMethodDef enterTargetDefinition = {"enter_target", enterTarget, METH_NOARGS, nullptr};

void installEnterTarget(PySession* session) {
    PySession::Use use(session);
    PyRef function = PyRef::steal(PyCFunction_New(&enterTargetDefinition, nullptr));
    PyDict_SetItemString(session->globals(), "enter_target", function.get());
}

}  // namespace

TEST(SessionEntry, AThreadStartedByTheScriptCanEnterItsOwnAndAnotherSession) {
    Watchdog watchdog("entry from a Python thread", 30s);
    PySession* script = newSubInterpreterSession();
    PySession* other = newSubInterpreterSession();
    installEnterTarget(script);
    for (PySession* target : {script, other}) {
        targetSession = target;
        enteredKind = -1;
        enteredTarget = false;
        EXPECT_TRUE(
            script->eval("import threading\n"
                         "worker = threading.Thread(target=enter_target)\n"
                         "worker.start()\n"
                         "worker.join()"));
        EXPECT_EQ(enteredKind.load(), 1);
        EXPECT_TRUE(enteredTarget.load());
    }
}

TEST(SessionEntry, AThreadThatEndsDeletesTheStatesItMade) {
    Watchdog watchdog("thread end", 30s);
    PySession* a = newSubInterpreterSession();
    PySession* b = newSubInterpreterSession();
    auto counts = [&] {
        std::pair<int, int> result;
        {
            PySession::Use use(a);
            result.first = threadStateCount(a);
        }
        {
            PySession::Use use(b);
            result.second = threadStateCount(b);
        }
        return result;
    };
    std::pair<int, int> before = counts();
    std::promise<void> entered;
    std::promise<void> mayEnd;
    std::thread worker([&] {
        {
            PySession::Use useA(a);
            PySession::Use useB(b);
        }
        entered.set_value();
        mayEnd.get_future().wait();
    });
    entered.get_future().wait();
    std::pair<int, int> during = counts();
    mayEnd.set_value();
    worker.join();
    std::pair<int, int> after = counts();
    EXPECT_EQ(during, std::make_pair(before.first + 1, before.second + 1));
    EXPECT_EQ(after, before);
}

TEST(SessionEntry, ASubInterpreterMadeOnAThreadThatEndedStaysUsableAndSetUpGoesOn) {
    Watchdog watchdog("set-up after a set-up thread ended", 30s);
    PySession* made = nullptr;
    std::thread([&] {
        made = newSubInterpreterSession();
        made->eval("value = 1");
    }).join();
    PySession* next = newSubInterpreterSession();
    EXPECT_TRUE(next->eval("other = 2"));
    EXPECT_TRUE(made->eval("value += 1"));
    EXPECT_TRUE(made->eval("assert value == 2"));
}

TEST(SessionEntry, ReleasingLetsAnotherThreadEnterAndTakesTheSessionBack) {
    Watchdog watchdog("release while waiting", 30s);
    PySession* session = newSubInterpreterSession();
    std::atomic<bool> otherEntered{false};
    bool heldWhileReleased = true;
    bool heldAfterRelease = false;
    bool sameInterpreterAfter = false;
    std::thread other;
    {
        PySession::Use use(session);
        other = std::thread([&] {
            PySession::Use inner(session);
            otherEntered = true;
        });
        {
            PyInterpreterRelease release;
            heldWhileReleased = PyInterpreterRelease::threadHoldsInterpreter();
            while (!otherEntered) {
                std::this_thread::sleep_for(1ms);
            }
        }
        heldAfterRelease = PyInterpreterRelease::threadHoldsInterpreter();
        sameInterpreterAfter = currentInterpreter() == session->interpreter();
    }
    // The other thread takes the lock once more when it ends: join it without holding it.
    other.join();
    EXPECT_FALSE(heldWhileReleased);
    EXPECT_TRUE(heldAfterRelease);
    EXPECT_TRUE(sameInterpreterAfter);
}
