// Waiting until bridges have delivered their events, one bridge or every bridge of the process.
#include <algorithm>
#include <vector>

#include "PyInterpreter.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"

namespace {

// Every bridge alive in the process. Bridges are made with a session held, so this mutex is never
// held while waiting for anything (docs/design.md).
std::mutex& processListMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<ProxyPluginPyHandlerInterface*>& processList() {
    static std::vector<ProxyPluginPyHandlerInterface*> bridges;
    return bridges;
}

}  // namespace

void ProxyPluginPyHandlerInterface::addToProcessList(ProxyPluginPyHandlerInterface* bridge) {
    std::lock_guard<std::mutex> lock(processListMutex());
    processList().push_back(bridge);
}

void ProxyPluginPyHandlerInterface::removeFromProcessList(ProxyPluginPyHandlerInterface* bridge) {
    std::lock_guard<std::mutex> lock(processListMutex());
    auto& bridges = processList();
    bridges.erase(std::remove(bridges.begin(), bridges.end(), bridge), bridges.end());
}

bool ProxyPluginPyHandlerInterface::waitIdleLocked(std::unique_lock<std::mutex>& lock,
                                                   std::chrono::steady_clock::time_point deadline,
                                                   bool* waited) {
    *waited = !idleLocked();
    // A bridge that stops delivers nothing more: it counts as idle.
    return _idle.wait_until(lock, deadline, [this] { return _stopping || idleLocked(); });
}

bool ProxyPluginPyHandlerInterface::waitUntilIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // An event call may need the interpreter a caller holds: it is given up while waiting.
    PyInterpreterRelease release;
    std::unique_lock<std::mutex> lock(_mutex);
    bool waited = false;
    return waitIdleLocked(lock, deadline, &waited);
}

bool ProxyPluginPyHandlerInterface::waitUntilAllIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    PyInterpreterRelease release;
    // An event call may raise events on other bridges, even on one already found idle: passes
    // repeat until one finds every bridge idle without waiting.
    for (;;) {
        std::vector<ProxyPluginPyHandlerInterface*> pinned;
        {
            // Pinned bridges are not freed while waited for: a destructor waits for _pins to drop.
            std::lock_guard<std::mutex> listLock(processListMutex());
            pinned = processList();
            for (ProxyPluginPyHandlerInterface* bridge : pinned) {
                std::lock_guard<std::mutex> lock(bridge->_mutex);
                ++bridge->_pins;
            }
        }
        bool allIdle = true;
        bool anyWaited = false;
        for (ProxyPluginPyHandlerInterface* bridge : pinned) {
            std::unique_lock<std::mutex> lock(bridge->_mutex);
            if (allIdle) {
                bool waited = false;
                allIdle = bridge->waitIdleLocked(lock, deadline, &waited);
                anyWaited = anyWaited || waited;
            }
            --bridge->_pins;
            lock.unlock();
            bridge->_idle.notify_all();
        }
        if (!allIdle) {
            return false;
        }
        if (!anyWaited) {
            return true;
        }
    }
}
