// Three plug-ins on two ICDs under load from every side at once: host threads raising events,
// host threads encoding and decoding through the scripts' encoders, the host's thread running
// actions whose callables check menu items, add actions and send events while the event callables
// on the bridge threads check and add too, and a Python bus driver encoding from inside its
// script, on a thread holding the interpreter and on a Python thread of the script. Nothing
// deadlocks, every event arrives exactly once and in order, every conversion is right, no
// reference is gained or lost and memory stays flat.
#include <gtest/gtest.h>

#include <Python.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "CaptureOutput.h"
#include "ICDHandler.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "tests/hostile/PluginHarness.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

constexpr int kRaisingThreads = 4;
constexpr int kEncodingThreads = 2;
constexpr unsigned int kSourceBase = 1000000;
constexpr unsigned int kFilteredEvents[] = {3000, 4000, 4001, 4002};

// Work of the main round; the warm-up round does a tenth. Sanitized builds do less, in the same
// shape.
constexpr int kEventsPerThread = 400000 / harness::kSlowdown;  // per raising thread and handler
constexpr int kEncodeRounds = 100000 / harness::kSlowdown;     // per encoding thread and handler
constexpr int kDriverValues = 200000 / harness::kSlowdown;     // per driving thread
constexpr int kActionCalls = 30000 / harness::kSlowdown;       // per plug-in
// What the main round may add to the resident memory. The event callables keep nothing per
// event; what stays is the actions the scripts add (a few hundred) and the allocators' slack.
constexpr std::size_t kResidentGrowthBound = 12u << 20;

// Test extension module of the Python bus driver of plug-in 0. encode(field, value) sets an
// unsigned DRIVER field of the driven handler and encodes it through the host library on the
// calling thread, which holds the interpreter; it returns the raw word, or -1 when the encoding
// failed.
ICDHandler* g_drivenHandler = nullptr;

PyObject* driverEncode(PyObject*, PyObject* args) {
    const char* name = nullptr;
    unsigned int value = 0;
    if (!PyArg_ParseTuple(args, "sI:encode", &name, &value)) {
        return nullptr;
    }
    ICDMessage* message = g_drivenHandler->findMessage("DRIVER");
    ICDGenericMessageField* field = message != nullptr ? message->findMessageField(name) : nullptr;
    if (field == nullptr) {
        PyErr_SetString(PyExc_KeyError, name);
        return nullptr;
    }
    if (!field->setValue(Value(value)) || !field->encode()) {
        return PyLong_FromLong(-1);
    }
    return PyLong_FromUnsignedLongLong(field->getRaw());
}

