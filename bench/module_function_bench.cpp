// Module functions as a script calls them: getChecked, setChecked and sendICDEvent of module
// proxyplugin, called from a Python loop in the plug-in's own sub-interpreter, with 1 and with
// 1000 plug-ins registered in the process. The limit is the same loop calling a function of a
// bare extension module in the same sub-interpreter that parses the same arguments and does the
// same work without the lookups: finds the checkable action by id in a map and reads or sets it
// (under a mutex), or hands the event to the same handler.
//
// sendICDEvent sends 3000, a bus-control event: the host delivers it to the handler's UI objects
// like any other, and the bridge does not queue it, so no Python runs on the bridge's thread
// while the loop runs.
//
// The 1000 plug-ins: the measured plug-in is real and made last, so that it is found last; the
// 998 made between the first and the last are registry objects and handler keys only (a
// sub-interpreter each would cost seconds and gigabytes, and the lookups see only the registry).
#include <Python.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

#include "BenchSupport.h"
#include "ICDHandler.h"
#include "ICDPluginAction.h"
#include "ICDPluginObject.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "plugin/ProxyPythonPlugin.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace {

constexpr unsigned int kCheckableId = 3;
constexpr unsigned int kBusControlEvent = 3000;

const char* const kScript =
    "import proxyplugin as pp\n"
    "bench_id = pp.__proxy_plugin_identifier__\n"
    "bench_key = pp.__proxy_plugin_icd_identifier__\n"
    "pp.addSimpleAction(bench_id, 3, 'Check', pp.ACTION_TYPE_CHECKABLE)\n"
    "def bench_loop2(f, a, b, n):\n"
    "    for _ in range(n):\n"
    "        f(a, b)\n"
    "def bench_loop3(f, a, b, c, n):\n"
    "    for _ in range(n):\n"
    "        f(a, b, c)\n";

// What the bare module's functions work on: one plug-in's checkable actions and its handler.
struct BareTarget {
    std::map<unsigned int, ICDPluginAction*> actions;
    std::mutex mutex;
    ICDHandler* handler = nullptr;
};

BareTarget* targetOf(PyObject* module) {
    return *static_cast<BareTarget**>(PyModule_GetState(module));
}

PyObject* bareGetChecked(PyObject* module, PyObject* args) {
    const char* identifier = nullptr;
    int id = 0;
    if (!PyArg_ParseTuple(args, "si:getChecked", &identifier, &id)) {
        return nullptr;
    }
    BareTarget* target = targetOf(module);
    auto found = target->actions.find(static_cast<unsigned int>(id));
    if (found == target->actions.end() || found->second->getActionType() != ACTION_TYPE_CHECKABLE) {
        Py_RETURN_NONE;
    }
    return PyBool_FromLong(found->second->getChecked());
}

PyObject* bareSetChecked(PyObject* module, PyObject* args) {
    const char* identifier = nullptr;
    int id = 0;
    int value = 0;
    if (!PyArg_ParseTuple(args, "sii:setChecked", &identifier, &id, &value)) {
        return nullptr;
    }
    BareTarget* target = targetOf(module);
    auto found = target->actions.find(static_cast<unsigned int>(id));
    if (found == target->actions.end() || found->second->getActionType() != ACTION_TYPE_CHECKABLE) {
        Py_RETURN_FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(target->mutex);
        found->second->setChecked(value != 0);
    }
    Py_RETURN_TRUE;
}

PyObject* bareSendICDEvent(PyObject* module, PyObject* args) {
    const char* identifier = nullptr;
    const char* key = nullptr;
    unsigned int event = 0;
    if (!PyArg_ParseTuple(args, "ssI:sendICDEvent", &identifier, &key, &event)) {
        return nullptr;
    }
    targetOf(module)->handler->sendICDEvent(event);
    Py_RETURN_NONE;
}

