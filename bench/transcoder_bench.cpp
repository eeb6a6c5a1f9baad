// What a numeric Python transcoder costs the host: encode called from a thread that holds no
// interpreter, against the least the same work can cost done by hand (take a mutex, enter the
// sub-interpreter on a cached thread state, call the bound method with one int, convert the
// result, leave, unlock). BM_TranscoderEncodeRatio times both side by side and reports the ratio
// (target: within 1.3x).
#include <benchmark/benchmark.h>

#include <Python.h>

#include <time.h>

#include <mutex>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "transcoders/ProxyPluginPyNumericTranscoder.h"

namespace {

struct EncodeBench {
    PySession* session = nullptr;
    ProxyPluginPyNumericTranscoder<int>* transcoder = nullptr;
    PyObject* method = nullptr;            // owned; the bound encode of the same object
    PyThreadState* cachedState = nullptr;  // this thread's state in the sub-interpreter
    std::mutex mutex;

    // Precondition: called first on the benchmark thread, which holds no interpreter.
    static EncodeBench& instance() {
        static EncodeBench bench;
        return bench;
    }

private:
    EncodeBench() {
        PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
        PyEval_RestoreThread(main->getPyThreadState());
        Py_NewInterpreter();
        main->setPyThreadState(PyEval_SaveThread());
        session = new PySession(main->getPyThreadState());
        session->eval(
            "class Identity:\n"
            "    def encode(self, value):\n"
            "        return value\n"
            "    def decode(self, raw):\n"
            "        return raw\n"
            "encoder = Identity()\n");
        PySession::Use use(session);
        PyObject* encoder = PyDict_GetItemString(session->globals(), "encoder");  // borrowed
        transcoder = new ProxyPluginPyNumericTranscoder<int>(session, encoder, false, false);
        method = PyObject_GetAttrString(encoder, "encode");  // new reference, kept
        // The state the library made for this thread: entering it directly is the cheapest way in.
        cachedState = pycompat::currentThreadStateUnchecked();
    }
};

// The hand-written least cost of one encode. Precondition: the thread holds no interpreter.
unsigned long long leastEncode(EncodeBench& bench, int value) {
    std::lock_guard<std::mutex> lock(bench.mutex);
    PyEval_RestoreThread(bench.cachedState);
    PyRef argument = PyRef::steal(PyLong_FromLong(value));
    PyRef result =
        PyRef::steal(PyObject_CallFunctionObjArgs(bench.method, argument.get(), nullptr));
    const unsigned long long raw = result ? PyLong_AsUnsignedLongLong(result.get()) : 0;
    argument.reset();
    result.reset();
    PyEval_SaveThread();
    return raw;
}

void BM_TranscoderEncode(benchmark::State& state) {
    EncodeBench& bench = EncodeBench::instance();
    int value = 0;
    for (auto _ : state) {
        unsigned long long raw = 0;
        bench.transcoder->encode(value++ & 0xFFFF, &raw);
        benchmark::DoNotOptimize(raw);
    }
}
BENCHMARK(BM_TranscoderEncode);

void BM_LeastEncode(benchmark::State& state) {
    EncodeBench& bench = EncodeBench::instance();
    int value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(leastEncode(bench, value++ & 0xFFFF));
    }
}
BENCHMARK(BM_LeastEncode);

// CPU time of the calling thread: other processes on a busy machine do not count.
long long threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Both ways in alternating rounds, so that the machine's noise hits both alike.
void BM_TranscoderEncodeRatio(benchmark::State& state) {
    EncodeBench& bench = EncodeBench::instance();
    constexpr int kRound = 2000;
    long long transcoder = 0;
    long long least = 0;
    for (auto _ : state) {
        const long long start = threadCpuNanoseconds();
        for (int i = 0; i < kRound; ++i) {
            unsigned long long raw = 0;
            bench.transcoder->encode(i, &raw);
            benchmark::DoNotOptimize(raw);
        }
        const long long middle = threadCpuNanoseconds();
        for (int i = 0; i < kRound; ++i) {
            benchmark::DoNotOptimize(leastEncode(bench, i));
        }
        const long long end = threadCpuNanoseconds();
        transcoder += middle - start;
        least += end - middle;
    }
    const double calls = static_cast<double>(state.iterations()) * kRound;
    state.counters["transcoder_ns"] = static_cast<double>(transcoder) / calls;
    state.counters["least_ns"] = static_cast<double>(least) / calls;
    state.counters["ratio"] = static_cast<double>(transcoder) / static_cast<double>(least);
}
BENCHMARK(BM_TranscoderEncodeRatio)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
