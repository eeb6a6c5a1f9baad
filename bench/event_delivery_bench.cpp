// Events from the host to a script's callable through handler bridges, and what the host's
// delivery call costs while a script is busy.
//
// BM_EventDelivery/<producers>/<bridges>: host threads hand events to bridges with
// consumeICDEvent, as the host library does; each bridge's thread calls the script's callable
// once per event. Throughput is counted from the moment the producers start until every queue is
// empty and every call has returned. The limit does the same with the least machinery: a deque
// and a condition variable per consumer thread, which enters the sub-interpreter on its cached
// thread state once per event and calls the same callable.
//
// BM_EventDrain: the consumers alone, on queues filled beforehand, in CPU time per event: the
// cost of one delivery on the bridge's thread without producers competing for the queue's lock.
//
// BM_ConsumeWhileScriptRuns: one host thread calls consumeICDEvent while the bridge's thread runs
// a callable that holds the interpreter for milliseconds. The limit is a mutex and a deque push;
// a third contender adds what the bridge must do besides (the host library's own handling of the
// event, which it calls first, and the notification of the bridge's thread). The host must never
// wait for Python: its worst calls stay far below the time the callable holds the interpreter.
#include <Python.h>
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <time.h>
#include <x86intrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "ICDUiObject.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"

namespace {

constexpr int kMaxBridges = 8;
constexpr auto kIdleTimeout = std::chrono::seconds(120);

// Set by the slow callable as it starts: the host thread then knows the interpreter is busy.
std::atomic<bool> g_slowCallStarted{false};

PyObject* markSlowCallStarted(PyObject*, PyObject*) {
    g_slowCallStarted.store(true);
    Py_RETURN_NONE;
}

// The CPU clock of the thread that last called bench_probe.thread_clock (an event callable).
std::atomic<clockid_t> g_lastThreadClock{};

PyObject* recordThreadClock(PyObject*, PyObject*) {
    clockid_t clock{};
    pthread_getcpuclockid(pthread_self(), &clock);
    g_lastThreadClock.store(clock);
    Py_RETURN_NONE;
}

PyMethodDef probeMethods[] = {
    {"started", markSlowCallStarted, METH_NOARGS, "Tell the benchmark the slow call runs."},
    {"thread_clock", recordThreadClock, METH_O, "Tell the benchmark the calling thread's clock."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probeModule = {
    PyModuleDef_HEAD_INIT,
    "bench_probe",
    nullptr,
    -1,
    probeMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// While bench_slow is true each call holds the interpreter about 3 ms (it is not released: no
// other thread asks for it meanwhile).
const char* const kScript =
    "def bench_on_event(event):\n"
    "    pass\n"
    "bench_slow = True\n"
    "def bench_slow_event(event):\n"
    "    if bench_slow:\n"
    "        bench_probe.started()\n"
    "        n = 0\n"
    "        while n < 100000:\n"
    "            n += 1\n";

// The limit's consumer: a deque, a condition variable and a thread that enters the
// sub-interpreter on its own cached state for each event. Lives until the process ends.
class BareConsumer {
public:
    BareConsumer(PyInterpreterState* interpreter, PyObject* callable)
        : _interpreter(interpreter), _callable(callable) {
        _thread = std::thread([this] { loop(); });
    }

    // `all`: notify every waiter, as the bridge does, rather than one.
    void push(unsigned int event, bool all = false) {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _queue.push_back(event);
        }
        if (all) {
            _ready.notify_all();
        } else {
            _ready.notify_one();
        }
    }

    void waitIdle() {
        std::unique_lock<std::mutex> lock(_mutex);
        _idle.wait(lock, [this] { return _queue.empty() && !_busy; });
    }

    // The CPU clock of the consumer thread.
    clockid_t clock() {
        std::unique_lock<std::mutex> lock(_mutex);
        _idle.wait(lock, [this] { return _clockKnown; });
        return _clock;
    }

private:
    void loop() {
        PyThreadState* state = PyThreadState_New(_interpreter);  // this thread's, never deleted
        std::unique_lock<std::mutex> lock(_mutex);
        pthread_getcpuclockid(pthread_self(), &_clock);
        _clockKnown = true;
        _idle.notify_all();
        for (;;) {
            _ready.wait(lock, [this] { return !_queue.empty(); });
            while (!_queue.empty()) {
                const unsigned int event = _queue.front();
                _queue.pop_front();
                _busy = true;
                lock.unlock();
                PyEval_RestoreThread(state);
                {
                    PyRef argument = PyRef::steal(PyLong_FromLong(static_cast<long>(event)));
                    PyRef result =
                        PyRef::steal(pycompat::callOneArgument(_callable, argument.get()));
                }
                PyEval_SaveThread();
                lock.lock();
                _busy = false;
            }
            _idle.notify_all();
        }
    }

    PyInterpreterState* _interpreter;
    PyObject* _callable;  // borrowed from the session's namespace, which keeps it
    std::mutex _mutex;
    std::condition_variable _ready;
    std::condition_variable _idle;
    std::deque<unsigned int> _queue;
    bool _busy = false;
    clockid_t _clock{};
    bool _clockKnown = false;
    std::thread _thread;
};

struct EventBench {
    PySession* session = nullptr;
    std::vector<ProxyPluginPyHandlerInterface*> bridges;
    std::vector<BareConsumer*> bare;
    std::vector<clockid_t> bridgeClocks;  // CPU clocks of the bridges' threads
    std::vector<clockid_t> bareClocks;
    ProxyPluginPyHandlerInterface* slowBridge = nullptr;

    // Precondition: first called on a thread that holds no interpreter.
    static EventBench& instance() {
        static EventBench* bench = new EventBench();
        return *bench;
    }

private:
    EventBench() {
        session = pppbench::newSession();
        {
            PySession::Use use(session);
            PyRef probe = PyRef::steal(PyModule_Create(&probeModule));
            if (!probe || PyDict_SetItemString(session->globals(), "bench_probe", probe.get())) {
                pycompat::printPendingError();
                std::exit(2);
            }
        }
        pppbench::runPython(session, kScript);
        PySession::Use use(session);
        PyObject* onEvent = pppbench::globalOf(session, "bench_on_event");
        PyObject* probeModule = pppbench::globalOf(session, "bench_probe");
        PyRef threadClock = PyRef::steal(PyObject_GetAttrString(probeModule, "thread_clock"));
        // Bridges without a handler: the host's delivery is their consumeICDEvent, called below.
        for (int i = 0; i < kMaxBridges; ++i) {
            auto* bridge = new ProxyPluginPyHandlerInterface(nullptr, session);
            PyRef set = PyRef::steal(bridge->setOnConsumeICDEvent(threadClock.get()));
            bridge->init();
            bridges.push_back(bridge);
            bare.push_back(new BareConsumer(session->interpreter(), onEvent));
            bareClocks.push_back(bare.back()->clock());
        }
        // One event each tells the bridges' clocks; then the callable of the benchmark.
        for (ProxyPluginPyHandlerInterface* bridge : bridges) {
            g_lastThreadClock.store(clockid_t{});
            bridge->consumeICDEvent(1, 0);
            {
                PyInterpreterRelease release;
                bridge->waitUntilIdle(kIdleTimeout);
            }
            bridgeClocks.push_back(g_lastThreadClock.load());
            PyRef set = PyRef::steal(bridge->setOnConsumeICDEvent(onEvent));
        }
        slowBridge = new ProxyPluginPyHandlerInterface(nullptr, session);
        PyRef set = PyRef::steal(
            slowBridge->setOnConsumeICDEvent(pppbench::globalOf(session, "bench_slow_event")));
        slowBridge->init();
    }
};

// What one delivery run took: wall time from the producers' start to the last idle consumer, and
// the CPU time of every thread involved (producers and the consumers used).
struct DeliveryTime {
    double wallNs = 0;
    double cpuNs = 0;
};

double cpuOf(const std::vector<clockid_t>& clocks, int count) {
    double total = 0;
    for (int c = 0; c < count; ++c) {
        total += static_cast<double>(pppbench::clockNs(clocks[c]));
    }
    return total;
}

// Starts `producers` threads together; each hands out its share of `events` round-robin over the
// first `consumers` consumers with `push(consumer, event)`; then waits with `waitIdle(consumer)`
// for every consumer.
template <typename Push, typename WaitIdle>
DeliveryTime deliver(int producers, int consumers, int events,
                     const std::vector<clockid_t>& consumerClocks, Push push, WaitIdle waitIdle) {
    std::mutex startMutex;
    std::condition_variable startSignal;
    bool started = false;
    std::atomic<long long> producerCpu{0};
    std::vector<std::thread> threads;
    const int share = events / producers;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            {
                std::unique_lock<std::mutex> lock(startMutex);
                startSignal.wait(lock, [&] { return started; });
            }
            const long long cpu = pppbench::threadCpuNs();
            for (int i = 0; i < share; ++i) {
                push((p + i) % consumers, static_cast<unsigned int>(1 + i % 1000));
            }
            producerCpu += pppbench::threadCpuNs() - cpu;
        });
    }
    // Let every producer reach its wait before the clock starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const double consumerCpu = cpuOf(consumerClocks, consumers);
    const long long start = pppbench::wallNs();
    {
        std::lock_guard<std::mutex> lock(startMutex);
        started = true;
    }
    startSignal.notify_all();
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int c = 0; c < consumers; ++c) {
        waitIdle(c);
    }
    DeliveryTime time;
    time.wallNs = static_cast<double>(pppbench::wallNs() - start);
    time.cpuNs = cpuOf(consumerClocks, consumers) - consumerCpu + static_cast<double>(producerCpu);
    return time;
}

