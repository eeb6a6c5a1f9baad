// Entering sessions: from many threads at once and the clean-up when they end, nested and
// alternated across sub-interpreters on one thread, re-entered, and the kind of entry.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "PyRef.h"
#include "tests/interpreter/SessionTestSupport.h"
#include "tests/support/Barrier.h"
#include "tests/support/Watchdog.h"

using namespace interpreter_test;
using namespace std::chrono_literals;

namespace {

// Precondition: an interpreter is held.
PyInterpreterState* current() {
    return pycompat::interpreterOf(PyThreadState_Get());
}

std::vector<int> kinds;  // what the calling thread's state was entered for, in turn
PyObject* probe(PyObject*, PyObject*) {
    kinds.push_back(PySession::getExecType(pycompat::currentThreadStateUnchecked()));
    Py_RETURN_NONE;
}
PyMethodDef probeDefinition = {"probe", probe, METH_NOARGS, nullptr};

// The ids of the session's interpreter's thread states, the calling thread's own included.
std::set<uint64_t> threadStateIds(PySession* session) {
    PySession::Use use(session);
    std::set<uint64_t> ids;
    for (auto* s = PyInterpreterState_ThreadHead(session->interpreter()); s != nullptr;
         s = PyThreadState_Next(s)) {
        ids.insert(pycompat::threadStateId(s));
    }
    return ids;
}

}  // namespace

TEST(SessionEntry, FourThreadsEnteringTwoSubInterpretersAtOnceRunAloneAndLeaveNoStateBehind) {
    Watchdog watchdog("four threads entering one session", 60s);
    PySession* a = newSubInterpreterSession();
    PySession* b = newSubInterpreterSession();
    ASSERT_TRUE(a->eval("entries = []"));
    Barrier barrier(4);
    long counter = 0;  // entries that found `a` current; changed only with `a` held
    // The ids of the states each thread entered with, in `a` and in `b`: written by that thread.
    std::vector<std::pair<uint64_t, uint64_t>> used(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            barrier.arriveAndWait();
            for (int round = 0; round < 2000; ++round) {
                PySession::Use use(a);
                counter += current() == a->interpreter();
                used[t].first = pycompat::threadStateId(PyThreadState_Get());
                PyRef number = PyRef::steal(PyLong_FromLong(t));
                // The list is borrowed from the namespace.
                PyList_Append(PyDict_GetItemString(a->globals(), "entries"), number.get());
                PySession::Use nested(b);  // a state of its own in `b` too, for the thread's end
                used[t].second = pycompat::threadStateId(PyThreadState_Get());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 4 * 2000);
    EXPECT_TRUE(a->eval("assert [entries.count(t) for t in range(4)] == [2000] * 4"));
    // Compared by id, not by count: on CPython 3.9 to 3.12 a wait that lasted (under load) may
    // have given each interpreter a lock hand-off helper with a state of its own meanwhile.
    const std::set<uint64_t> left[] = {threadStateIds(a), threadStateIds(b)};
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(left[0].count(used[t].first), 0u) << "thread " << t << "'s state in a";
        EXPECT_EQ(left[1].count(used[t].second), 0u) << "thread " << t << "'s state in b";
    }
}

TEST(SessionEntry, TwoSubInterpretersAlternateAndNestOnOneThreadAndReentryKeepsTheSessionHeld) {
    Watchdog watchdog("nesting A, B, A on one thread", 30s);
    PySession* a = newSubInterpreterSession();
    PySession* b = newSubInterpreterSession();
    for (int round = 0; round < 2; ++round) {
        PySession::Use useA(a);
        { PySession::Use same(a); }
        EXPECT_TRUE(current() == a->interpreter() && a->eval("where = 'a'"));
        {
            PySession::Use useB(b);
            EXPECT_TRUE(current() == b->interpreter() && b->eval("where = 'b'"));
            { PySession::Use useAAgain(a), useBAgain(b), useAThird(a); }
            EXPECT_TRUE(a->eval("assert where == 'a'") && current() == b->interpreter());
        }
        EXPECT_EQ(current(), a->interpreter());
    }
    EXPECT_FALSE(PyInterpreterRelease::threadHoldsInterpreter());
    EXPECT_TRUE(b->eval("assert where == 'b'"));
}

TEST(SessionEntry, TheKindIsOneInAUseTwoInEvalThreeInExecFileAndZeroForAnotherThreadsState) {
    kinds.clear();
    PySession* session = newSubInterpreterSession();
    PyThreadState* held = nullptr;
    {
        PySession::Use use(session);
        PyRef function = PyRef::steal(PyCFunction_New(&probeDefinition, nullptr));
        PyDict_SetItemString(session->globals(), "probe", function.get());
        held = pycompat::currentThreadStateUnchecked();
        kinds.push_back(PySession::getExecType(held));
        session->eval("probe()");
        kinds.push_back(PySession::getExecType(held));
        std::thread([&] { kinds.push_back(PySession::getExecType(held)); }).join();
    }
    session->exec_file(dataFile("probes_exec_kind.py"));
    kinds.push_back(PySession::getExecType(held));
    kinds.push_back(PySession::getExecType(nullptr));
    EXPECT_EQ(kinds, (std::vector<int>{1, 2, 1, 0, 3, 0, 0}));
}
