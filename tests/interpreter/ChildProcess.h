// Runs one scenario of this test program in a fresh child process (for behaviour that must be
// seen from the start of a process, or that would end the test process if it went wrong): the
// program is started again with PPP_INTERPRETER_CHILD naming the scenario, standard output and
// standard error on pipes, PYTHONUNBUFFERED removed from the environment.
#pragma once

#include <string>
#include <vector>

namespace interpreter_test {

struct ChildResult {
    bool exited = false;  // ended by exit, not by a signal or the time limit
    int status = -1;      // exit status when exited
    std::string out;
    std::string err;
};

// `environment`: extra NAME=VALUE entries. The child is killed after `seconds`.
ChildResult runChildScenario(const std::string& scenario,
                             const std::vector<std::string>& environment = {}, int seconds = 60);

}  // namespace interpreter_test
