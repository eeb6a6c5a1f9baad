// Loads an ICD with the installed host library, then the installed plug-in library by its entry
// points, and prints what both report. Built with WITH_PYTHON it also calls the interpreter
// library, which needs Python's headers.
#include <dlfcn.h>

#include <iostream>
#include <string>

#include <ProxyPythonPlugin/ICDHandler.h>
#include <ProxyPythonPlugin/ProxyPythonPluginNS.h>
#ifdef WITH_PYTHON
#include <ProxyPythonPlugin/PyInterpreter.h>
#endif

int main(int argc, char** argv) {
    std::string error;
    auto handler = argc == 2 ? ICDHandler::load(argv[1], &error) : nullptr;
    void* library = dlopen(PLUGIN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    auto version = reinterpret_cast<decltype(&getPluginAPIVersion)>(
        library != nullptr ? dlsym(library, "getPluginAPIVersion") : nullptr);
    if (!handler || version == nullptr) {
        std::cerr << error << (library == nullptr ? dlerror() : "") << std::endl;
        return 1;
    }
    std::cout << "icd " << handler->getName() << " clock " << handler->getBusClockPeriod()
              << "\nplug-in API " << version() << std::endl;
#ifdef WITH_PYTHON
    std::cout << "holds an interpreter: " << PyInterpreterRelease::threadHoldsInterpreter()
              << std::endl;
#endif
    return 0;
}
