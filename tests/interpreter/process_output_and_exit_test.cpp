// What only the whole process shows: standard streams in call order through a pipe, and scripts
// that exit or are interrupted without ending it. Seen in a fresh child (this program again, with
// PPP_INTERPRETER_CHILD set) where Python starts nowhere else.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>

#include "PyRef.h"
#include "SessionTestSupport.h"

using namespace interpreter_test;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// Prints through the say() function of a session, called as a plug-in calls Python (not through
// PyRun_SimpleString, which flushes sys.stdout itself and would hide buffering).
void say(PySession* session, const std::string& text) {
    PySession::Use use(session);
    PyObject* function = PyDict_GetItemString(session->globals(), "say");  // borrowed
    PyRef result = PyRef::steal(PyObject_CallFunction(function, "s", text.c_str()));
    PyErr_Clear();
}

// C, C++ and two sub-interpreters write in turn; then a script and lines exit or are interrupted.
void childScenario() {
    std::printf("0 c before start-up\n");  // C stdio chooses its buffering here
    PySession* first = newSubInterpreterSession();
    PySession* second = newSubInterpreterSession();
    first->eval("def say(text): print(text)");
    second->eval("def say(text): print(text)");
    for (std::string round : {"1", "2"}) {
        std::printf("%s c\n", round.c_str());
        std::cout << round << " c++\n";
        say(first, round + " first");
        std::printf("%s c again\n", round.c_str());
        say(second, round + " second");
        first->eval("print('" + round + " eval')");
    }
    bool script = first->exec_file(dataFile("exits_with_status_3.py"));
    std::printf("error text: %s\n", first->_errorText.c_str());
    bool line = first->eval("raise SystemExit(5)");
    bool interrupted = first->eval("raise KeyboardInterrupt");
    std::printf("results: %d %d %d, survived\n", script, line, interrupted);
}

// Before main, a process started with PPP_INTERPRETER_CHILD runs the scenario alone and ends.
struct ChildEntry {
    ChildEntry() {
        if (std::getenv("PPP_INTERPRETER_CHILD") != nullptr) {
            childScenario();
            std::cout.flush();
            std::fflush(nullptr);
            _exit(0);
        }
    }
} const childEntry;

// Standard output and standard error of the child share one pipe; PYTHONUNBUFFERED is unset.
// Gives the exit status (137 when killed after a minute) and the output.
std::pair<int, std::string> child() {
    std::pair<int, std::string> result;
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    std::string command =
        "env -u PYTHONUNBUFFERED PPP_INTERPRETER_CHILD=1 timeout -s KILL 60 '" + self + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t count; (count = std::fread(buffer, 1, 4096, pipe)) > 0;) {
        result.second.append(buffer, count);
    }
    int status = pclose(pipe);
    result.first = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    return result;
}

}  // namespace

TEST(ProcessOutput, CAndCppAndEverySubInterpreterWriteInCallOrderThroughAPipe) {
    auto [status, out] = child();
    EXPECT_EQ(status, 0) << out;
    EXPECT_THAT(out, StartsWith("0 c before start-up\n1 c\n1 c++\n1 first\n1 c again\n1 second\n"
                                "1 eval\n2 c\n2 c++\n2 first\n2 c again\n2 second\n2 eval\n"));
}

TEST(ProcessOutput, SystemExitAndKeyboardInterruptInScriptsAndLinesLeaveTheProcessRunning) {
    auto [status, out] = child();
    EXPECT_EQ(status, 0) << out;
    EXPECT_THAT(out, HasSubstr("error text: Traceback (most recent call last):\n  File \""));
    EXPECT_THAT(out, HasSubstr("exits_with_status_3.py\", line 1, in <module>\n"));
    EXPECT_THAT(out, HasSubstr("\nSystemExit: 3\n"));
    EXPECT_THAT(out, HasSubstr("SystemExit: 5"));
    EXPECT_THAT(out, HasSubstr("KeyboardInterrupt"));
    EXPECT_THAT(out, HasSubstr("results: 0 0 0, survived\n"));
}
