// The prompt, driven once through a pseudo-terminal: a typed command, completion of a command
// name, a dialog answered at the terminal, then Ctrl-D.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "IcdhostChild.h"

namespace icdhost_test {
namespace {

class InteractivePrompt : public IcdhostTest {
protected:
    // Reads from the terminal until `text` has appeared after `from`, or `limit` passes.
    bool readUntil(const std::string& text, std::size_t from = 0,
                   std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (_screen.find(text, from) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd fd = {_terminal, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buffer[1024];
            ssize_t n = read(_terminal, buffer, sizeof buffer);
            if (n <= 0) {
                return _screen.find(text, from) != std::string::npos;
            }
            _screen.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    // Reads what is left until the child closes the terminal.
    void readUntilClosed() {
        char buffer[1024];
        for (;;) {
            pollfd fd = {_terminal, POLLIN, 0};
            if (poll(&fd, 1, 10000) <= 0) {
                return;
            }
            ssize_t n = read(_terminal, buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            _screen.append(buffer, static_cast<std::size_t>(n));
        }
    }
    void type(const std::string& keys) {
        ASSERT_EQ(write(_terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    int _terminal = -1;
    std::string _screen;
};

TEST_F(InteractivePrompt, RunsTypedCommandsCompletesNamesAsksDialogsAndEndsOnCtrlD) {
    const std::string binary = icdhostBinary();
    pid_t pid = forkpty(&_terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(_workDir.c_str()) != 0) {
            _exit(126);
        }
        unsetenv("PYTHONUNBUFFERED");
        setenv("TERM", "dumb", 1);
        execl(binary.c_str(), binary.c_str(), "--icd", "icd/bus_b.xml", "--script",
              "scripts/dialogs.py", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(readUntil("icdhost> ")) << _screen;

    std::size_t mark = _screen.size();
    type("echo typed at the prompt\r");
    EXPECT_TRUE(readUntil("typed at the prompt\r\n", mark)) << _screen;
    ASSERT_TRUE(readUntil("icdhost> ", mark)) << _screen;

    mark = _screen.size();
    type("plugins\r");
    EXPECT_TRUE(readUntil("0 DIALOGS 4.0.0", mark)) << _screen;
    ASSERT_TRUE(readUntil("icdhost> ", mark)) << _screen;

    // Tab completes a command name: "ech" becomes "echo".
    mark = _screen.size();
    type("ech\t completed\r");
    EXPECT_TRUE(readUntil("\r\ncompleted\r\n", mark)) << _screen;
    ASSERT_TRUE(readUntil("icdhost> ", mark)) << _screen;

    // With nothing queued, a dialog at the prompt asks on the terminal.
    mark = _screen.size();
    type("action 1\r");
    EXPECT_TRUE(readUntil("dialog: messageBox : Proceed?", mark)) << _screen;
    EXPECT_TRUE(readUntil("answer", mark)) << _screen;
    type("5\n");
    EXPECT_TRUE(readUntil("dialogs: messageBox -> 5", mark)) << _screen;
    ASSERT_TRUE(readUntil("icdhost> ", mark)) << _screen;

    mark = _screen.size();
    type("\x04");
    EXPECT_TRUE(readUntil("destroying plugin", mark)) << _screen;
    readUntilClosed();

    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    close(_terminal);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << _screen;
}

}  // namespace
}  // namespace icdhost_test