PyMethodDef driverMethods[] = {
    {"encode", driverEncode, METH_VARARGS, "Set a DRIVER field and encode it through the host."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef driverModule = {
    PyModuleDef_HEAD_INIT,
    "stressdriver",
    "The stress test's Python bus driver.",
    -1,
    driverMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Makes `import stressdriver` work in the session's interpreter.
bool registerDriverModule(PySession* session) {
    PySession::Use use(session);
    PyRef module = PyRef::steal(PyModule_Create2(&driverModule, PYTHON_API_VERSION));
    // The module table is borrowed; SetItemString does not steal the module.
    if (!module ||
        PyDict_SetItemString(PyImport_GetModuleDict(), "stressdriver", module.get()) != 0) {
        pycompat::printPendingError();
        return false;
    }
    return true;
}

// Sets, encodes and decodes the three HOST fields ending in `suffix` through the encoders of
// the handler's owner (which scale by `factor`); an empty text when every result was right.
std::string checkHostFields(ICDHandler* handler, const std::string& suffix, long long factor,
                            int value) {
    ICDMessage* host = handler->findMessage("HOST");
    ICDGenericMessageField* count = host->findMessageField("count" + suffix);
    ICDGenericMessageField* label = host->findMessageField("label" + suffix);
    ICDGenericMessageField* ratio = host->findMessageField("ratio" + suffix);
    const std::string where = handler->getName() + " " + suffix + " " + std::to_string(value);

    if (!count->setValue(Value(value)) || !count->encode() ||
        count->getRaw() != static_cast<unsigned long long>(value * factor + 1)) {
        return where + ": count encoded to " + std::to_string(count->getRaw());
    }
    if (!count->decode(static_cast<unsigned long long>((value + 7) * factor + 1), false) ||
        count->getValue() != Value(value + 7)) {
        return where + ": count decoded to " + count->valueText();
    }
    const std::string text = "v" + std::to_string(value);
    if (!label->setValue(Value(text)) || !label->encode() ||
        label->getRawText() != text + "|" + std::to_string(factor)) {
        return where + ": label encoded to " + label->getRawText();
    }
    if (!label->decodeText("w" + std::to_string(value) + "|9") ||
        label->getValue() != Value("W" + std::to_string(value))) {
        return where + ": label decoded to " + label->valueText();
    }
    if (!ratio->setValue(Value(value / 4.0)) || !ratio->encode() ||
        ratio->getRaw() != static_cast<unsigned long long>(value * factor)) {
        return where + ": ratio encoded to " + std::to_string(ratio->getRaw());
    }
    if (!ratio->decode(static_cast<unsigned long long>((value + 3) * factor), false) ||
        ratio->getValue() != Value((value + 3) / 4.0)) {
        return where + ": ratio decoded to " + ratio->valueText();
    }
    return std::string();
}

// Reference counts of every callable and encoder object a script handed to its plug-in.
std::vector<Py_ssize_t> trackedReferenceCounts(PySession* session) {
    std::vector<Py_ssize_t> counts;
    PySession::Use use(session);
    PyObject* module = PyDict_GetItemString(PyImport_GetModuleDict(), "stress_plugin");  // borrowed
    PyObject* tracked = module != nullptr ? PyObject_GetAttrString(module, "tracked") : nullptr;
    PyRef list = PyRef::steal(tracked);
    if (!list || !PyList_Check(list.get())) {
        PyErr_Clear();
        return counts;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.get()); ++i) {
        counts.push_back(Py_REFCNT(PyList_GET_ITEM(list.get(), i)));  // borrowed item
    }
    return counts;
}

class PluginsUnderLoad : public ::testing::Test {
protected:
    void SetUp() override {
        handlerA = harness::loadHandler(harness::dataPath("stress", "stress_a.xml"));
        handlerB = harness::loadHandler(harness::dataPath("stress", "stress_b.xml"));
        ASSERT_NE(handlerA, nullptr);
        ASSERT_NE(handlerB, nullptr);
        for (const char* name : {"stress_plugin.py", "plugin0.py", "plugin1.py", "plugin2.py"}) {
            scripts.copy("stress", name);
        }
        // Plug-in 0 drives STRESS_A from Python: its encoders there are installed as a Python bus
        // driver's, and called without entering the session from code running in it.
        g_drivenHandler = handlerA;
        ProxyPythonPlugin::glob_python_driver_set.insert(handlerA);

        CaptureOutput setUpOutput;
        const std::vector<std::vector<ICDHandler*>> handlers = {
            {handlerA}, {handlerB}, {handlerA, handlerB}};
        for (int index = 0; index < 3; ++index) {
            auto* plugin = static_cast<ProxyPythonPlugin*>(ProxyPythonPluginNS::onCreate());
            plugins.push_back(plugin);
            harness::setUp(plugin, scripts.path() + "plugin" + std::to_string(index) + ".py",
                           handlers[index]);
            ASSERT_NE(plugin->getSession(), nullptr);
        }
        // Imported by the driver when it runs.
        ASSERT_TRUE(registerDriverModule(plugins[0]->getSession()));
        setUpErrors = setUpOutput.err();
    }

    void TearDown() override {
        CaptureOutput quiet;
        ProxyPythonPluginNS::onDestroy();
        ProxyPythonPlugin::glob_python_driver_set.erase(handlerA);
    }

    // One round of the whole load, all threads started together; sequence numbers and values
    // continue from `first`. Failures are recorded per thread and checked by the caller.
    void runRound(int first, int events, int encodes, int driven, int actions) {
        constexpr int kThreads = kRaisingThreads + kEncodingThreads + 2;  // + driver + host's
        Barrier barrier(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kRaisingThreads; ++t) {
            threads.emplace_back([&, t] {
                barrier.arriveAndWait();
                for (int i = first; i < first + events; ++i) {
                    const unsigned int event = (t + 1) * kSourceBase + static_cast<unsigned>(i);
                    for (ICDHandler* handler : {handlerA, handlerB}) {
                        handler->deliverICDEvent(event, static_cast<unsigned long>(i));
                        if (i % 37 == t) {
                            handler->deliverICDEvent(kFilteredEvents[i % 4], 0);
                        }
                    }
                }
            });
        }
        for (int t = 0; t < kEncodingThreads; ++t) {
            threads.emplace_back([&, t] {
                const std::string suffix = std::to_string(t);
                barrier.arriveAndWait();
                for (int i = first; i < first + encodes; ++i) {
                    for (const std::string& failure : {checkHostFields(handlerA, suffix, 2, i),
                                                       checkHostFields(handlerB, suffix, 3, i)}) {
                        if (!failure.empty() && encodingFailures[t].size() < 20) {
                            encodingFailures[t].push_back(failure);
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
                plugin->onPluginAction(100 + static_cast<unsigned>(i % 50));
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
        return harness::evalText(plugins[plugin]->getSession(), "stress_plugin." + expression);
    }

    ICDHandler* handlerA = nullptr;
    ICDHandler* handlerB = nullptr;
    harness::ScratchDir scripts;
    std::vector<ProxyPythonPlugin*> plugins;
    std::string setUpErrors;
    std::vector<std::string> encodingFailures[kEncodingThreads];
    bool driverRan = false;
    bool idle = true;
};

TEST_F(PluginsUnderLoad, EveryEventArrivesOnceInOrderEveryConversionIsRightAndNothingLeaks) {
    ASSERT_EQ(setUpErrors, "");
    for (int plugin = 0; plugin < 3; ++plugin) {
        ASSERT_EQ(script(plugin, "faults"), "[]") << "plug-in " << plugin;
    }
    Watchdog watchdog("three plug-ins on two ICDs under load", 100s);
    CaptureOutput output;

    const int warmEvents = kEventsPerThread / 10;
    const int warmEncodes = kEncodeRounds / 10;
    const int warmDriven = kDriverValues / 10;
    runRound(0, warmEvents, warmEncodes, warmDriven, kActionCalls / 10);
    std::vector<std::vector<Py_ssize_t>> countsBefore;
    for (ProxyPythonPlugin* plugin : plugins) {
        countsBefore.push_back(trackedReferenceCounts(plugin->getSession()));
    }
    const std::size_t residentBefore = harness::residentBytes();

    runRound(warmEvents, kEventsPerThread, kEncodeRounds, kDriverValues, kActionCalls);

    const std::size_t residentAfter = harness::residentBytes();
    std::vector<std::vector<Py_ssize_t>> countsAfter;
    for (ProxyPythonPlugin* plugin : plugins) {
        countsAfter.push_back(trackedReferenceCounts(plugin->getSession()));
    }
    output.stop();

    ASSERT_TRUE(idle) << "the bridges did not deliver every event within 60 s";
    EXPECT_EQ(output.err(), "");
    for (int t = 0; t < kEncodingThreads; ++t) {
        EXPECT_TRUE(encodingFailures[t].empty()) << harness::joined(encodingFailures[t]);
    }
    EXPECT_TRUE(driverRan);
    EXPECT_EQ(
        harness::evalText(plugins[0]->getSession(), "sorted(stress_plugin.driver_wrong.items())"),
        "[('level0', 0), ('level1', 0)]");

    // Every host thread's events and every event plug-in 2 sent, once and in order, on the bridge
    // each handler key reaches (the owner's).
    const int raised = warmEvents + kEventsPerThread;
    const std::string hostThreads = std::to_string(raised) + ", " + std::to_string(raised) + ", " +
                                    std::to_string(raised) + ", " + std::to_string(raised);
    const std::string actionsRun = std::to_string(kActionCalls + kActionCalls / 10);
    EXPECT_EQ(script(2, "sent"),
              "{'STRESS_A': " + actionsRun + ", 'STRESS_B': " + actionsRun + "}");
    EXPECT_EQ(script(0, "expected['STRESS_A']"), "[" + hostThreads + ", " + actionsRun + "]");
    EXPECT_EQ(script(1, "expected['STRESS_B']"), "[" + hostThreads + ", " + actionsRun + "]");
    for (int plugin = 0; plugin < 3; ++plugin) {
        EXPECT_EQ(script(plugin, "faults"), "[]") << "plug-in " << plugin;
        EXPECT_EQ(script(plugin, "actions_run[0]"), actionsRun) << "plug-in " << plugin;
        EXPECT_FALSE(harness::errorPending(plugins[plugin]->getSession()));
        EXPECT_EQ(countsAfter[plugin], countsBefore[plugin]) << "plug-in " << plugin;
        EXPECT_FALSE(countsBefore[plugin].empty());
    }
    for (ICDHandler* handler : {handlerA, handlerB}) {
        ProxyPluginPyHandlerInterface* bridge =
            ProxyPluginPyInterface::findHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler));
        ASSERT_NE(bridge, nullptr);
        EXPECT_EQ(bridge->getLastError(), "");
    }
    if (!harness::kSanitized) {
        const std::size_t growth =
            residentAfter > residentBefore ? residentAfter - residentBefore : 0;
        EXPECT_LE(growth, kResidentGrowthBound)
            << "resident memory grew from " << residentBefore << " to " << residentAfter;
        std::printf("resident memory: %zu KiB before the main round, %zu KiB after\n",
                    residentBefore >> 10, residentAfter >> 10);
    }
}

}  // namespace
