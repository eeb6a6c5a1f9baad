// What icdhost set up at start-up and its commands act on.
#pragma once

#include <string>
#include <vector>

class ICDHandler;
class ICDPluginObject;

namespace icdhost {

class PluginLibrary;

struct Host {
    // Loaded ICDs, numbered in the order of --icd. Never deleted: the plug-in's bridges stay
    // registered on them until the process ends.
    std::vector<ICDHandler*> handlers;
    // Plug-in objects, numbered in the order of --script; deleted by the library's onDestroy.
    std::vector<ICDPluginObject*> plugins;
    const PluginLibrary* library = nullptr;
    unsigned long syncTimeoutMs = 5000;
};

}  // namespace icdhost
