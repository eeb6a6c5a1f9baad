// Cost of entering and leaving a session on a thread that already has its thread state, next to
// the bare PyEval_RestoreThread + PyEval_SaveThread pair on that same state. Target: the session
// within 1.2 times the bare pair.

#include <Python.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "PyCompat.h"
#include "PyInterpreter.h"

namespace {

// A sub-interpreter made the way plug-in set-up makes it.
PySession* benchSession() {
    static PySession* session = [] {
        PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
        PyEval_RestoreThread(main->getPyThreadState());
        PyThreadState* state = Py_NewInterpreter();
        main->setPyThreadState(PyEval_SaveThread());
        return new PySession(state);
    }();
    return session;
}

// The calling thread's state for the session, made by a first entry.
PyThreadState* threadStateOf(PySession* session) {
    PySession::Use use(session);
    return pycompat::currentThreadStateUnchecked();
}

double lastRatio = 0.0;

void BM_SessionUse(benchmark::State& state) {
    PySession* session = benchSession();
    threadStateOf(session);
    for (auto _ : state) {
        PySession::Use use(session);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SessionUse);

void BM_BareRestoreSave(benchmark::State& state) {
    PyThreadState* threadState = threadStateOf(benchSession());
    for (auto _ : state) {
        PyEval_RestoreThread(threadState);
        benchmark::ClobberMemory();
        PyEval_SaveThread();
    }
}
BENCHMARK(BM_BareRestoreSave);

// Both in alternating batches, so that both see the same machine load; the ratio is a counter.
void BM_SessionUseOverBare(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr int kBatch = 1000;
    PySession* session = benchSession();
    PyThreadState* threadState = threadStateOf(session);
    Clock::duration useTime{};
    Clock::duration bareTime{};
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            PySession::Use use(session);
            benchmark::ClobberMemory();
        }
        Clock::time_point middle = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            PyEval_RestoreThread(threadState);
            benchmark::ClobberMemory();
            PyEval_SaveThread();
        }
        Clock::time_point end = Clock::now();
        useTime += middle - start;
        bareTime += end - middle;
    }
    double entries = static_cast<double>(state.iterations()) * kBatch;
    double useNs = std::chrono::duration<double, std::nano>(useTime).count() / entries;
    double bareNs = std::chrono::duration<double, std::nano>(bareTime).count() / entries;
    lastRatio = bareNs > 0 ? useNs / bareNs : 0.0;
    state.counters["use_ns"] = useNs;
    state.counters["bare_ns"] = bareNs;
    state.counters["ratio"] = lastRatio;
}
BENCHMARK(BM_SessionUseOverBare);

}  // namespace

// Weak, so that a benchmark file with a main of its own takes over; the ratio counter stays.
__attribute__((weak)) int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (lastRatio > 0) {
        std::printf("session entry / bare restore+save: %.2fx (target 1.20x)\n", lastRatio);
        std::fflush(stdout);
    }
    return 0;
}
