// Runs the built icdhost as a child process in a scratch folder holding copies of the test data
// and the examples, and compares its normalised output with expected files.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace icdhost_test {

namespace fs = std::filesystem;

inline std::string icdhostBinary() {
    return std::string(PPP_RUNTIME_DIR) + "/icdhost";
}
inline fs::path dataDir() {
    return fs::path(PPP_TEST_DATA_DIR) / "icdhost";
}

struct ChildResult {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs `binary` with `args` in `workDir`, feeding `input` to its standard input (which is then
// closed), without PYTHONUNBUFFERED, for at most `limit`.
inline ChildResult runChild(const std::string& binary, const std::vector<std::string>& args,
                            const fs::path& workDir, const std::string& input = "",
                            std::chrono::seconds limit = std::chrono::seconds(60)) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        if (chdir(workDir.c_str()) != 0) {
            _exit(126);
        }
        unsetenv("PYTHONUNBUFFERED");
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(binary.c_str()));
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    ChildResult result;
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true;
    bool errOpen = true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (outOpen || errOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        int count = poll(fds, inFd >= 0 ? 3 : 2, static_cast<int>(left.count()));
        if (count < 0) {
            continue;
        }
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
                } else {
                    (i == 0 ? outOpen : errOpen) = false;
                }
            }
        }
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(inFd, input.data() + written, input.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if (n < 0 || written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) {
        close(inFd);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Makes output comparable across runs and CPython versions: addresses, script identifiers and
// handler keys become placeholders, and the caret lines that newer tracebacks add are dropped.
inline std::string normalise(const std::string& text) {
    static const std::regex address("0x[0-9a-fA-F]+");
    static const std::regex identifier("proxyplugin#([0-9]+)@[0-9A-F]+");
    static const std::regex handlerKey("\\b[0-9a-f]{16}\\b");
    static const std::regex caretLine("^[ \\t]*[~^][~^ \\t]*$");
    std::istringstream in(text);
    std::string line;
    std::string result;
    while (std::getline(in, line)) {
        if (std::regex_match(line, caretLine)) {
            continue;
        }
        line = std::regex_replace(line, address, "0xADDR");
        line = std::regex_replace(line, identifier, "proxyplugin#$1@ID");
        line = std::regex_replace(line, handlerKey, "HANDLERKEY");
        result += line + "\n";
    }
    return result;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Compares `actual` with the expected file; with ICDHOST_UPDATE_EXPECTED=1 in the environment
// the file is rewritten instead (review the difference before committing it).
inline void expectMatchesFile(const std::string& actual, const std::string& expectedName) {
    fs::path path = dataDir() / "expected" / expectedName;
    const char* update = std::getenv("ICDHOST_UPDATE_EXPECTED");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    ASSERT_TRUE(fs::exists(path)) << "missing expected file " << path;
    EXPECT_EQ(readFile(path), actual) << "output differs from " << path;
}

// A scratch folder with copies of tests/data/icdhost and examples/, removed at the end. Scripts
// are run from copies because the plug-in writes its help page beside each script.
class IcdhostTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "icdhost-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        _workDir = pattern;
        fs::copy(dataDir(), _workDir, fs::copy_options::recursive);
        fs::copy(PPP_EXAMPLES_DIR, _workDir / "examples", fs::copy_options::recursive);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(_workDir, ignored);
    }

    ChildResult run(const std::vector<std::string>& args, const std::string& input = "") {
        ChildResult result = runChild(icdhostBinary(), args, _workDir, input);
        EXPECT_FALSE(result.timedOut) << "icdhost did not finish; output so far:\n"
                                      << result.out << result.err;
        return result;
    }

    // Runs `args` and checks the exit status and both outputs against expected/NAME.out and
    // expected/NAME.err.
    void runAndCompare(const std::vector<std::string>& args, const std::string& name,
                       int expectedStatus, const std::string& input = "") {
        ChildResult result = run(args, input);
        EXPECT_EQ(result.status, expectedStatus) << result.err;
        expectMatchesFile(normalise(result.out), name + ".out");
        expectMatchesFile(normalise(result.err), name + ".err");
    }

    fs::path _workDir;
};

}  // namespace icdhost_test
