// Three plug-ins on two ICDs under load from every side at once: host threads raising events,
// host threads encoding and decoding through the scripts' encoders, the host's thread running
// actions whose callables check menu items, add actions and send events while the event callables
// on the bridge threads check and add too, and a Python bus driver encoding from inside its
// script, on a thread holding the interpreter and on a Python thread of the script. Nothing
// deadlocks, every event arrives exactly once and in order, every conversion is right, no
// reference is gained or lost and memory stays flat.
#include <gtest/gtest.h>

#include <Python.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/Barrier.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

constexpr int kRaisingThreads = 4;
constexpr int kEncodingThreads = 2;
constexpr unsigned int kFilteredEvents[] = {3000, 4000, 4001, 4002};
// Work of the main round; the warm-up round does a tenth.
constexpr int kEventsPerThread = 400000 / harness::kSlowdown;  // per raising thread and handler
constexpr int kEncodeRounds = 100000 / harness::kSlowdown;     // per encoding thread and handler
constexpr int kDriverValues = 200000 / harness::kSlowdown;     // per driving thread
constexpr int kActionCalls = 30000 / harness::kSlowdown;       // per plug-in
// What the main round may add to resident memory: the event callables keep nothing per event;
// what stays is the actions the scripts add (about 1700, under 1 MiB on every CPython) and the
// allocators' slack. A leak of a byte or two per event (3.2 million of them) goes over it.
constexpr std::size_t kResidentGrowthBound = 4u << 20;

// stress_plugin.encode(field, value) of plug-in 0's Python bus driver: sets an unsigned DRIVER
// field of the driven handler and encodes it through the host library on the calling thread,
// which holds the interpreter; returns the raw word, or -1 when encoding failed.
ICDHandler* g_drivenHandler = nullptr;

PyObject* driverEncode(PyObject*, PyObject* args) {
    const char* name = nullptr;
    unsigned int value = 0;
    if (!PyArg_ParseTuple(args, "sI:encode", &name, &value)) {
        return nullptr;
    }
    ICDGenericMessageField* field = g_drivenHandler->findMessage("DRIVER")->findMessageField(name);
    if (field == nullptr || !field->setValue(Value(value)) || !field->encode()) {
        return PyLong_FromLong(-1);
    }
    return PyLong_FromUnsignedLongLong(field->getRaw());
}

PyMethodDef driverEncodeDef = {"encode", driverEncode, METH_VARARGS, nullptr};

// Resident memory once the C library has given its free pages back: a queue that a round filled
// faster than the bridges emptied it leaves free heap behind, which is not growth.
std::size_t residentBytes() {
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    std::size_t total = 0;
    std::size_t resident = 0;
    statm >> total >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Whether the HOST fields ending in `suffix` encode and decode `value` right through the
// encoders of the handler's owner, which scale by `factor`.
bool hostFieldsConvert(ICDHandler* handler, const std::string& suffix, unsigned long long factor,
                       int value) {
    ICDGenericMessageField* count =
        handler->findMessage("HOST")->findMessageField("count" + suffix);
    ICDGenericMessageField* label =
        handler->findMessage("HOST")->findMessageField("label" + suffix);
    const std::string text = std::to_string(value);
    return count->setValue(Value(value)) && count->encode() &&
           count->getRaw() == value * factor + 1 &&
           count->decode((value + 7) * factor + 1, false) &&
           count->getValue() == Value(value + 7) && label->setValue(Value(text)) &&
           label->encode() && label->getRawText() == text + "|" + std::to_string(factor) &&
           label->decodeText("w" + text + "|9") && label->getValue() == Value("W" + text);
}

class PluginsUnderLoad : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"stress_a.xml", "stress_b.xml"}) {
            handlers.push_back(harness::loadHandler(harness::dataPath("stress", name)));
        }
        // Plug-in 0 drives STRESS_A from Python: its encoders there are installed as a Python bus
        // driver's, and called without entering the session from code running in it.
        g_drivenHandler = handlers[0];
        ProxyPythonPlugin::glob_python_driver_set.insert(handlers[0]);
        scripts.copy("stress", "stress_plugin.py");
        const std::string attach[] = {
            "attach(2)\nstress_plugin.install('DRIVER', ['level0', 'level1'])", "attach(3)",
            "attach_guest()"};
        const std::vector<ICDHandler*> handlersOf[] = {
            {handlers[0]}, {handlers[1]}, {handlers[0], handlers[1]}};
        CaptureOutput setUpOutput;
        for (int index = 0; index < 3; ++index) {
            plugins.push_back(static_cast<ProxyPythonPlugin*>(ProxyPythonPluginNS::onCreate()));
            const std::string script = "plugin" + std::to_string(index) + ".py";
            harness::setUp(
                plugins.back(),
                scripts.write(script, "import stress_plugin\nstress_plugin." + attach[index] +
                                          "\nclass ProxyPluginObject:\n    pass\n"),
                handlersOf[index]);
        }
        PySession::Use use(plugins[0]->getSession());
        PyObject* module =
            PyDict_GetItemString(PyImport_GetModuleDict(), "stress_plugin");  // borrowed
        PyRef encode = PyRef::steal(PyCFunction_New(&driverEncodeDef, nullptr));
        ASSERT_EQ(PyObject_SetAttrString(module, "encode", encode.get()), 0);  // does not steal
        setUpErrors = setUpOutput.err();
    }

    void TearDown() override {
        CaptureOutput quiet;
        ProxyPythonPluginNS::onDestroy();
        ProxyPythonPlugin::glob_python_driver_set.erase(handlers[0]);
    }

    // One round of the whole load, all threads started together; sequence numbers and values
    // continue from `first`. Failures are recorded per thread and checked by the caller.
    void runRound(int first, int events, int encodes, int driven, int actions) {
        Barrier barrier(kRaisingThreads + kEncodingThreads + 2);  // + the driver's and the host's
        std::vector<std::thread> threads;
        for (unsigned int t = 0; t < kRaisingThreads + kEncodingThreads; ++t) {
            threads.emplace_back([&, t] {
                barrier.arriveAndWait();
                for (int i = first; t < kRaisingThreads && i < first + events; ++i) {
                    for (ICDHandler* handler : handlers) {
                        handler->deliverICDEvent((t + 1) * 1000000 + i, i);
                        if (i % 37 == static_cast<int>(t)) {
                            handler->deliverICDEvent(kFilteredEvents[i % 4], 0);
                        }
                    }
                }
                const std::string suffix = std::to_string(t - kRaisingThreads);
                for (int i = first; t >= kRaisingThreads && i < first + encodes; ++i) {
                    for (unsigned int h = 0; h < 2; ++h) {
                        if (!hostFieldsConvert(handlers[h], suffix, 2 + h, i)) {
                            ++encodingFailures;
                        }
                    }
                }
            });
        }
        threads.emplace_back([&] {
            barrier.arriveAndWait();
            driverRan = harness::run(plugins[0]->getSession(), "stress_plugin.run_driver(" +
                                                                   std::to_string(first) + ", " +
                                                                   std::to_string(driven) + ")");
        });
        // The host's own thread: actions of every plug-in, now and then a start and a stop.
        barrier.arriveAndWait();
        for (int i = 0; i < actions; ++i) {
            for (ProxyPythonPlugin* plugin : plugins) {
                plugin->onPluginAction(100 + i % 50);
                if (i % 25 == 0) {
                    plugin->start();
                    plugin->stop();
                }
            }
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        idle = ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s) && idle;
    }

    std::string script(int plugin, const std::string& expression) {
        return harness::evalText(plugins[plugin]->getSession(),
                                 "eval(\"" + expression + "\", vars(stress_plugin))");
    }

    harness::ScratchDir scripts;
    std::vector<ICDHandler*> handlers;
    std::vector<ProxyPythonPlugin*> plugins;
    std::string setUpErrors;
    std::atomic<int> encodingFailures{0};
    bool driverRan = false;
    bool idle = true;
};

