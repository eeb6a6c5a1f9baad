// A small host application of the ProxyPythonPlugin library, as docs/hosting.md describes one.
// It links only the SDK and the host library, loads the plug-in library with dlopen and
// RTLD_LOCAL by its exported entry points, loads an ICD, runs two plug-ins of one script on it,
// raises events from two threads of its own, runs a dictionary action from a thread that holds no
// interpreter, encodes and decodes a field through the script's encoder, then destroys the
// plug-ins and deletes its ICD. Every statement of the guide it relies on is checked and printed
// as "ok: ..."; the exit status is 1 when one fails.
//
//     example_host ICD_FILE SCRIPT [PLUGIN_LIBRARY]
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <ProxyPythonPlugin/ICDHandler.h>
#include <ProxyPythonPlugin/ICDMessage.h>
#include <ProxyPythonPlugin/ICDMessageField.h>
#include <ProxyPythonPlugin/ICDPluginAction.h>
#include <ProxyPythonPlugin/ICDPluginObject.h>

namespace {

// The entry points, by the names the library exports (docs/hosting.md, "Entry points").
class PySession;
using ApiVersionFunction = std::string (*)();
using CreateFunction = ICDPluginObject* (*)();
using DestroyFunction = void (*)();
using WaitFunction = bool (*)(unsigned long);
using SessionFunction = PySession* (*)(const ICDPluginObject*);

struct Library {
    ApiVersionFunction apiVersion = nullptr;
    CreateFunction create = nullptr;
    DestroyFunction destroyAll = nullptr;
    WaitFunction waitForEvents = nullptr;
    SessionFunction sessionOf = nullptr;
};

constexpr unsigned int kStatusAction = 1;
constexpr unsigned int kEvent = 100;
constexpr int kEventsPerThread = 50;

int failures = 0;

void check(bool condition, const std::string& statement) {
    std::cout << (condition ? "ok: " : "FAILED: ") << statement << std::endl;
    failures += condition ? 0 : 1;
}

template <typename Function>
Function lookUp(void* handle, const char* name) {
    return reinterpret_cast<Function>(dlsym(handle, name));
}

std::string workingFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

unsigned long threadId() {
    // What Python's threading.get_ident() gives for the same thread on Linux.
    return static_cast<unsigned long>(pthread_self());
}

void onInterrupt(int) {}

// What a host does with a new plug-in object: name its script, give it the ICD, announce it.
ICDPluginObject* createPlugin(const Library& library, const std::string& script,
                              ICDHandler* handler) {
    ICDPluginObject* plugin = library.create();
    plugin->setFileName(script);
    plugin->setICDHandler(handler);
    plugin->onSetICDHandler(handler);
    return plugin;
}

ICDPluginAction* findAction(ICDPluginObject* plugin, unsigned int id) {
    for (unsigned int i = 0; i < plugin->getPluginActionSize(); ++i) {
        ICDPluginAction* action = plugin->getPluginAction(i);
        if (action->getId() == id && action->getActionKind() == ACTION_KIND_DICTIONARY) {
            return action;
        }
    }
    return nullptr;
}

// Runs the dictionary action on a thread of its own, which has never entered an interpreter.
ICDDictionary runOnNewThread(ICDPluginAction* action, const ICDDictionary& input, bool* ran,
                             unsigned long* callerId) {
    ICDDictionary output;
    std::thread caller([&] {
        *callerId = threadId();
        *ran = action->execute(input, &output);
    });
    caller.join();
    return output;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: example_host ICD_FILE SCRIPT [PLUGIN_LIBRARY]" << std::endl;
        return 2;
    }
    const std::string icdFile = argv[1];
    const std::string script = argv[2];
    const std::string libraryFile = argc > 3 ? argv[3] : PLUGIN_LIBRARY;

