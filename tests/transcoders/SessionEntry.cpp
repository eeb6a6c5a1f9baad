// Which threads a transcoder may be called from, whether it enters its session, and that no
// combination of held interpreters and transcoder_mutex deadlocks or runs Python in the wrong
// sub-interpreter.
#include <atomic>
#include <chrono>
#include <thread>

#include "Watchdog.h"
#include "TranscoderFixture.h"

using namespace std::chrono_literals;

namespace {

// encode answers the tag of the sub-interpreter it runs in: sys is looked up in the running
// interpreter's modules, not in the object's own namespace.
const char* const kWhereScript = R"(
class Where:
    def encode(self, value):
        return __import__('sys').interp_tag
    def decode(self, raw):
        return __import__('sys').interp_tag
)";

class SessionEntry : public TranscoderFixture {
protected:
    void SetUp() override {
        TranscoderFixture::SetUp();
        other = plugin_sessions::sessionB();
        ASSERT_TRUE(plugin_sessions::run(session, "import sys\nsys.interp_tag = 1"));
        ASSERT_TRUE(plugin_sessions::run(other, "import sys\nsys.interp_tag = 2"));
        ASSERT_TRUE(plugin_sessions::run(session, kWhereScript));
    }

    PySession* other = nullptr;
};

TEST_F(SessionEntry, PythonIsCalledDirectlyOnlyForADriverFieldFromItsOwnSessionsCode) {
    auto driver = numeric<int>("a", "Where()", false, true);
    auto plain = numeric<int>("b", "Where()", false, false);
    auto always = numeric<int>("c", "Where()", true, true);

    EXPECT_FALSE(driver->GIL_check()) << "no interpreter held";
    {
        PySession::Use use(session);
        EXPECT_TRUE(driver->GIL_check());
        EXPECT_FALSE(plain->GIL_check());
        EXPECT_FALSE(always->GIL_check());

        // Another thread sees the interpreter held, but not by itself.
        bool elsewhere = true;
        std::thread([&] { elsewhere = driver->GIL_check(); }).join();
        EXPECT_FALSE(elsewhere);
    }
    {
        PySession::Use use(other);
        EXPECT_FALSE(driver->GIL_check()) << "another plug-in's session";
    }
    // Code run by eval is session code too.
    bool fromEval = false;
    plugin_sessions::bindHostCall(session, "probe", [&] { fromEval = driver->GIL_check(); });
    ASSERT_TRUE(session->eval("probe()"));
    EXPECT_TRUE(fromEval);
}

TEST_F(SessionEntry, AThreadThatNeverTouchedPythonEntersTheSession) {
    auto transcoder = numeric<int>("a", "Where()", false, true);
    unsigned long long raw = 0;
    bool ok = false;
    std::thread([&] { ok = transcoder->encode(1, &raw); }).join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(raw, 1u);
}

TEST_F(SessionEntry, AThreadHoldingTheTranscodersSessionTranscodesWhateverTheFlags) {
    Watchdog watchdog("transcoding inside the own session", 30s);
    auto driver = numeric<int>("a", "Where()", false, true);
    auto plain = numeric<int>("b", "Where()", false, false);
    auto always = numeric<int>("c", "Where()", true, true);
    unsigned long long raws[3] = {0, 0, 0};
    bool ok[3] = {false, false, false};
    {
        PySession::Use use(session);
        ok[0] = driver->encode(1, &raws[0]);
        ok[1] = plain->encode(1, &raws[1]);
        ok[2] = always->encode(1, &raws[2]);
        EXPECT_EQ(PySession::getExecType(pycompat::currentThreadStateUnchecked()), 1);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(ok[i]) << i;
        EXPECT_EQ(raws[i], 1u) << i;
    }
}

TEST_F(SessionEntry, AThreadHoldingAnotherSessionTranscodesInTheTranscodersOwnInterpreter) {
    Watchdog watchdog("transcoding inside another session", 30s);
    auto driver = numeric<int>("a", "Where()", false, true);
    auto plain = numeric<int>("b", "Where()", false, false);
    unsigned long long raws[2] = {0, 0};
    int values[2] = {0, 0};
    std::string tagInside;
    {
        PySession::Use use(other);
        driver->encode(1, &raws[0]);
        plain->encode(1, &raws[1]);
        driver->decode(0ULL, &values[0]);
        plain->decode(0LL, &values[1]);
        // The other session is current again afterwards.
        PyRef tag = plugin_sessions::evaluate(other, "__import__('sys').interp_tag");
        tagInside = tag ? std::to_string(PyLong_AsLong(tag.get())) : "<error>";
    }
    EXPECT_EQ(raws[0], 1u);
    EXPECT_EQ(raws[1], 1u);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 1);
    EXPECT_EQ(tagInside, "2");
}

TEST_F(SessionEntry, ATranscodingStartedFromWithinAPythonEncodeIsRefused) {
    Watchdog watchdog("nested transcoding", 30s);
    auto inner = numeric<int>("inner", "Where()");
    bool innerOk = true;
    plugin_sessions::bindHostCall(session, "transcode_again", [&] {
        unsigned long long raw = 0;
        innerOk = inner->encode(1, &raw);
    });
    ASSERT_TRUE(plugin_sessions::run(session, R"(
class Nesting:
    def encode(self, value):
        transcode_again()
        return 5
    def decode(self, raw):
        return raw
)"));
    auto outer = numeric<int>("outer", "Nesting()");
    unsigned long long raw = 0;
    CaptureOutput output;
    const bool outerOk = outer->encode(1, &raw);
    const std::string err = output.err();
    EXPECT_TRUE(outerOk);
    EXPECT_EQ(raw, 5u);
    EXPECT_FALSE(innerOk);
    EXPECT_EQ(err, "ERROR: transcoder called again from within a Python encode or decode\n");
}

TEST_F(SessionEntry, AThreadInsideASessionWaitsForTheMutexWithTheInterpreterReleased) {
    // The two lock orders meet: the host thread owns transcoder_mutex and needs the interpreter,
    // which the driver thread holds while it asks for transcoder_mutex.
    Watchdog watchdog("opposite lock orders", 30s);
    auto driver = numeric<int>("a", "Where()", false, true);
    std::atomic<bool> driverHoldsSession{false};
    std::atomic<bool> hostOwnsMutex{false};
    bool hostEntered = false;
    unsigned long long raw = 0;
    bool driverOk = false;

    std::thread driverThread([&] {
        PySession::Use use(session);
        driverHoldsSession = true;
        while (!hostOwnsMutex.load()) {
            std::this_thread::yield();
        }
        driverOk = driver->encode(1, &raw);
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
    EXPECT_EQ(raw, 1u);
}

}  // namespace
