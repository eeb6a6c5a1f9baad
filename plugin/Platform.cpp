// Operating-system services of the plug-in; the only file a Windows build replaces
// (ShellExecuteA and Sleep there).
#include "ICDPlatform.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace ProxyPythonPluginPlatform {

void openDocument(const std::string& path) {
    // xdg-open runs detached: the host does not wait for the viewer, and a missing viewer or file
    // is ignored, as the shell's failure is on Windows. ICD_OPEN_COMMAND names another opener
    // (a host without a desktop, or a test that records what was opened).
    const char* opener = std::getenv("ICD_OPEN_COMMAND");
    if (opener == nullptr || *opener == '\0') {
        opener = "xdg-open";
    }
    const char* argv[] = {opener, path.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, opener, &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
        // Reaped on a thread of its own so that no zombie stays behind and nobody waits.
        std::thread([pid] {
            int status = 0;
            waitpid(pid, &status, 0);
        }).detach();
    }
    posix_spawn_file_actions_destroy(&actions);
}

void pauseMilliseconds(unsigned int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace ProxyPythonPluginPlatform
