// Waiting for idle answers from the state the background loop keeps: not idle while the event
// callable runs, idle as soon as the loop waits again, whatever the call's outcome. A library whose
// objects disagree on the bridge's layout (one compiled against an older header) answers from the
// wrong member and fails here, as icdhost's sync did.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "CaptureOutput.h"
#include "ICDHandler.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"

using namespace std::chrono_literals;

namespace {

// A sub-interpreter of this file's own. Precondition: the calling thread holds no interpreter.
PySession* idleSession() {
    static PySession* session = [] {
        PyMainInterp* main = PyMainInterp::PyMainInterpInstance();
        PyEval_RestoreThread(main->getPyThreadState());
        Py_NewInterpreter();
        main->setPyThreadState(PyEval_SaveThread());
        return new PySession(main->getPyThreadState());
    }();
    return session;
}

const char* const kGatedScript = R"(
import threading
gate = threading.Event()
def on_event(n):
    gate.wait(10)
    gate.clear()
    if n == 13:
        raise ValueError("bad event 13")
)";

class IdleWait : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        handler = ICDHandler::load(PPP_TEST_DATA_DIR "/bridge/bridge.xml", &error);
        ASSERT_TRUE(handler) << error;
        ASSERT_TRUE(run(kGatedScript));
        bridge = std::make_unique<ProxyPluginPyHandlerInterface>(handler.get(), session);
        {
            PySession::Use use(session);
            PyRef previous = PyRef::steal(bridge->setOnConsumeICDEvent(
                PyDict_GetItemString(session->globals(), "on_event")));  // borrowed
        }
        bridge->init();
    }
    void TearDown() override {
        run("gate.set()");
        bridge.reset();  // before its handler
    }

    bool run(const char* source) {
        PySession::Use use(session);
        PyRef result = PyRef::steal(
            PyRun_String(source, Py_file_input, session->globals(), session->globals()));
        PyErr_Clear();
        return static_cast<bool>(result);
    }

    PySession* session = idleSession();
    std::unique_ptr<ICDHandler> handler;
    std::unique_ptr<ProxyPluginPyHandlerInterface> bridge;
};

TEST_F(IdleWait, IsNotIdleWhileTheCallableRunsAndIdleOnceItReturns) {
    Watchdog watchdog("idle wait on a running call", 60s);
    handler->deliverICDEvent(5, 0);
    const bool idleWhileQueuedOrRunning = bridge->waitUntilIdle(100ms);
    const bool allIdleWhileQueuedOrRunning = ProxyPluginPyHandlerInterface::waitUntilAllIdle(100ms);
    run("gate.set()");
    const bool idleAfter = bridge->waitUntilIdle(10s);
    EXPECT_FALSE(idleWhileQueuedOrRunning);
    EXPECT_FALSE(allIdleWhileQueuedOrRunning);
    EXPECT_TRUE(idleAfter);
}

TEST_F(IdleWait, AfterACallableRaisedTheBridgeIsIdleAtOnceUntilTheNextEvent) {
    Watchdog watchdog("idle wait after a raising call", 60s);
    CaptureOutput output;
    run("gate.set()");
    handler->deliverICDEvent(13, 0);
    const bool idleAfterRaise = bridge->waitUntilIdle(10s);
    const bool idleAgain = bridge->waitUntilIdle(0ms);
    const bool allIdle = ProxyPluginPyHandlerInterface::waitUntilAllIdle(100ms);
    EXPECT_TRUE(idleAfterRaise);
    EXPECT_TRUE(idleAgain);
    EXPECT_TRUE(allIdle);
    EXPECT_EQ(bridge->getLastError(), "bad event 13");
    EXPECT_NE(output.err().find("ValueError: bad event 13"), std::string::npos) << output.err();
}

}  // namespace