    // What the library must leave alone: the host's signal handlers, its working folder, and
    // PYTHON* variables of the environment, which the embedded interpreter ignores.
    struct sigaction interrupt = {};
    interrupt.sa_handler = onInterrupt;
    sigaction(SIGINT, &interrupt, nullptr);
    setenv("PYTHONPATH", "/nonexistent/example-host-marker", 1);
    const std::string folder = workingFolder();
    check(dlsym(RTLD_DEFAULT, "PyExc_MemoryError") == nullptr,
          "the host itself does not see libpython's symbols");

    void* handle = dlopen(libraryFile.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::cerr << "cannot load " << libraryFile << ": " << dlerror() << std::endl;
        return 1;
    }
    Library library;
    library.apiVersion = lookUp<ApiVersionFunction>(handle, "getPluginAPIVersion");
    library.create = lookUp<CreateFunction>(handle, "_ZN19ProxyPythonPluginNS8onCreateEv");
    library.destroyAll = lookUp<DestroyFunction>(handle, "_ZN19ProxyPythonPluginNS9onDestroyEv");
    library.waitForEvents = lookUp<WaitFunction>(handle, "ProxyPythonPluginWaitForEvents");
    library.sessionOf = lookUp<SessionFunction>(handle, "ProxyPythonPluginSessionOf");
    check(library.apiVersion && library.create && library.destroyAll && library.waitForEvents &&
              library.sessionOf,
          "every entry point is found by its exported name");
    if (!library.apiVersion || !library.create || !library.destroyAll || !library.waitForEvents ||
        !library.sessionOf) {
        return 1;
    }
    check(library.apiVersion() == "$Revision: 122971 $ P8.8", "the plug-in API version");

    std::string error;
    std::unique_ptr<ICDHandler> handler = ICDHandler::load(icdFile, &error);
    if (!handler) {
        std::cerr << error << std::endl;
        return 1;
    }

    // The first plug-in: the first interpreter of the process starts during its set-up.
    ICDPluginObject* first = createPlugin(library, script, handler.get());
    check(library.sessionOf(first) != nullptr, "a plug-in given a handler has a session");
    check(dlsym(RTLD_DEFAULT, "PyExc_MemoryError") != nullptr,
          "libpython's symbols are global once the first interpreter runs");
    check(workingFolder() == folder, "the working folder is back after set-up");
    const std::string scriptFolder = script.substr(0, script.rfind('/') + 1);
    check(std::ifstream(scriptFolder + "ProxyPluginObject.html").good(),
          "set-up wrote the help page into the script's folder");
    struct sigaction now = {};
    sigaction(SIGINT, nullptr, &now);
    check(now.sa_handler == onInterrupt, "the host's SIGINT handler is still installed");
    sigaction(SIGPIPE, nullptr, &now);
    check(now.sa_handler == SIG_DFL, "SIGPIPE keeps its default action");
    // C's stdout is unbuffered from the first interpreter on: a partial line written with stdio
    // comes out before a later write() to the same descriptor.
    std::fputs("stdout is unbuffered: ", stdout);
    (void)!write(STDOUT_FILENO, "yes\n", 4);

    handler->deliverICDEvent(kEvent, 0);
    check(library.waitForEvents(10000), "the first plug-in's event is delivered");

    // A second plug-in on the same ICD: its event callable takes over from the first one's.
    ICDPluginObject* second = createPlugin(library, script, handler.get());
    std::vector<std::thread> raisers;
    std::vector<unsigned long> raiserIds(2);
    for (int t = 0; t < 2; ++t) {
        raisers.emplace_back([&, t] {
            raiserIds[t] = threadId();
            for (int i = 0; i < kEventsPerThread; ++i) {
                handler->deliverICDEvent(kEvent, static_cast<unsigned long>(i));
            }
        });
    }
    for (std::thread& raiser : raisers) {
        raiser.join();
    }
    check(library.waitForEvents(10000), "the events of both host threads are delivered");

