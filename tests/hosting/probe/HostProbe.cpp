// A host of its own, written as a host author writes one against the SDK headers: it loads the
// plug-in library with dlopen(RTLD_NOW | RTLD_LOCAL), the flags most hosts use, and links neither
// that library nor libpython. It also defines a function of the same name as one of the
// library's (ReplaceAll), exported, as an application's own helper would be.
//
// Usage: host_probe LIBRARY ICD SCRIPT [ACTION]
// Creates a plug-in for SCRIPT on the ICD (the script runs and prints), then, given ACTION, calls
// the help and the execution of that top-level dictionary action with inputs a=2 and b=40 from a
// thread of its own that holds no interpreter, and last says whether its ReplaceAll was called.
// Exit status 0 when all of it ran, 2 on a usage or loading failure.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "ICDHandler.h"
#include "ICDPluginObject.h"

namespace {

std::atomic<int> replaceAllCalls{0};

// The library's exported names, found as a host finds them.
constexpr const char* kCreateSymbol = "_ZN19ProxyPythonPluginNS8onCreateEv";
constexpr const char* kDestroySymbol = "_ZN19ProxyPythonPluginNS9onDestroyEv";
constexpr const char* kReplaceAllSymbol =
    "_Z10ReplaceAllNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKS4_S6_";

ICDPluginAction* topLevelAction(ICDPluginObject* plugin, const std::string& name) {
    for (unsigned int i = 0; i < plugin->getPluginActionSize(); ++i) {
        if (plugin->getPluginAction(i)->getName() == name) {
            return plugin->getPluginAction(i);
        }
    }
    return nullptr;
}

std::string text(const ICDDictionary& dictionary) {
    std::string result;
    for (const std::string& key : dictionary.keys()) {
        result += " " + key + "=" +
                  (dictionary.isLong(key) ? std::to_string(dictionary.getLong(key))
                                          : dictionary.getString(key));
    }
    return result;
}

}  // namespace

// Never does what the library's function of this name does: a call from the library would show
// in its results as well as in the count.
__attribute__((visibility("default"))) std::string ReplaceAll(std::string subject,
                                                              const std::string&,
                                                              const std::string&) {
    ++replaceAllCalls;
    return "host:" + subject;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: host_probe LIBRARY ICD SCRIPT [ACTION]\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "host_probe: %s\n", dlerror());
        return 2;
    }
    using Create = ICDPluginObject* (*)();
    using Destroy = void (*)();
    auto create = reinterpret_cast<Create>(dlsym(library, kCreateSymbol));
    auto destroy = reinterpret_cast<Destroy>(dlsym(library, kDestroySymbol));
    std::string error;
    std::unique_ptr<ICDHandler> handler = ICDHandler::load(argv[2], &error);
    if (create == nullptr || destroy == nullptr || handler == nullptr) {
        std::fprintf(stderr, "host_probe: cannot load: %s\n", error.c_str());
        return 2;
    }
    std::printf("host ReplaceAll exported: %s\n",
                dlsym(RTLD_DEFAULT, kReplaceAllSymbol) == reinterpret_cast<void*>(&ReplaceAll)
                    ? "yes"
                    : "no");
    std::fflush(stdout);

    ICDPluginObject* plugin = create();
    plugin->setFileName(argv[3]);
    plugin->setICDHandler(handler.get());
    plugin->onSetICDHandler(handler.get());

    if (argc > 4) {
        ICDPluginAction* action = topLevelAction(plugin, argv[4]);
        std::string help = "no such action";
        std::string executed;
        if (action != nullptr) {
            std::thread hostThread([&] {
                help = action->help();
                ICDDictionary input;
                input.setLong("a", 2);
                input.setLong("b", 40);
                ICDDictionary output;
                executed = action->execute(input, &output) ? "True" : "False";
                executed += text(output);
            });
            hostThread.join();
        }
        std::printf("action help: %s\naction execute: %s\n", help.c_str(), executed.c_str());
    }
    std::printf("host ReplaceAll calls: %d\n", replaceAllCalls.load());
    std::fflush(stdout);
    destroy();
    return 0;
}
