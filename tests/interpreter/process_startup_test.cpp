// What the first use of the library does to the process: standard streams in call order through
// a pipe, no signal handlers, the environment's PYTHON* variables ignored, and a host that runs
// Python itself.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PyInterpreter.h"

using namespace interpreter_test;
using ::testing::HasSubstr;

namespace {

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace

TEST(ProcessStartUp, CAndCppAndEverySubInterpreterWriteInCallOrderThroughAPipe) {
    ChildResult child = runChildScenario("output-order");
    ASSERT_TRUE(child.exited);
    ASSERT_EQ(child.status, 0) << child.err;
    std::vector<std::string> expected = {"order: 0 c before start-up"};
    for (int round = 1; round <= 3; ++round) {
        std::string r = std::to_string(round);
        for (const char* what : {" c", " c++", " first", " c again", " second", " eval"}) {
            expected.push_back("order: " + r + what);
        }
    }
    expected.push_back("order: end");
    EXPECT_EQ(linesStartingWith(child.out, "order: "), expected);
}

TEST(ProcessStartUp, NoSignalHandlersAreInstalled) {
    PyMainInterp::PyMainInterpInstance();
    struct sigaction interrupt {};
    struct sigaction brokenPipe {};
    sigaction(SIGINT, nullptr, &interrupt);
    sigaction(SIGPIPE, nullptr, &brokenPipe);
    EXPECT_EQ(interrupt.sa_handler, SIG_DFL);
    EXPECT_EQ(brokenPipe.sa_handler, SIG_DFL);
}

TEST(ProcessStartUp, PythonVariablesOfTheEnvironmentAreIgnored) {
    ChildResult child = runChildScenario("environment-ignored", {"PYTHONPATH=/tmp/ppp-marker"});
    ASSERT_TRUE(child.exited);
    EXPECT_EQ(child.status, 0) << child.err;
    EXPECT_THAT(child.out, HasSubstr("marker in path: False\nignore_environment: 1\n"));
}

TEST(ProcessStartUp, AHostThatStartedPythonItselfGetsSessionsWithoutASecondStartUp) {
    ChildResult child = runChildScenario("host-initialised");
    ASSERT_TRUE(child.exited);
    EXPECT_EQ(child.status, 0) << child.err;
    EXPECT_EQ(child.out, "sub-interpreter runs\neval: true\n");
}
