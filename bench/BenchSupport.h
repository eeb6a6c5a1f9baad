// What the benchmarks of this folder share: sub-interpreters made the way plug-in set-up makes
// them, clocks that a busy machine disturbs least, and the alternating comparison that times this
// project's path, its limit and a peer in turns.
//
// Counters. A benchmark that compares reports, per operation: ours_ns, limit_ns, ratio (ours over
// limit) and, where a peer exists, peer_ns and peer_ratio (ours over peer). scripts/bench.sh reads
// them from the JSON output to print its table.
#pragma once

#include <Python.h>
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "PyInterpreter.h"

namespace pppbench {

inline long long clockNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// CPU time of the calling thread: time other processes take from it does not count.
inline long long threadCpuNs() {
    return clockNs(CLOCK_THREAD_CPUTIME_ID);
}

inline long long processCpuNs() {
    return clockNs(CLOCK_PROCESS_CPUTIME_ID);
}

inline long long wallNs() {
    return clockNs(CLOCK_MONOTONIC);
}

// A new sub-interpreter with a session on it, made as plug-in set-up makes one (from the state
// PyMainInterp lends, which the new interpreter's state then replaces). Precondition: the calling
// thread holds no interpreter.
inline PySession* newSession() {
    PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
    PyEval_RestoreThread(main->getPyThreadState());
    PyThreadState* state = Py_NewInterpreter();
    main->setPyThreadState(PyEval_SaveThread());
    return new PySession(state);
}

// Runs Python lines in the session's namespace; a failure ends the program, since every figure
// after it would be wrong. Precondition: the calling thread holds no interpreter, or this one.
inline void runPython(PySession* session, const std::string& code) {
    if (!session->eval(code)) {
        std::fprintf(stderr, "benchmark set-up failed in:\n%s\n", code.c_str());
        std::exit(2);
    }
}

// A name of the session's namespace (borrowed), or the end of the program when it is missing.
// Precondition: the session is held.
inline PyObject* globalOf(PySession* session, const char* name) {
    PyObject* value = PyDict_GetItemString(session->globals(), name);  // borrowed
    if (value == nullptr) {
        std::fprintf(stderr, "benchmark set-up: no global '%s'\n", name);
        std::exit(2);
    }
    return value;
}

// A scratch directory of this process, with a trailing slash; removed when the process exits
// normally (child processes of the suite end with _Exit and leave it to their parent).
inline const std::string& scratchDir() {
    // Never deleted: the removal at exit runs after static objects may have been destroyed.
    static const std::string* dir = [] {
        char name[] = "/tmp/ppp-bench-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            std::perror("mkdtemp");
            std::exit(2);
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(*dir, ignored);
        });
        return new std::string(std::string(name) + "/");
    }();
    return *dir;
}

// One way of doing the operation under test: `run(count)` does it `count` times.
struct Contender {
    const char* counter;  // "ours", "limit" or "peer"
    std::function<void(int)> run;
};

// Times each contender in turns, `count` operations a turn, the order reversed every other turn
// so that the machine's noise and the caches treat all alike; reports thread CPU nanoseconds per
// operation as <counter>_ns and the ratios of "ours" to "limit" and to "peer".
inline void alternate(benchmark::State& state, int count,
                      const std::vector<Contender>& contenders) {
    std::vector<long long> total(contenders.size(), 0);
    bool reversed = false;
    for (auto _ : state) {
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            const std::size_t i = reversed ? contenders.size() - 1 - k : k;
            const long long start = threadCpuNs();
            contenders[i].run(count);
            total[i] += threadCpuNs() - start;
        }
        reversed = !reversed;
    }
    const double operations = static_cast<double>(state.iterations()) * count;
    double ours = 0;
    double limit = 0;
    double peer = 0;
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        const double perOperation = static_cast<double>(total[i]) / operations;
        state.counters[std::string(contenders[i].counter) + "_ns"] = perOperation;
        const std::string name = contenders[i].counter;
        if (name == "ours") {
            ours = perOperation;
        } else if (name == "limit") {
            limit = perOperation;
        } else if (name == "peer") {
            peer = perOperation;
        }
    }
    if (limit > 0) {
        state.counters["ratio"] = ours / limit;
    }
    if (peer > 0) {
        state.counters["peer_ratio"] = ours / peer;
    }
}

// The value at `fraction` (0.5 the median, 0.99 the 99th percentile) of `values`, which it sorts.
inline double percentile(std::vector<double>& values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()));
    return values[index];
}

}  // namespace pppbench

namespace pppbench {

// The plug-in creation benchmark measures in child processes of this program; main hands such a
// child its work here. Returns the child's exit status, or -1 when `argv` asks for no child work.
int runChildWork(int argc, char** argv);

}  // namespace pppbench
