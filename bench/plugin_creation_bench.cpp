// Plug-in creation: onCreate and the first onSetICDHandler of a plug-in whose script is one line,
// for 1, 10 and 50 plug-ins in a process, beside the limit: Py_NewInterpreter and the creation of
// module proxyplugin alone, as set-up does them. Each count runs in fresh child processes of this
// program (the runtime already started when the clock starts), so that memory is measured
// without what other benchmarks left behind; ours and the limit alternate.
//
// The script's directory holds a ProxyPythonPlugin.chm, so that set-up does not write a pydoc
// page, which is file work outside plug-in creation.
#include <Python.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ICDHandler.h"
#include "ICDPluginObject.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "pymodule/ProxyPluginPyModule.h"

extern char** environ;

namespace {

constexpr int kModuleApiVersion = 1013;

// Resident set size of this process, in bytes.
long long residentBytes() {
    long long pages = 0;
    long long resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lld %lld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

std::string argumentValue(int argc, char** argv, const char* name) {
    const std::size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], name, length) == 0) {
            return argv[i] + length;
        }
    }
    return std::string();
}

// What one child measured.
struct Sample {
    double wallNs = 0;
    double cpuNs = 0;
    double residentBytes = 0;
};

// The limit: what set-up does in Python to make a plug-in's interpreter and module, nothing else;
// with `imports`, also the imports set-up must run in it (os and pydoc, which the help page
// needs and the script finds in its namespace). Precondition: the calling thread holds no
// interpreter.
void createInterpreterAndModule(bool imports) {
    PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
    PyEval_RestoreThread(main->getPyThreadState());
    if (Py_NewInterpreter() != nullptr) {
        PyRef module = PyRef::steal(PyModule_Create2(ProxyPluginPyModule_def(), kModuleApiVersion));
        if (!module ||
            PyDict_SetItemString(PyImport_GetModuleDict(), "proxyplugin", module.get())) {
            PyErr_Clear();
        }
        if (imports) {
            for (const char* name : {"sys", "os", "pydoc"}) {
                PyRef imported = PyRef::steal(PyImport_ImportModule(name));
                if (!imported) {
                    PyErr_Clear();
                }
            }
        }
    }
    main->setPyThreadState(PyEval_SaveThread());
}

int runCreation(const std::string& way, int count, const std::string& script,
                const std::string& resultPath) {
    PyMainInterp::PyMainInterpInstance();  // the runtime is not the plug-ins' cost
    std::vector<ICDHandler*> handlers;
    for (int i = 0; i < count; ++i) {
        handlers.push_back(new ICDHandler("bench" + std::to_string(i), "bench.xml", 1000));
    }
    const long long resident = residentBytes();
    const long long cpu = pppbench::processCpuNs();
    const long long wall = pppbench::wallNs();
    for (int i = 0; i < count; ++i) {
        if (way == "ours") {
            ICDPluginObject* plugin = ProxyPythonPluginNS::onCreate();
            plugin->setFileName(script);
            plugin->setICDHandler(handlers[i]);
            plugin->onSetICDHandler(handlers[i]);
        } else {
            createInterpreterAndModule(way == "limit_imports");
        }
    }
    Sample sample;
    sample.wallNs = static_cast<double>(pppbench::wallNs() - wall);
    sample.cpuNs = static_cast<double>(pppbench::processCpuNs() - cpu);
    sample.residentBytes = static_cast<double>(residentBytes() - resident);
    std::FILE* result = std::fopen(resultPath.c_str(), "w");
    if (result == nullptr) {
        return 3;
    }
    std::fprintf(result, "%.0f %.0f %.0f\n", sample.wallNs, sample.cpuNs, sample.residentBytes);
    std::fclose(result);
    return 0;
}

// The one-line script beside an empty help file.
std::string scriptPath() {
    static const std::string path = [] {
        const std::string dir = pppbench::scratchDir() + "create/";
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "ProxyPythonPlugin.chm") << "";
        std::ofstream(dir + "one_line.py")
            << "import proxyplugin as pp; pp.setName(pp.__proxy_plugin_identifier__, 'Bench')\n";
        return dir + "one_line.py";
    }();
    return path;
}

// Runs this program as a child that creates `count` plug-ins the given way; false on failure.
bool runChild(const std::string& way, int count, Sample* sample) {
    const std::string resultPath = scriptPath() + "." + way + ".result";
    std::remove(resultPath.c_str());
    std::vector<std::string> arguments = {
        "/proc/self/exe", "--ppp-create=" + way, "--ppp-count=" + std::to_string(count),
        "--ppp-script=" + scriptPath(), "--ppp-result=" + resultPath};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // The plug-ins' lines on the standard output are not the benchmark's.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return false;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    std::FILE* result = std::fopen(resultPath.c_str(), "r");
    if (result == nullptr) {
        return false;
    }
    const bool read = std::fscanf(result, "%lf %lf %lf", &sample->wallNs, &sample->cpuNs,
                                  &sample->residentBytes) == 3;
    std::fclose(result);
    std::remove(resultPath.c_str());
    return read;
}

void BM_PluginCreation(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int rounds = count == 1 ? 8 : count <= 10 ? 3 : 2;
    const std::vector<std::string> ways = {"ours", "limit", "limit_imports"};
    std::vector<std::vector<double>> wall(ways.size()), cpu(ways.size()), resident(ways.size());
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t k = 0; k < ways.size(); ++k) {
                const std::size_t i = round % 2 == 0 ? k : ways.size() - 1 - k;
                Sample sample;
                if (!runChild(ways[i], count, &sample)) {
                    state.SkipWithError("a child process failed");
                    return;
                }
                wall[i].push_back(sample.wallNs / count);
                cpu[i].push_back(sample.cpuNs / count);
                resident[i].push_back(sample.residentBytes / count);
            }
        }
    }
    constexpr double kMs = 1e6;
    constexpr double kMiB = 1024.0 * 1024.0;
    for (std::size_t i = 0; i < ways.size(); ++i) {
        state.counters[ways[i] + "_ms"] = pppbench::percentile(wall[i], 0.5) / kMs;
        state.counters[ways[i] + "_cpu_ms"] = pppbench::percentile(cpu[i], 0.5) / kMs;
        state.counters[ways[i] + "_rss_mib"] = pppbench::percentile(resident[i], 0.5) / kMiB;
    }
    state.counters["ratio"] = state.counters["ours_cpu_ms"] / state.counters["limit_cpu_ms"];
    state.counters["wall_ratio"] = state.counters["ours_ms"] / state.counters["limit_ms"];
    state.counters["imports_ratio"] =
        state.counters["ours_cpu_ms"] / state.counters["limit_imports_cpu_ms"];
}

BENCHMARK(BM_PluginCreation)
    ->ArgName("plugins")
    ->Arg(1)
    ->Arg(10)
    ->Arg(50)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

namespace pppbench {

int runChildWork(int argc, char** argv) {
    const std::string way = argumentValue(argc, argv, "--ppp-create=");
    if (way.empty()) {
        return -1;
    }
    const int count = std::atoi(argumentValue(argc, argv, "--ppp-count=").c_str());
    const int status = runCreation(way, count, argumentValue(argc, argv, "--ppp-script="),
                                   argumentValue(argc, argv, "--ppp-result="));
    // Plug-ins, interpreters and bridge threads live until the process ends: it ends here,
    // without running anyone's teardown.
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace pppbench
