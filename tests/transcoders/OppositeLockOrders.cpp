// The two lock orders of a transcoding meet: the host's thread owns transcoder_mutex and needs the
// interpreter, which a Python bus driver's thread holds while it asks for transcoder_mutex. The
// driver must wait for the mutex with the interpreter released, or both threads wait forever.
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/Watchdog.h"
#include "tests/transcoders/TranscoderFixture.h"

using namespace std::chrono_literals;

namespace {

using OppositeLockOrders = TranscoderFixture;

TEST_F(OppositeLockOrders,
       ADriverThreadInsideTheSessionWaitsForTheMutexWithTheInterpreterReleased) {
    Watchdog watchdog("opposite lock orders", 30s);
    auto driver = make<ProxyPluginPyNumericTranscoder<int>>("TwosComplement()", true);
    std::atomic<int> step{0};  // 1: the driver holds the session; 2: the host owns the mutex
    bool driverOk = false;
    unsigned long long raw = 0;
    std::thread driverThread([&] {
        PySession::Use use(session);
        step = 1;
        while (step != 2) {
            std::this_thread::yield();
        }
        driverOk = driver->encode(5, &raw);
    });
    while (step != 1) {
        std::this_thread::yield();
    }
    {
        TranscoderLock lock;
        step = 2;
        PySession::Use use(session);
    }
    driverThread.join();
    EXPECT_TRUE(driverOk);
    EXPECT_EQ(raw, 5u);
}

}  // namespace
