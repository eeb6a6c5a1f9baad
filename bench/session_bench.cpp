// Cost of entering and leaving a session on a thread that already has its thread state, next to
// its limit, the bare PyEval_RestoreThread + PyEval_SaveThread pair on that same state. Target:
// ratio (ours over limit) within 1.2.

#include <Python.h>
#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "PyCompat.h"
#include "PyInterpreter.h"

namespace {

PySession* benchSession() {
    static PySession* session = pppbench::newSession();
    return session;
}

// The calling thread's state for the session, made by a first entry.
PyThreadState* threadStateOf(PySession* session) {
    PySession::Use use(session);
    return pycompat::currentThreadStateUnchecked();
}

void enterAndLeave(PySession* session, int count) {
    for (int i = 0; i < count; ++i) {
        PySession::Use use(session);
        benchmark::ClobberMemory();
    }
}

void restoreAndSave(PyThreadState* threadState, int count) {
    for (int i = 0; i < count; ++i) {
        PyEval_RestoreThread(threadState);
        benchmark::ClobberMemory();
        PyEval_SaveThread();
    }
}

void BM_SessionUse(benchmark::State& state) {
    PySession* session = benchSession();
    threadStateOf(session);
    for (auto _ : state) {
        enterAndLeave(session, 1);
    }
}
BENCHMARK(BM_SessionUse);

void BM_BareRestoreSave(benchmark::State& state) {
    PyThreadState* threadState = threadStateOf(benchSession());
    for (auto _ : state) {
        restoreAndSave(threadState, 1);
    }
}
BENCHMARK(BM_BareRestoreSave);

// Both in turns, so that both see the same machine load; ours_ns, limit_ns and ratio.
void BM_SessionUseOverBare(benchmark::State& state) {
    PySession* session = benchSession();
    PyThreadState* threadState = threadStateOf(session);
    pppbench::alternate(
        state, 1000,
        {{"ours", [session](int count) { enterAndLeave(session, count); }},
         {"limit", [threadState](int count) { restoreAndSave(threadState, count); }}});
}
BENCHMARK(BM_SessionUseOverBare);

}  // namespace
