// The library's entry points, found and called the way a host does: dlopen and dlsym by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "ICDPluginObject.h"
#include "ScriptedPluginSupport.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "plugin/ProxyPythonPlugin.h"

namespace {

using namespace plugintest;

struct PluginLibrary {
    using VersionFn = std::string (*)();
    using CreateFn = ICDPluginObject* (*)();
    using DestroyFn = void (*)();

    PluginLibrary() {
        const std::string path = std::string(PPP_LIBRARY_DIR) + "/libProxyPythonPlugin.so";
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        version = reinterpret_cast<VersionFn>(dlsym(handle, "getPluginAPIVersion"));
        create = reinterpret_cast<CreateFn>(dlsym(handle, "_ZN19ProxyPythonPluginNS8onCreateEv"));
        destroy =
            reinterpret_cast<DestroyFn>(dlsym(handle, "_ZN19ProxyPythonPluginNS9onDestroyEv"));
        registry = static_cast<std::vector<ProxyPythonPlugin*>*>(
            dlsym(handle, "_ZN19ProxyPythonPluginNS12plugins_vectE"));
    }
    ~PluginLibrary() {
        if (handle != nullptr) {
            dlclose(handle);
        }
    }
    bool complete() const {
        return version != nullptr && create != nullptr && destroy != nullptr && registry != nullptr;
    }

    void* handle = nullptr;
    VersionFn version = nullptr;
    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;
    std::vector<ProxyPythonPlugin*>* registry = nullptr;
};

TEST(EntryPoints, ApiVersionIsTheRevisionFollowedByP88OnEveryCall) {
    PluginLibrary library;
    ASSERT_TRUE(library.complete());
    EXPECT_EQ(library.version(), "$Revision: 122971 $ P8.8");
    EXPECT_EQ(library.version(), library.version());
}

TEST(EntryPoints, CreatedObjectsAreRecordedInOrderAndDestroyedInOrder) {
    PluginLibrary library;
    ASSERT_TRUE(library.complete());

    CaptureOutput creation;
    ICDPluginObject* first = library.create();
    ICDPluginObject* second = library.create();
    creation.stop();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(creation.out(), "plugin " + streamed(first) + "\nplugin " + streamed(second) + "\n");
    ASSERT_EQ(library.registry->size(), 2u);
    EXPECT_EQ(static_cast<ICDPluginObject*>((*library.registry)[0]), first);
    EXPECT_EQ(static_cast<ICDPluginObject*>((*library.registry)[1]), second);

    EXPECT_EQ(first->getName(), "ProxyPythonPlugin?");
    EXPECT_EQ(first->getVersion(), "4.0.0");

    // Neither was given a handler: their stop does nothing and prints nothing.
    CaptureOutput destruction;
    library.destroy();
    destruction.stop();
    EXPECT_EQ(destruction.out(), "destroying plugin " + streamed(first) + "\ndestroying plugin " +
                                     streamed(second) + "\n");
    EXPECT_EQ(destruction.err(), "");
    EXPECT_TRUE(library.registry->empty());

    // The registry is empty now: nothing to stop, nothing written.
    CaptureOutput again;
    library.destroy();
    EXPECT_EQ(again.out(), "");
    EXPECT_EQ(again.err(), "");
}

TEST(EntryPoints, OnDestroyStopsEachScriptPausesAndDeletesTheObject) {
    PluginLibrary library;
    ASSERT_TRUE(library.complete());
    ScriptDir dir;
    const std::string script = dir.copy("lifecycle.py");
    ICDHandler* handler = loadHandler("plugin_bus.xml");
    ASSERT_NE(handler, nullptr);

    std::vector<ICDPluginObject*> plugins;
    std::vector<ProxyPluginPyInterface*> interfaces;
    {
        CaptureOutput setUp;
        for (int i = 0; i < 2; ++i) {
            ICDPluginObject* plugin = library.create();
            plugin->setFileName(script);
            assignHandler(plugin, handler);
            plugins.push_back(plugin);
            interfaces.push_back(static_cast<ProxyPythonPlugin*>(plugin)->getInterface());
        }
    }
    ASSERT_NE(interfaces[0], nullptr);
    ASSERT_NE(interfaces[1], nullptr);
    EXPECT_TRUE(handler->isRegistered(plugins[0]));

    CaptureOutput destruction;
    const auto before = std::chrono::steady_clock::now();
    library.destroy();
    const auto elapsed = std::chrono::steady_clock::now() - before;
    destruction.stop();

    EXPECT_EQ(destruction.out(), "destroying plugin " + streamed(plugins[0]) +
                                     "\nscript stop\ndestroying plugin " + streamed(plugins[1]) +
                                     "\nscript stop\n");
    EXPECT_EQ(destruction.err(), "");
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    EXPECT_TRUE(library.registry->empty());
    // Deleted: unregistered from the handler and detached from the script's registry object.
    EXPECT_FALSE(handler->isRegistered(plugins[0]));
    EXPECT_FALSE(handler->isRegistered(plugins[1]));
    EXPECT_EQ(interfaces[0]->getPlugin(), nullptr);
    EXPECT_EQ(interfaces[1]->getPlugin(), nullptr);
}

}  // namespace
