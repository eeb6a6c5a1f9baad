// The child side of runChildScenario: before main, a process started with PPP_INTERPRETER_CHILD
// runs that scenario alone and ends, so that GoogleTest, and Python, start nowhere else in it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "ChildProcess.h"
#include "PyRef.h"
#include "SessionTestSupport.h"

extern char** environ;

namespace interpreter_test {
namespace {

constexpr const char* kScenarioVariable = "PPP_INTERPRETER_CHILD";

// Prints through the say() function of a session, called as a plug-in calls Python (not through
// PyRun_SimpleString, which flushes sys.stdout itself and would hide buffering).
void say(PySession* session, const std::string& text) {
    PySession::Use use(session);
    PyObject* function = PyDict_GetItemString(session->globals(), "say");  // borrowed
    PyRef result = PyRef::steal(PyObject_CallFunction(function, "s", text.c_str()));
    if (!result) {
        PyErr_Clear();
    }
}

// C, C++ and two sub-interpreters write in turn to a standard output that is a pipe.
int outputOrder() {
    std::printf("order: 0 c before start-up\n");  // C stdio chooses its buffering here
    PySession* first = newSubInterpreterSession();
    PySession* second = newSubInterpreterSession();
    first->eval("def say(text): print(text)");
    second->eval("def say(text): print(text)");
    for (int round = 1; round <= 3; ++round) {
        std::printf("order: %d c\n", round);
        std::cout << "order: " << round << " c++\n";
        say(first, "order: " + std::to_string(round) + " first");
        std::printf("order: %d c again\n", round);
        say(second, "order: " + std::to_string(round) + " second");
        first->eval("print('order: " + std::to_string(round) + " eval')");
    }
    std::printf("order: end\n");
    std::cout.flush();
    std::fflush(nullptr);
    return 0;
}

// Scripts and lines that exit or are interrupted must leave the process running.
int systemExit() {
    PySession* session = newSubInterpreterSession();
    bool script = session->exec_file(dataFile("exits_with_status_3.py"));
    std::printf("exec_file: %s\n", script ? "true" : "false");
    std::printf("error text: %s\n", session->_errorText.c_str());
    bool line = session->eval("raise SystemExit(5)");
    std::printf("eval: %s\n", line ? "true" : "false");
    bool interrupted = session->eval("raise KeyboardInterrupt");
    std::printf("interrupted eval: %s\n", interrupted ? "true" : "false");
    std::printf("survived\n");
    std::fflush(nullptr);
    return 0;
}

int environmentIgnored() {
    PySession* session = newSubInterpreterSession();
    session->eval(
        "import sys\n"
        "print('marker in path:', any('ppp-marker' in p for p in sys.path))\n"
        "print('ignore_environment:', sys.flags.ignore_environment)");
    std::fflush(nullptr);
    return 0;
}

// A host that started Python itself, and released it, before the library's first use. Its
// streams keep the host's buffering.
int hostInitialised() {
    Py_InitializeEx(0);
    PyEval_SaveThread();
    PySession* session = newSubInterpreterSession();
    bool ok = session->eval("print('sub-interpreter runs', flush=True)");
    std::printf("eval: %s\n", ok ? "true" : "false");
    std::fflush(nullptr);
    return 0;
}

const std::map<std::string, int (*)()>& scenarios() {
    static const std::map<std::string, int (*)()> table = {
        {"output-order", outputOrder},
        {"system-exit", systemExit},
        {"environment-ignored", environmentIgnored},
        {"host-initialised", hostInitialised},
    };
    return table;
}

struct ChildEntry {
    ChildEntry() {
        const char* name = std::getenv(kScenarioVariable);
        if (name == nullptr) {
            return;
        }
        auto found = scenarios().find(name);
        int status = found == scenarios().end() ? 125 : found->second();
        std::cout.flush();
        std::fflush(nullptr);
        _exit(status);
    }
};

const ChildEntry childEntry;

void drain(int fd, std::string& into, bool& open) {
    char buffer[4096];
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
        into.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
        open = false;
    }
}

}  // namespace

ChildResult runChildScenario(const std::string& scenario,
                             const std::vector<std::string>& environment, int seconds) {
    ChildResult result;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        result.err = "pipe failed";
        return result;
    }
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        if (text.rfind("PYTHONUNBUFFERED=", 0) != 0 && text.rfind(kScenarioVariable, 0) != 0) {
            entries.push_back(text);
        }
    }
    entries.push_back(std::string(kScenarioVariable) + "=" + scenario);
    entries.insert(entries.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = "/proc/self/exe";
    char* argv[] = {program.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    pid_t child = -1;
    int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        result.err = "spawn failed";
        return result;
    }

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool outOpen = true;
    bool errOpen = true;
    bool timedOut = false;
    while (outOpen || errOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            drain(out[0], result.out, outOpen);
        }
        if (fds[1].revents != 0) {
            drain(err[0], result.err, errOpen);
        }
    }
    if (timedOut) {
        kill(child, SIGKILL);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exited = !timedOut && WIFEXITED(status);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace interpreter_test