PyMethodDef bareMethods[] = {
    {"getChecked", bareGetChecked, METH_VARARGS, nullptr},
    {"setChecked", bareSetChecked, METH_VARARGS, nullptr},
    {"sendICDEvent", bareSendICDEvent, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef bareModule = {
    PyModuleDef_HEAD_INIT,
    "bench_bare",
    nullptr,
    sizeof(BareTarget*),
    bareMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Sends the standard output to /dev/null while it lives: set-up prints a line or two per
// plug-in. Precondition: nothing else redirects the standard output meanwhile.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        _saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(_saved, 1);
        close(_saved);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int _saved;
};

// A plug-in made as a host makes one, running kScript, with a bare module beside it.
struct BenchPlugin {
    ProxyPythonPlugin* plugin = nullptr;
    ICDHandler* handler = nullptr;
    BareTarget target;
    PyObject* loop2 = nullptr;  // borrowed from the script's namespace, which keeps them
    PyObject* loop3 = nullptr;
    PyObject* ours = nullptr;        // module proxyplugin (borrowed, kept by the interpreter)
    PyObject* bare = nullptr;        // owned, never released
    PyObject* identifier = nullptr;  // borrowed
    PyObject* key = nullptr;         // borrowed

    // Precondition: the calling thread holds no interpreter.
    explicit BenchPlugin(const std::string& scriptPath) {
        handler = new ICDHandler("bench", "bench.xml", 1000);
        {
            QuietStdout quiet;
            plugin = static_cast<ProxyPythonPlugin*>(ProxyPythonPluginNS::onCreate());
            plugin->setFileName(scriptPath);
            plugin->setICDHandler(handler);
            plugin->onSetICDHandler(handler);
        }
        for (unsigned int i = 0; i < plugin->getPluginActionSize(); ++i) {
            ICDPluginAction* action = plugin->getPluginAction(i);
            target.actions.emplace(action->getId(), action);
        }
        target.handler = handler;
        PySession* session = plugin->getSession();
        PySession::Use use(session);
        loop2 = pppbench::globalOf(session, "bench_loop2");
        loop3 = pppbench::globalOf(session, "bench_loop3");
        identifier = pppbench::globalOf(session, "bench_id");
        key = pppbench::globalOf(session, "bench_key");
        ours = plugin->getModule();
        bare = PyModule_Create(&bareModule);
        if (bare == nullptr || target.actions.count(kCheckableId) == 0) {
            pycompat::printPendingError();
            std::fprintf(stderr, "benchmark plug-in set-up failed\n");
            std::exit(2);
        }
        *static_cast<BareTarget**>(PyModule_GetState(bare)) = &target;
    }
};

// The script beside an empty help file, so that set-up does not generate a pydoc page.
std::string scriptPath() {
    static const std::string path = [] {
        const std::string dir = pppbench::scratchDir() + "module/";
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "ProxyPythonPlugin.chm") << "";
        std::ofstream(dir + "bench_plugin.py") << kScript;
        return dir + "bench_plugin.py";
    }();
    return path;
}

enum Function { kGetChecked = 0, kSetChecked = 1, kSendICDEvent = 2 };
const char* const kFunctionNames[] = {"getChecked", "setChecked", "sendICDEvent"};

// The argument tuple of one loop run of `count` calls of `module`'s `function`.
// Precondition: the plug-in's session is held.
PyRef loopArguments(BenchPlugin& bench, PyObject* module, Function function, int count) {
    PyRef callable = PyRef::steal(PyObject_GetAttrString(module, kFunctionNames[function]));
    switch (function) {
        case kGetChecked:
            return PyRef::steal(
                Py_BuildValue("(OOIi)", callable.get(), bench.identifier, kCheckableId, count));
        case kSetChecked:
            return PyRef::steal(
                Py_BuildValue("(OOIii)", callable.get(), bench.identifier, kCheckableId, 1, count));
        case kSendICDEvent:
            return PyRef::steal(Py_BuildValue("(OOOIi)", callable.get(), bench.identifier,
                                              bench.key, kBusControlEvent, count));
    }
    return PyRef();
}

BenchPlugin* g_first = nullptr;
BenchPlugin* g_last = nullptr;

// The plug-in to measure with `plugins` plug-ins in the process, made on first use.
BenchPlugin* pluginFor(benchmark::State& state, int plugins) {
    auto& registry = ProxyPluginPyInterface::_proxy_instance_vect;
    if (plugins == 1) {
        if (g_first == nullptr) {
            if (!registry.empty()) {
                state.SkipWithError("other plug-ins exist: run the single-plug-in case first");
                return nullptr;
            }
            g_first = new BenchPlugin(scriptPath());
        }
        return g_first;
    }
    if (g_last == nullptr) {
        if (g_first == nullptr) {
            g_first = new BenchPlugin(scriptPath());
        }
        for (int i = static_cast<int>(registry.size()); i < plugins - 1; ++i) {
            ProxyPluginPyInterface* filler =
                ProxyPluginPyInterface::new_ProxyPluginPyInterface(nullptr);
            char key[32];
            std::snprintf(key, sizeof key, "%016llx", 0x10000ULL + 64ULL * i);
            filler->addHandlerInterface(key, nullptr);
        }
        g_last = new BenchPlugin(scriptPath());
    }
    if (static_cast<int>(registry.size()) != plugins) {
        state.SkipWithError("the registry does not hold the expected number of plug-ins");
        return nullptr;
    }
    return g_last;
}

void BM_ModuleFunction(benchmark::State& state) {
    const int plugins = static_cast<int>(state.range(0));
    const auto function = static_cast<Function>(state.range(1));
    BenchPlugin* bench = pluginFor(state, plugins);
    if (bench == nullptr) {
        return;
    }
    constexpr int kCalls = 1000;
    PySession* session = bench->plugin->getSession();
    PyObject* loop =
        function == kSendICDEvent || function == kSetChecked ? bench->loop3 : bench->loop2;
    PyRef oursArguments;
    PyRef bareArguments;
    {
        PySession::Use use(session);
        oursArguments = loopArguments(*bench, bench->ours, function, kCalls);
        bareArguments = loopArguments(*bench, bench->bare, function, kCalls);
    }
    auto runLoop = [session, loop](PyObject* arguments) {
        PySession::Use use(session);
        PyRef result = PyRef::steal(PyObject_Call(loop, arguments, nullptr));
        if (!result) {
            pycompat::printPendingError();
        }
    };
    PyObject* ours = oursArguments.get();
    PyObject* bare = bareArguments.get();
    pppbench::alternate(state, kCalls,
                        {
                            {"ours", [&](int) { runLoop(ours); }},
                            {"limit", [&](int) { runLoop(bare); }},
                        });
    state.SetLabel(kFunctionNames[function]);
    PySession::Use use(session);
    oursArguments.reset();
    bareArguments.reset();
}
BENCHMARK(BM_ModuleFunction)
    ->ArgNames({"plugins", "function"})
    ->Args({1, kGetChecked})
    ->Args({1, kSetChecked})
    ->Args({1, kSendICDEvent})
    ->Args({1000, kGetChecked})
    ->Args({1000, kSetChecked})
    ->Args({1000, kSendICDEvent})
    ->Unit(benchmark::kMillisecond);

}  // namespace
