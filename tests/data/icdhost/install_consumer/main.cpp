// Loads an ICD with the installed host library, then the installed plug-in library by its entry
// points, and prints what both report.
#include <dlfcn.h>

#include <iostream>
#include <memory>
#include <string>

#include "ICDHandler.h"
#include "plugin/ProxyPythonPluginNS.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    std::string error;
    std::unique_ptr<ICDHandler> handler = ICDHandler::load(argv[1], &error);
    if (!handler) {
        std::cerr << error << std::endl;
        return 1;
    }
    std::cout << "icd " << handler->getName() << " clock " << handler->getBusClockPeriod()
              << std::endl;
    void* library = dlopen(PLUGIN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::cerr << dlerror() << std::endl;
        return 1;
    }
    auto version =
        reinterpret_cast<decltype(&getPluginAPIVersion)>(dlsym(library, "getPluginAPIVersion"));
    if (version == nullptr) {
        return 1;
    }
    std::cout << "plug-in API " << version() << std::endl;
    return 0;
}
