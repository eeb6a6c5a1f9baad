// The two lock orders of a transcoding meet: the host's thread owns transcoder_mutex and needs the
// interpreter, which a Python bus driver's thread holds while it asks for transcoder_mutex. The
// driver must wait for the mutex with the interpreter released, or both threads wait forever.
#include <atomic>
#include <chrono>
#include <thread>

#include "TranscoderFixture.h"
#include "Watchdog.h"

using namespace std::chrono_literals;

namespace {

class OppositeLockOrders : public TranscoderFixture {};

TEST_F(OppositeLockOrders,
       ADriverThreadInsideTheSessionWaitsForTheMutexWithTheInterpreterReleased) {
    Watchdog watchdog("opposite lock orders", 30s);
    ASSERT_TRUE(session->eval("enc = TwosComplement()"));
    ProxyPluginPyNumericTranscoder<int>* driver = nullptr;
    {
        PySession::Use use(session);
        driver = new ProxyPluginPyNumericTranscoder<int>(
            session, plugin_sessions::global(session, "enc"), false, true);
    }
    std::unique_ptr<ProxyPluginPyNumericTranscoder<int>, ReleaseTranscoder> owner(
        driver, ReleaseTranscoder{session});

    std::atomic<bool> driverHoldsSession{false};
    std::atomic<bool> hostOwnsMutex{false};
    bool hostEntered = false;
    bool driverOk = false;
    unsigned long long raw = 0;
    std::thread driverThread([&] {
        PySession::Use use(session);
        driverHoldsSession = true;
        while (!hostOwnsMutex.load()) {
            std::this_thread::yield();
        }
        driverOk = driver->encode(5, &raw);
    });
    std::thread hostThread([&] {
        while (!driverHoldsSession.load()) {
            std::this_thread::yield();
        }
        TranscoderLock lock;
        hostOwnsMutex = true;
        PySession::Use use(session);
        hostEntered = true;
    });
    hostThread.join();
    driverThread.join();
    EXPECT_TRUE(hostEntered);
    EXPECT_TRUE(driverOk);
    EXPECT_EQ(raw, 5u);
}

}  // namespace
