// Python transcoders as the host meets them: encode of a numeric field and decode of a text field,
// called from a thread that holds no interpreter. Each is timed beside
//  - its limit, the least the same work can cost written by hand: take a mutex, enter the
//    sub-interpreter on the thread's cached state, call the bound method with one argument,
//    convert the result, leave, unlock;
//  - its peer, the same call written with pybind11: a mutex, gil_scoped_acquire on the main
//    interpreter, the call, the cast of the result.
// The text limit calls the bound method and reads the result as UTF-8; the transcoder must look
// the method up by name at every call and encode the result in the locale's encoding. More
// contenders add those to the limit (the lookup with a name object made once, the encoding with
// PyUnicode_EncodeLocale), so that the table shows what each costs.
#include <Python.h>
#include <benchmark/benchmark.h>

#include <mutex>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "transcoders/ProxyPluginPyNumericTranscoder.h"
#include "transcoders/ProxyPluginPyStringTranscoder.h"

#if defined(PPP_BENCH_PYBIND11)
#include <pybind11/embed.h>
#include <pybind11/pybind11.h>
namespace py = pybind11;
#endif

namespace {

const char* const kEchoClass =
    "class Echo:\n"
    "    def encode(self, value):\n"
    "        return value\n"
    "    def decode(self, raw):\n"
    "        return raw\n"
    "bench_echo = Echo()\n";

// A field text short enough for the standard library's small-string storage, like most.
const std::string kText = "N 51.5 E 7.2";

struct TranscoderBench {
    PySession* session = nullptr;
    ProxyPluginPyNumericTranscoder<int>* numeric = nullptr;
    ProxyPluginPyStringTranscoder* text = nullptr;
    PyObject* encodeMethod = nullptr;      // owned, never released: bound encode of the same object
    PyObject* decodeMethod = nullptr;      // owned, never released
    PyObject* echo = nullptr;              // owned, never released
    PyObject* decodeName = nullptr;        // owned, never released: the interned "decode"
    PyThreadState* cachedState = nullptr;  // the calling thread's state in the sub-interpreter
    std::mutex mutex;                      // the limit's stand-in for transcoder_mutex

#if defined(PPP_BENCH_PYBIND11)
    py::object* peerEncode = nullptr;  // in the main interpreter; never destroyed
    py::object* peerDecode = nullptr;
    std::mutex peerMutex;
#endif

