// Runs the tests' own host (probe/HostProbe.cpp) in a process of its own, so that each case starts
// CPython afresh with the environment it sets: what it printed, each stream whole, and how it
// ended.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestFiles.h"

extern char** environ;

namespace hostingtest {

struct ProbeRun {
    std::string out;
    std::string err;
    int status = -1;  // the exit status, or 128 + the signal that ended it

    // The text after "LABEL: " on the first line that starts so; "<none>" when no line does.
    std::string line(const std::string& label) const {
        const std::string lines = "\n" + out;
        const std::size_t found = lines.find("\n" + label + ": ");
        if (found == std::string::npos) {
            return "<none>";
        }
        const std::size_t begin = found + label.size() + 3;
        return lines.substr(begin, lines.find('\n', begin) - begin);
    }
};

// The host's environment minus PYTHONUNBUFFERED, with `changes` applied: a value sets a
// variable, an empty value removes it.
inline std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (name != "PYTHONUNBUFFERED" && changes.count(name) == 0) {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty()) {
            result.push_back(name + "=" + value);
        }
    }
    return result;
}

// Reads a descriptor to its end on a thread of its own, so that neither pipe fills up.
inline std::thread drain(int descriptor, std::string& into) {
    return std::thread([descriptor, &into] {
        char buffer[4096];
        ssize_t count = 0;
        while ((count = ::read(descriptor, buffer, sizeof buffer)) > 0) {
            into.append(buffer, static_cast<std::size_t>(count));
        }
        ::close(descriptor);
    });
}

// The probe on `script` (with `action`, when given) and the test ICD, under the environment
// `changes` make.
inline ProbeRun runProbe(const std::string& script, const std::string& action = "",
                         const std::map<std::string, std::string>& changes = {}) {
    std::vector<std::string> arguments = {PPP_HOST_PROBE, PPP_PLUGIN_LIBRARY,
                                          testfiles::dataPath("plugin", "plugin_bus.xml"), script};
    if (!action.empty()) {
        arguments.push_back(action);
    }
    std::vector<std::string> environment = environmentWith(changes);
    std::vector<char*> argv, envp;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    ProbeRun run;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    std::thread outReader = drain(out[0], run.out);
    std::thread errReader = drain(err[0], run.err);
    outReader.join();
    errReader.join();
    if (spawned != 0) {
        return run;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

}  // namespace hostingtest