    // Encoding and decoding on a host thread call the script's encoder on that very thread.
    ICDGenericMessageField* rate = handler->findMessage("TELEMETRY")->findMessageField("rate");
    unsigned long long raw = 0;
    double decoded = 0;
    unsigned long encoderThread = 0;
    std::thread encoder([&] {
        encoderThread = threadId();
        std::string parseError;
        rate->setValueFromText("12.345", &parseError);
        if (rate->encode()) {
            raw = rate->getRaw();
        }
        if (rate->decode(1250, false)) {
            decoded = std::get<double>(rate->getValue());
        }
    });
    encoder.join();
    check(rate->getEncoderName() == "CENTS" && raw == 1234 && decoded == 12.5,
          "the script's encoder encodes 12.345 as 1234 and decodes 1250 as 12.5");

    // Dictionary actions, each run from a new thread that holds no interpreter.
    ICDPluginAction* firstStatus = findAction(first, kStatusAction);
    ICDPluginAction* secondStatus = findAction(second, kStatusAction);
    if (firstStatus == nullptr || secondStatus == nullptr) {
        check(false, "both plug-ins have the dictionary action Status");
        return 1;
    }
    ICDDictionary input;
    input.setString("echo", "hello");
    bool firstRan = false, secondRan = false;
    unsigned long firstCaller = 0, secondCaller = 0;
    const ICDDictionary a = runOnNewThread(firstStatus, input, &firstRan, &firstCaller);
    const ICDDictionary b = runOnNewThread(secondStatus, input, &secondRan, &secondCaller);
    check(firstRan && secondRan && b.getString("echo") == "hello",
          "a dictionary action runs from a thread that holds no interpreter");
    check(a.getString("identifier") != b.getString("identifier"),
          "each plug-in has a script identifier of its own");
    check(a.getLong("events") == 1 && b.getLong("events") == 2 * kEventsPerThread,
          "the second plug-in on the ICD took over the first one's event callable");
    const unsigned long eventThread = static_cast<unsigned long>(b.getLong("event_thread"));
    check(b.getLong("event_threads") == 1 && eventThread != raiserIds[0] &&
              eventThread != raiserIds[1] && eventThread != threadId(),
          "event callables run on one thread of the library, not on the raising threads");
    check(static_cast<unsigned long>(b.getLong("encoder_thread")) == encoderThread,
          "the encoder ran on the host thread that encoded");
    check(static_cast<unsigned long>(b.getLong("action_thread")) == secondCaller,
          "the action ran on the calling thread");
    check(
        b.getString("modules") == "ctypes decimal sqlite3 ssl",
        "decimal, ctypes, sqlite3 and ssl work under RTLD_LOCAL (" + b.getString("modules") + ")");
    check(b.getString("cwd") == folder, "the script sees the process's working folder");
    check(b.getString("sys_path").find("example-host-marker") == std::string::npos,
          "PYTHONPATH is ignored");
    // The standard library comes from the installation the library runs on, and sys.executable
    // names that installation's interpreter (or the virtual environment's made from it).
    const std::string prefix = b.getString("prefix");
    const std::string executable = b.getString("executable");
    check(access(executable.c_str(), X_OK) == 0 && executable.rfind(prefix + "/", 0) == 0 &&
              executable.find("shims") == std::string::npos,
          "sys.executable " + executable + " is an interpreter of sys.prefix " + prefix);
    if (const char* virtualEnv = std::getenv("VIRTUAL_ENV")) {
        char* real = realpath(virtualEnv, nullptr);
        const std::string venv = real != nullptr ? real : virtualEnv;
        std::free(real);
        check(prefix == venv &&
                  b.getString("sys_path").find(venv + "/lib/python") != std::string::npos,
              "the virtual environment VIRTUAL_ENV names adds its site-packages");
    }

    // The end: every plug-in stopped and deleted, then the ICD. The library stays loaded.
    library.destroyAll();
    check(library.sessionOf(first) == nullptr, "a destroyed plug-in has no session any more");
    handler.reset();
    std::cout << (failures == 0 ? "example host: every check passed"
                                : "example host: " + std::to_string(failures) + " checks failed")
              << std::endl;
    return failures == 0 ? 0 : 1;
}