TEST_F(PluginsUnderLoad, EveryEventArrivesOnceInOrderEveryConversionIsRightAndNothingLeaks) {
    ASSERT_EQ(setUpErrors, "");
    Watchdog watchdog("three plug-ins on two ICDs under load", 100s);
    CaptureOutput output;
    const int warm = 10;
    runRound(0, kEventsPerThread / warm, kEncodeRounds / warm, kDriverValues / warm,
             kActionCalls / warm);
    // Reference counts of every callable and encoder a script handed to its plug-in.
    const std::string counts = "[sys.getrefcount(handed) for handed in tracked]";
    const std::string countsBefore[] = {script(0, counts), script(1, counts), script(2, counts)};
    const std::size_t residentBefore = residentBytes();
    runRound(kEventsPerThread / warm, kEventsPerThread, kEncodeRounds, kDriverValues, kActionCalls);
    const std::size_t residentAfter = residentBytes();
    output.stop();

    ASSERT_TRUE(idle) << "the bridges did not deliver every event within 60 s";
    EXPECT_EQ(output.err(), "");
    EXPECT_EQ(encodingFailures, 0);
    EXPECT_TRUE(driverRan);
    EXPECT_EQ(script(0, "sorted(driver_wrong.items())"), "[('level0', 0), ('level1', 0)]");
    // Every host thread's events and every event plug-in 2 sent, once and in order, on the bridge
    // each handler key reaches (the owner's).
    const std::string raised = std::to_string(kEventsPerThread + kEventsPerThread / warm);
    const std::string actionsRun = std::to_string(kActionCalls + kActionCalls / warm);
    EXPECT_EQ(script(2, "sent"),
              "{'STRESS_A': " + actionsRun + ", 'STRESS_B': " + actionsRun + "}");
    const std::string delivered =
        "[" + raised + ", " + raised + ", " + raised + ", " + raised + ", " + actionsRun + "]";
    EXPECT_EQ(script(0, "expected['STRESS_A']"), delivered);
    EXPECT_EQ(script(1, "expected['STRESS_B']"), delivered);
    for (int plugin = 0; plugin < 3; ++plugin) {
        EXPECT_EQ(script(plugin, "faults, actions_run[0]"), "([], " + actionsRun + ")") << plugin;
        EXPECT_FALSE(harness::errorPending(plugins[plugin]->getSession()));
        EXPECT_EQ(script(plugin, counts), countsBefore[plugin]) << plugin;
        EXPECT_NE(countsBefore[plugin], "[]");
    }
    for (ICDHandler* handler : handlers) {
        EXPECT_EQ(
            ProxyPluginPyInterface::getHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler))
                ->getLastError(),
            "");
    }
    if (harness::kSlowdown == 1) {
        EXPECT_LE(residentAfter, residentBefore + kResidentGrowthBound)
            << "resident memory grew from " << residentBefore << " to " << residentAfter;
    }
}

}  // namespace