// Throughput in events per second, as the median over rounds (a round that another process
// slowed down does not count more than any other), and the ratio as the median of the rounds'
// ratios, each round timing the contenders back to back. CPU nanoseconds per event, summed over
// all threads, shows where time goes that the wall clock hides. A third contender is the limit
// whose producers also do what the bridge's consumeICDEvent must do besides the push (the host
// library's own handling of the event, and a notification of every waiter).
void BM_EventDelivery(benchmark::State& state) {
    EventBench& bench = EventBench::instance();
    const int producers = static_cast<int>(state.range(0));
    const int consumers = static_cast<int>(state.range(1));
    constexpr int kEvents = 8000;
    ICDUiObject hostObject;
    enum { kOurs, kLimit, kLimitHost, kKinds };
    const char* names[kKinds] = {"ours", "limit", "limit_host"};
    std::vector<double> rate[kKinds], cpu[kKinds], rateRatio;
    auto run = [&](int kind) {
        if (kind == kOurs) {
            return deliver(
                producers, consumers, kEvents, bench.bridgeClocks,
                [&](int c, unsigned int event) { bench.bridges[c]->consumeICDEvent(event, 0); },
                [&](int c) { bench.bridges[c]->waitUntilIdle(kIdleTimeout); });
        }
        const bool host = kind == kLimitHost;
        return deliver(
            producers, consumers, kEvents, bench.bareClocks,
            [&](int c, unsigned int event) {
                if (!host) {
                    bench.bare[c]->push(event, false);
                } else if (hostObject.ICDUiAbstractObject::consumeICDEvent(event, 0)) {
                    bench.bare[c]->push(event, true);
                }
            },
            [&](int c) { bench.bare[c]->waitIdle(); });
    };
    bool reversed = false;
    for (auto _ : state) {
        DeliveryTime time[kKinds];
        for (int k = 0; k < kKinds; ++k) {
            const int kind = reversed ? kKinds - 1 - k : k;
            time[kind] = run(kind);
        }
        reversed = !reversed;
        for (int kind = 0; kind < kKinds; ++kind) {
            rate[kind].push_back(kEvents / (time[kind].wallNs / 1e9));
            cpu[kind].push_back(time[kind].cpuNs / kEvents);
        }
        rateRatio.push_back(time[kLimit].wallNs / time[kOurs].wallNs);
    }
    for (int kind = 0; kind < kKinds; ++kind) {
        state.counters[std::string(names[kind]) + "_eps"] = pppbench::percentile(rate[kind], 0.5);
        state.counters[std::string(names[kind]) + "_cpu_ns"] = pppbench::percentile(cpu[kind], 0.5);
    }
    state.counters["ratio"] = pppbench::percentile(rateRatio, 0.5);
    state.counters["cpu_ratio"] = state.counters["ours_cpu_ns"] / state.counters["limit_cpu_ns"];
}
BENCHMARK(BM_EventDelivery)
    ->ArgNames({"producers", "bridges"})
    ->Args({1, 1})
    ->Args({4, 1})
    ->Args({1, 8})
    ->Args({4, 8})
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The consumers alone: events queued while this thread holds the session (so that nobody can
// deliver), then released; the consumers' CPU time until every queue is empty, per event. No
// producer competes for the queues' locks: what is left is the cost of one delivery.
void BM_EventDrain(benchmark::State& state) {
    EventBench& bench = EventBench::instance();
    const int consumers = static_cast<int>(state.range(0));
    constexpr int kEvents = 20000;
    std::vector<double> ours, limit;
    auto drain = [&](const std::vector<clockid_t>& clocks, auto push, auto waitIdle) {
        double cpu = 0;
        {
            PySession::Use use(bench.session);
            for (int i = 0; i < kEvents; ++i) {
                push(i % consumers, static_cast<unsigned int>(1 + i % 1000));
            }
            cpu = cpuOf(clocks, consumers);
        }
        for (int c = 0; c < consumers; ++c) {
            waitIdle(c);
        }
        return (cpuOf(clocks, consumers) - cpu) / kEvents;
    };
    auto runOurs = [&] {
        ours.push_back(drain(
            bench.bridgeClocks,
            [&](int c, unsigned int e) { bench.bridges[c]->consumeICDEvent(e, 0); },
            [&](int c) { bench.bridges[c]->waitUntilIdle(kIdleTimeout); }));
    };
    auto runLimit = [&] {
        limit.push_back(drain(
            bench.bareClocks, [&](int c, unsigned int e) { bench.bare[c]->push(e); },
            [&](int c) { bench.bare[c]->waitIdle(); }));
    };
    bool reversed = false;
    for (auto _ : state) {
        if (reversed) {
            runLimit();
            runOurs();
        } else {
            runOurs();
            runLimit();
        }
        reversed = !reversed;
    }
    state.counters["ours_ns"] = pppbench::percentile(ours, 0.5);
    state.counters["limit_ns"] = pppbench::percentile(limit, 0.5);
    state.counters["ratio"] = state.counters["ours_ns"] / state.counters["limit_ns"];
}
BENCHMARK(BM_EventDrain)->ArgName("bridges")->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A clock for single calls of a few nanoseconds: the time-stamp counter, which this machine keeps
// constant and in step across cores. Ticks per nanosecond are measured against the steady clock.
inline unsigned long long ticks() {
    _mm_lfence();
    const unsigned long long now = __rdtsc();
    _mm_lfence();
    return now;
}

double ticksPerNs() {
    const auto start = std::chrono::steady_clock::now();
    const unsigned long long first = ticks();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const unsigned long long last = ticks();
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    return static_cast<double>(last - first) / ns;
}

// Ticks that `call` takes, the clock's own cost included.
template <typename Call>
unsigned long long timeOne(Call&& call) {
    const unsigned long long start = ticks();
    call();
    return ticks() - start;
}

void BM_ConsumeWhileScriptRuns(benchmark::State& state) {
    EventBench& bench = EventBench::instance();
    ProxyPluginPyHandlerInterface* bridge = bench.slowBridge;
    const double perNs = ticksPerNs();
    std::vector<double> clockSamples;
    for (int i = 0; i < 10001; ++i) {
        clockSamples.push_back(static_cast<double>(timeOne([] {})));
    }
    const double clockTicks = pppbench::percentile(clockSamples, 0.5);
    constexpr int kBlock = 50;   // calls of one kind in a row
    constexpr int kBlocks = 10;  // blocks of each kind per slow call
    std::mutex bareMutex;
    std::deque<unsigned int> bareQueue;
    std::condition_variable bareReady;  // nobody waits on it, as nobody waits on the bridge's
    ICDUiObject hostObject;             // the host's own handling of an event, for comparison
    enum { kOurs, kLimit, kLimitHost, kKinds };
    std::vector<double> single[kKinds];  // one call each, for the tail
    std::vector<double> block[kKinds];   // per call over a block, for the median
    int outsideSlowCall = 0;
    auto measure = [&](int kind, auto call) {
        for (int i = 0; i < kBlock; ++i) {
            const double taken = static_cast<double>(timeOne(call));
            single[kind].push_back(std::max(0.0, taken - clockTicks) / perNs);
        }
        const double taken = static_cast<double>(timeOne([&] {
            for (int i = 0; i < kBlock; ++i) {
                call();
            }
        }));
        block[kind].push_back(std::max(0.0, taken - clockTicks) / perNs / kBlock);
    };
    for (auto _ : state) {
        pppbench::runPython(bench.session, "bench_slow = True");
        g_slowCallStarted.store(false);
        bridge->consumeICDEvent(1, 0);
        while (!g_slowCallStarted.load()) {
            std::this_thread::yield();
        }
        const long long slowStart = pppbench::wallNs();
        for (int b = 0; b < kBlocks; ++b) {
            measure(kOurs, [&] { bridge->consumeICDEvent(2, 0); });
            measure(kLimit, [&] {
                std::lock_guard<std::mutex> lock(bareMutex);
                bareQueue.push_back(2);
            });
            measure(kLimitHost, [&] {
                if (hostObject.ICDUiAbstractObject::consumeICDEvent(2, 0)) {
                    {
                        std::lock_guard<std::mutex> lock(bareMutex);
                        bareQueue.push_back(2);
                    }
                    bareReady.notify_all();
                }
            });
        }
        // A host thread descheduled for longer than the slow call measured partly outside it.
        if (pppbench::wallNs() - slowStart > 2000000) {
            ++outsideSlowCall;
        }
        pppbench::runPython(bench.session, "bench_slow = False");
        bridge->waitUntilIdle(kIdleTimeout);
        bareQueue.clear();
    }
    const char* names[kKinds] = {"ours", "limit", "limit_host"};
    for (int kind = 0; kind < kKinds; ++kind) {
        std::vector<double>& values = single[kind];
        const double longest = *std::max_element(values.begin(), values.end());
        const std::string name = names[kind];
        state.counters[name + "_ns"] = pppbench::percentile(block[kind], 0.5);
        state.counters[name + "_p99_ns"] = pppbench::percentile(values, 0.99);
        state.counters[name + "_max_ns"] = longest;
        state.counters[name + "_over_100us"] = static_cast<double>(
            std::count_if(values.begin(), values.end(), [](double v) { return v > 100000; }));
    }
    state.counters["ratio"] = state.counters["ours_ns"] / state.counters["limit_ns"];
    state.counters["p99_ratio"] = state.counters["ours_p99_ns"] / state.counters["limit_p99_ns"];
    state.counters["samples"] = static_cast<double>(single[kOurs].size());
    state.counters["clock_ns"] = clockTicks / perNs;
    state.counters["rounds_late"] = outsideSlowCall;
}
BENCHMARK(BM_ConsumeWhileScriptRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
