// _thread.interrupt_main() from a session does nothing, on the thread that initialised Python and
// on any other, and nothing is left pending for the main interpreter; a sub-interpreter still may
// not set a signal handler; and initialising Python leaves the host's own SIGINT handler in place.
// Python starts once per process, so the test runs itself again in a fresh process whose host
// installs its handler before anything starts Python.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

#include "PyInterpreter.h"
#include "tests/interpreter/SessionTestSupport.h"
#include "tests/support/CaptureOutput.h"

namespace {

constexpr const char* kFreshProcess = "PPP_INTERRUPT_MAIN_FRESH_PROCESS";

volatile sig_atomic_t hostHandlerRuns = 0;
void hostHandler(int) {
    hostHandlerRuns = hostHandlerRuns + 1;
}

void (*currentSigintHandler())(int) {
    struct sigaction now = {};
    sigaction(SIGINT, nullptr, &now);
    return now.sa_handler;
}

// Runs `code` in the main interpreter on the calling thread, as a host running its own Python
// does; false when it raised (printed) or printed anything. Precondition: no interpreter held.
bool mainInterpreterRunsQuietly(const char* code) {
    PyThreadState* state = PyThreadState_New(PyInterpreterState_Main());
    PyEval_RestoreThread(state);
    CaptureOutput output;
    const bool ran = PyRun_SimpleString(code) == 0;
    output.stop();
    PyThreadState_Clear(state);
    PyThreadState_DeleteCurrent();
    return ran && output.out().empty() && output.err().empty();
}

TEST(InterruptMain, DoesNothingFromAnyThreadAndTheHostKeepsItsSigintHandler) {
    if (std::getenv(kFreshProcess) == nullptr) {
        char self[PATH_MAX] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
        const std::string command = std::string("env ") + kFreshProcess +
                                    "=1 timeout -s KILL 60 '" + self +
                                    "' --gtest_filter=InterruptMain.* >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "the fresh process failed or crashed, status " << status;
        return;
    }
    struct sigaction host = {};
    host.sa_handler = hostHandler;
    sigemptyset(&host.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &host, nullptr), 0);

    PySession* session = interpreter_test::newSubInterpreterSession();
    EXPECT_EQ(currentSigintHandler(), &hostHandler);
    CaptureOutput output;
    EXPECT_TRUE(
        session->eval("import _thread\n_thread.interrupt_main()\nwent_on = 1\n"
                      "for i in range(100000): pass"));
    bool otherThread = false;
    std::thread([&] {
        otherThread = session->eval(
            "_thread.interrupt_main()\nwent_on += 1\n"
            "for i in range(100000): pass");
    }).join();
    EXPECT_TRUE(otherThread);
    // Before 3.9 CPython lets a sub-interpreter on the main thread set a handler for the whole
    // process: the refusal is only tried where CPython gives it.
    EXPECT_TRUE(
        session->eval("import signal, sys\n"
                      "if sys.version_info < (3, 9):\n    went_on += 1\n"
                      "else:\n    try:\n"
                      "        signal.signal(signal.SIGINT, signal.SIG_IGN)\n"
                      "    except ValueError:\n        went_on += 1\n"));
    EXPECT_TRUE(session->eval("assert went_on == 3, went_on"));
    output.stop();
    EXPECT_EQ(output.out() + output.err(), "");
    EXPECT_TRUE(mainInterpreterRunsQuietly("for i in range(100000): pass"));

    EXPECT_EQ(currentSigintHandler(), &hostHandler);
    raise(SIGINT);
    EXPECT_EQ(hostHandlerRuns, 1);
}

}  // namespace