    // Precondition: first called on the benchmark thread, holding no interpreter.
    static TranscoderBench& instance() {
        static TranscoderBench* bench = new TranscoderBench();
        return *bench;
    }

private:
    TranscoderBench() {
        session = pppbench::newSession();
        pppbench::runPython(session, kEchoClass);
        {
            PySession::Use use(session);
            echo = PyRef::borrow(pppbench::globalOf(session, "bench_echo")).release();
            numeric = new ProxyPluginPyNumericTranscoder<int>(session, echo, false, false);
            text = new ProxyPluginPyStringTranscoder(session, echo, false, false);
            encodeMethod = PyObject_GetAttrString(echo, "encode");  // new reference, kept
            decodeMethod = PyObject_GetAttrString(echo, "decode");  // new reference, kept
            decodeName = PyUnicode_InternFromString("decode");      // new reference, kept
            cachedState = pycompat::currentThreadStateUnchecked();
        }
#if defined(PPP_BENCH_PYBIND11)
        // The calling thread initialised Python: its own main-interpreter state is the one
        // gil_scoped_acquire finds, cached, as it would on any thread a host keeps registered.
        py::gil_scoped_acquire gil;
        py::dict scope;
        py::exec(kEchoClass, scope);
        peerEncode = new py::object(scope["bench_echo"].attr("encode"));
        peerDecode = new py::object(scope["bench_echo"].attr("decode"));
#endif
    }
};

// Precondition for all the ways below: the calling thread holds no interpreter.

unsigned long long limitEncode(TranscoderBench& bench, int value) {
    std::lock_guard<std::mutex> lock(bench.mutex);
    PyEval_RestoreThread(bench.cachedState);
    unsigned long long raw = 0;
    {
        PyRef argument = PyRef::steal(PyLong_FromLong(value));
        PyRef result = PyRef::steal(pycompat::callOneArgument(bench.encodeMethod, argument.get()));
        raw = result ? PyLong_AsUnsignedLongLong(result.get()) : 0;
    }
    PyEval_SaveThread();
    return raw;
}

// `lookUp`: find the method by name at every call; `locale`: encode the result in the locale's
// encoding; both false: the least the work costs.
void limitDecode(TranscoderBench& bench, const std::string& raw, std::string* value, bool lookUp,
                 bool locale) {
    std::lock_guard<std::mutex> lock(bench.mutex);
    PyEval_RestoreThread(bench.cachedState);
    {
        PyRef argument = PyRef::steal(
            PyUnicode_FromStringAndSize(raw.data(), static_cast<Py_ssize_t>(raw.size())));
        PyRef method = lookUp ? PyRef::steal(PyObject_GetAttr(bench.echo, bench.decodeName))
                              : PyRef::borrow(bench.decodeMethod);
        PyRef result = PyRef::steal(pycompat::callOneArgument(method.get(), argument.get()));
        if (result && locale) {
            PyRef bytes = PyRef::steal(PyUnicode_EncodeLocale(result.get(), nullptr));
            if (bytes) {
                value->assign(PyBytes_AsString(bytes.get()));
            }
        } else if (result) {
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(result.get(), &size);  // kept by result
            if (utf8 != nullptr) {
                value->assign(utf8, static_cast<std::size_t>(size));
            }
        }
    }
    PyErr_Clear();
    PyEval_SaveThread();
}

#if defined(PPP_BENCH_PYBIND11)
unsigned long long peerEncode(TranscoderBench& bench, int value) {
    std::lock_guard<std::mutex> lock(bench.peerMutex);
    py::gil_scoped_acquire gil;
    return (*bench.peerEncode)(value).cast<unsigned long long>();
}

void peerDecode(TranscoderBench& bench, const std::string& raw, std::string* value) {
    std::lock_guard<std::mutex> lock(bench.peerMutex);
    py::gil_scoped_acquire gil;
    *value = (*bench.peerDecode)(raw).cast<std::string>();
}
#endif

void BM_NumericEncode(benchmark::State& state) {
    TranscoderBench& bench = TranscoderBench::instance();
    std::vector<pppbench::Contender> contenders = {
        {"ours",
         [&bench](int count) {
             for (int i = 0; i < count; ++i) {
                 unsigned long long raw = 0;
                 bench.numeric->encode(i, &raw);
                 benchmark::DoNotOptimize(raw);
             }
         }},
        {"limit",
         [&bench](int count) {
             for (int i = 0; i < count; ++i) {
                 benchmark::DoNotOptimize(limitEncode(bench, i));
             }
         }},
#if defined(PPP_BENCH_PYBIND11)
        {"peer",
         [&bench](int count) {
             for (int i = 0; i < count; ++i) {
                 benchmark::DoNotOptimize(peerEncode(bench, i));
             }
         }},
#endif
    };
    pppbench::alternate(state, 1000, contenders);
}
BENCHMARK(BM_NumericEncode)->Unit(benchmark::kMillisecond);

void BM_StringDecode(benchmark::State& state) {
    TranscoderBench& bench = TranscoderBench::instance();
    auto limitWith = [&bench](bool lookUp, bool locale) {
        return [&bench, lookUp, locale](int count) {
            std::string value;
            for (int i = 0; i < count; ++i) {
                limitDecode(bench, kText, &value, lookUp, locale);
                benchmark::DoNotOptimize(value);
            }
        };
    };
    std::vector<pppbench::Contender> contenders = {
        {"ours",
         [&bench](int count) {
             std::string value;
             for (int i = 0; i < count; ++i) {
                 // The host hands the raw text by value.
                 bench.text->decode(kText, &value);
                 benchmark::DoNotOptimize(value);
             }
         }},
        {"limit", limitWith(false, false)},
        {"limit_lookup", limitWith(true, false)},
        {"limit_locale", limitWith(false, true)},
        {"limit_lookup_locale", limitWith(true, true)},
#if defined(PPP_BENCH_PYBIND11)
        {"peer",
         [&bench](int count) {
             std::string value;
             for (int i = 0; i < count; ++i) {
                 peerDecode(bench, kText, &value);
                 benchmark::DoNotOptimize(value);
             }
         }},
#endif
    };
    pppbench::alternate(state, 1000, contenders);
}
BENCHMARK(BM_StringDecode)->Unit(benchmark::kMillisecond);

#if defined(PPP_BENCH_PYBIND11)
// pybind11 on a thread it has no state for: gil_scoped_acquire makes a thread state and deletes
// it again at every call. What a host thread pays that pybind11 does not know.
void BM_PeerEncodeOnForeignThread(benchmark::State& state) {
    TranscoderBench& bench = TranscoderBench::instance();
    constexpr int kCount = 2000;
    long long total = 0;
    for (auto _ : state) {
        std::thread worker([&bench, &total] {
            const long long start = pppbench::threadCpuNs();
            for (int i = 0; i < kCount; ++i) {
                benchmark::DoNotOptimize(peerEncode(bench, i));
            }
            total += pppbench::threadCpuNs() - start;
        });
        worker.join();
    }
    state.counters["peer_ns"] = static_cast<double>(total) / (state.iterations() * kCount);
}
BENCHMARK(BM_PeerEncodeOnForeignThread)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
