// Helpers shared by the host library's, the bridge's and the transcoders' tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ICDHandler.h"
#include "ICDHost.h"
#include "tests/support/Barrier.h"

// Runs body(0) to body(count - 1) on `count` threads started together; returns once all ended.
inline void onThreads(int count, const std::function<void(int)>& body) {
    Barrier start(count);
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            start.arriveAndWait();
            body(t);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

// Encodes every value as 0xAB, running `hook` first; counts its deletions in `destroyed`.
template <typename T>
class TestTranscoder : public ICDGenericTranscoder<T> {
public:
    TestTranscoder(std::string name, std::atomic<int>* destroyed)
        : ICDGenericTranscoder<T>(std::move(name)), _destroyed(destroyed) {}
    ~TestTranscoder() override { ++*_destroyed; }
    bool encode(T, unsigned long long* raw) override {
        hook();
        *raw = 0xAB;
        return true;
    }
    bool decode(unsigned long long, T*) override { return true; }
    bool decode(long long, T*) override { return true; }

    std::function<void()> hook = [] {};

private:
    std::atomic<int>* _destroyed;
};

// nav_bus.xml loaded, and a SCRATCH message whose fields the tests make on demand. The trace is
// process-wide: it is turned off when the test ends.
class HostFixture : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        handler = ICDHandler::load(PPP_TEST_DATA_DIR "/host/nav_bus.xml", &error);
        ASSERT_NE(handler, nullptr) << error;
        status = handler->findMessage("NAV_STATUS");
        mode = status->findMessageField("mode");
        scratch = handler->addMessage("SCRATCH", false);
    }
    void TearDown() override { ICDHost::setTrace(false); }
    ICDGenericMessageField* field(unsigned int code) {
        return scratch->addField("f" + std::to_string(count++), code);
    }

    std::atomic<int> destroyed{0};  // of the TestTranscoders; outlives the handler
    std::unique_ptr<ICDHandler> handler;
    ICDMessage* status = nullptr;
    ICDGenericMessageField* mode = nullptr;
    ICDMessage* scratch = nullptr;
    int count = 0;
};
