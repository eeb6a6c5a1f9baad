// The suite's program: a child started by a benchmark does its work and ends; otherwise Google
// Benchmark runs with the usual options.
#include <Python.h>
#include <benchmark/benchmark.h>

#include "BenchSupport.h"

int main(int argc, char** argv) {
    const int childStatus = pppbench::runChildWork(argc, argv);
    if (childStatus >= 0) {
        return childStatus;
    }
    benchmark::AddCustomContext("python", PY_VERSION);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
