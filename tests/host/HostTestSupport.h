// Helpers shared by the host library's tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "ICDHandler.h"
#include "ICDHost.h"

inline std::string hostDataFile(const std::string& name) {
    return std::string(PPP_TEST_DATA_DIR) + "/host/" + name;
}

// Loads a file of tests/data/host that must load; a fault fails the calling test.
inline std::unique_ptr<ICDHandler> loadHostData(const std::string& name) {
    std::string error;
    std::unique_ptr<ICDHandler> handler = ICDHandler::load(hostDataFile(name), &error);
    EXPECT_NE(handler, nullptr) << error;
    return handler;
}

// Host controls are process-wide: a test that changes them puts them back when it ends.
class HostControlsGuard {
public:
    HostControlsGuard() = default;
    ~HostControlsGuard() {
        ICDHost::setTrace(false);
        ICDHost::setRefusedEvents({});
    }
    HostControlsGuard(const HostControlsGuard&) = delete;
    HostControlsGuard& operator=(const HostControlsGuard&) = delete;
};
