// icdhost driven as a user drives it, as a child process in a scratch folder holding copies of the
// test data and the examples: the listed runs compared whole with their expected transcripts, the
// prompt on a terminal, and the module's type stub against the built library.
#include <dlfcn.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/Isolation.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

const std::string kIcdhost = std::string(PPP_RUNTIME_DIR) + "/icdhost";
const fs::path kData = fs::path(PPP_TEST_DATA_DIR) / "icdhost";

using testfiles::readFile;

// Makes output comparable across runs and CPython versions: addresses, script identifiers and
// handler keys become placeholders, and the caret lines that newer tracebacks add are dropped.
std::string normalise(const std::string& text) {
    static const std::regex address("0x[0-9a-fA-F]+"), identifier("proxyplugin#([0-9]+)@[0-9A-F]+"),
        handlerKey("\\b[0-9a-f]{16}\\b"), caretLine("^[ \\t]*[~^][~^ \\t]*$");
    std::istringstream in(text);
    std::string line, result;
    while (std::getline(in, line)) {
        if (!std::regex_match(line, caretLine)) {
            line = std::regex_replace(line, address, "0xADDR");
            line = std::regex_replace(line, identifier, "proxyplugin#$1@ID");
            result += std::regex_replace(line, handlerKey, "HANDLERKEY") + "\n";
        }
    }
    return result;
}

std::multiset<std::string> sortedLines(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.insert(line);
    }
    return lines;
}

// Scripts run from copies because the plug-in writes its help page beside each script.
class Icdhost : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "icdhost-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        _workDir = pattern;
        fs::copy(kData, _workDir, fs::copy_options::recursive);
        fs::copy(PPP_EXAMPLES_DIR, _workDir / "examples", fs::copy_options::recursive);
    }
    void TearDown() override { fs::remove_all(_workDir); }

    // icdhost with `args` (shell syntax) run in `dir`, without standard input or
    // PYTHONUNBUFFERED; its output goes to .out and .err of the work folder. Gives the exit
    // status, -1 when it did not exit.
    int runIcdhost(const fs::path& dir, const std::string& args) {
        const int status =
            std::system(("cd " + dir.string() + " && env -u PYTHONUNBUFFERED timeout -s KILL 60 " +
                         kIcdhost + " </dev/null " + args + " >" + (_workDir / ".out").string() +
                         " 2>" + (_workDir / ".err").string())
                            .c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::path _workDir;
};

// Each line of runs.list is "NAME ARGUMENTS", the arguments in shell syntax (standard input may be
// redirected from a file). The runs of one NAME make one transcript of their arguments, normalised
// outputs and exit statuses, compared whole with expected/NAME.out; with ICDHOST_UPDATE_EXPECTED=1
// the file is rewritten instead (review the difference before committing it). With a lock per
// interpreter a transcript may differ (each plug-in keeps its own bridge):
// expected/NAME.own-gil.out then holds its lines, compared in any order, since two plug-ins'
// bridges deliver at once.
TEST_F(Icdhost, EveryListedRunPrintsItsExpectedTranscript) {
    std::map<std::string, std::string> transcripts;
    std::istringstream list(readFile(kData / "runs.list"));
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string name = line.substr(0, line.find(' ')),
                          args = line.substr(name.size() + 1);
        const int status = runIcdhost(_workDir, args);
        transcripts[name] += "$ icdhost " + args + "\n" + normalise(readFile(_workDir / ".out")) +
                             "--- standard error\n" + normalise(readFile(_workDir / ".err")) +
                             "--- exit status " + std::to_string(status) + "\n\n";
    }
    for (const auto& [name, transcript] : transcripts) {
        // With a lock per interpreter a transcript may differ (each plug-in keeps its own bridge):
        // expected/NAME.own-gil.out then says how.
        const fs::path path = kData / "expected" / (name + ".out");
        const fs::path ownLockPath = kData / "expected" / (name + ".own-gil.out");
        if (isolation::ownLockRequested() && fs::exists(ownLockPath)) {
            EXPECT_EQ(sortedLines(readFile(ownLockPath)), sortedLines(transcript))
                << "output differs from " << ownLockPath << ":\n"
                << transcript;
            continue;
        }
        if (getenv("ICDHOST_UPDATE_EXPECTED") != nullptr) {
            std::ofstream(path, std::ios::binary) << transcript;
        } else {
            EXPECT_EQ(readFile(path), transcript) << "output differs from " << path;
        }
    }
}

// --isolation own-gil: from CPython 3.12 each plug-in gets an interpreter lock of its own, which a
// script sees in CPython's refusal of a module without multi-phase initialisation; on an older
// CPython one warning line, and the plug-ins share the lock as without the option.
TEST_F(Icdhost, TheOwnGilIsolationTakesEffectOrFallsBackOnTheSharedLockWithOneWarningLine) {
    std::ofstream(_workDir / "lock_probe.py")
        << "try:\n"
           "    import _testsinglephase\n"
           "    print('lock: shared')\n"
           "except ImportError as error:\n"
           "    print('lock: own' if 'subinterpreters' in str(error) else 'lock: shared')\n"
           "class ProxyPluginObject:\n"
           "    pass\n";
    for (const char* mode : {"own-gil", "shared"}) {
        EXPECT_EQ(runIcdhost(_workDir, std::string("--icd icd/bus_b.xml --script lock_probe.py ") +
                                           "--isolation " + mode + " -c plugins"),
                  0);
        const std::string out = readFile(_workDir / ".out"), err = readFile(_workDir / ".err");
        const bool own = PPP_OWN_LOCK_POSSIBLE && std::string(mode) == "own-gil";
        EXPECT_NE(out.find(own ? "\nlock: own\n" : "\nlock: shared\n"), std::string::npos)
            << mode << "\n"
            << out;
        if (PPP_OWN_LOCK_POSSIBLE || std::string(mode) == "shared") {
            EXPECT_EQ(err, "") << mode;
        } else {
            EXPECT_THAT(err, ::testing::MatchesRegex(
                                 "ProxyPythonPlugin: isolation own-gil needs CPython 3.12 or "
                                 "later \\(this is 3\\.[0-9]+\\.[0-9]+[^)]*\\): the plug-ins "
                                 "share one interpreter lock\n"));
        }
    }
    // An unknown mode in the environment: one line, and the shared lock.
    const char* previous = std::getenv("PROXYPLUGIN_ISOLATION");
    const std::string kept = previous != nullptr ? previous : "";
    setenv("PROXYPLUGIN_ISOLATION", "own", 1);
    const int status =
        runIcdhost(_workDir, "--icd icd/bus_b.xml --script lock_probe.py -c plugins");
    previous != nullptr ? setenv("PROXYPLUGIN_ISOLATION", kept.c_str(), 1)
                        : unsetenv("PROXYPLUGIN_ISOLATION");
    EXPECT_EQ(status, 0);
    EXPECT_NE(readFile(_workDir / ".out").find("\nlock: shared\n"), std::string::npos);
    EXPECT_EQ(readFile(_workDir / ".err"),
              "ProxyPythonPlugin: PROXYPLUGIN_ISOLATION=own is neither own-gil nor shared: the "
              "plug-ins share one interpreter lock\n");
}

// Run from the script's own folder, a script named without a folder still has one: the help
// page is written beside it and set-up reports nothing.
TEST_F(Icdhost, AScriptNamedWithoutAFolderHasItsHelpPageWrittenBesideIt) {
    EXPECT_EQ(
        runIcdhost(_workDir / "scripts", "--icd ../icd/bus_b.xml --script second.py -c plugins"),
        0);
    EXPECT_EQ(readFile(_workDir / ".err"), "");
    EXPECT_NE(readFile(_workDir / ".out").find("wrote ProxyPluginObject.html"), std::string::npos)
        << readFile(_workDir / ".out");
    EXPECT_TRUE(fs::exists(_workDir / "scripts" / "ProxyPluginObject.html"));
}

// icdhost at its prompt on a pseudo-terminal in `workDir`, its history kept in workDir/history;
// its standard output goes to `outputFile` instead when one is named.
class PromptSession {
public:
    explicit PromptSession(const fs::path& workDir, const fs::path& outputFile = {}) {
        _pid = forkpty(&_terminal, nullptr, nullptr, nullptr);
        if (_pid == 0) {
            if (!outputFile.empty()) {
                FILE* output = fopen(outputFile.c_str(), "w");
                if (output == nullptr || dup2(fileno(output), STDOUT_FILENO) < 0) {
                    _exit(126);
                }
            }
            unsetenv("PYTHONUNBUFFERED");
            setenv("TERM", "dumb", 1);
            setenv("ICDHOST_HISTORY", (workDir / "history").c_str(), 1);
            if (chdir(workDir.c_str()) == 0) {
                execl(kIcdhost.c_str(), "icdhost", "--icd", "icd/bus_b.xml", "--script",
                      "scripts/dialogs.py", nullptr);
            }
            _exit(127);
        }
    }
    bool started() const { return _pid > 0; }

    // Types `keys`, then reads until `expected` appears after them (30 s at most).
    void typeThenSee(const std::string& keys, const std::string& expected) {
        const std::size_t mark = screen.size();
        EXPECT_EQ(write(_terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        char buffer[1024];
        pollfd fd = {_terminal, POLLIN, 0};
        while (screen.find(expected, mark) == std::string::npos && poll(&fd, 1, 30000) > 0) {
            const ssize_t n = read(_terminal, buffer, sizeof buffer);
            screen.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            if (n <= 0)
                break;
        }
        EXPECT_NE(screen.find(expected, mark), std::string::npos) << expected << "\n" << screen;
    }

    // Ctrl-D at the prompt; true when icdhost then ended with status 0. `seen`: what icdhost
    // prints on the terminal at its end (nothing when its output goes to a file).
    bool endWithCtrlD(const std::string& seen = "destroying plugin") {
        // A Ctrl-D reaching the terminal before the line editor makes it raw would be dropped.
        termios mode{};
        for (int wait = 0;
             wait < 3000 && tcgetattr(_terminal, &mode) == 0 && (mode.c_lflag & ICANON); ++wait) {
            usleep(10000);
        }
        typeThenSee("\x04", seen);
        int status = 0;
        const bool ended = waitpid(_pid, &status, 0) == _pid;
        close(_terminal);
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string screen;

private:
    int _terminal = -1;
    pid_t _pid = -1;
};

TEST_F(Icdhost, ThePromptRunsTypedCommandsAsksDialogsAtTheTerminalAndEndsOnCtrlD) {
    PromptSession first(_workDir);
    ASSERT_TRUE(first.started());
    first.typeThenSee("", "icdhost> ");
    // Each step waits for the next prompt: keys typed ahead of the prompt may be flushed.
    first.typeThenSee("ech\t completed\r", "\r\ncompleted\r\nicdhost> ");  // Tab completes
    first.typeThenSee("action 1\r",
                      "dialog: messageBox : Proceed?\r\n"
                      "  buttons: 1 OK\r\n"
                      "answer (end of input cancels): ");
    first.typeThenSee("5\r", "dialogs: messageBox -> 5\r\nicdhost> ");
    EXPECT_TRUE(first.endWithCtrlD()) << first.screen;

    // The next session starts with the commands of the last one: Up twice recalls the echo.
    PromptSession second(_workDir);
    ASSERT_TRUE(second.started());
    second.typeThenSee("", "icdhost> ");
    second.typeThenSee("\x1b[A\x1b[A\r", "\r\ncompleted\r\nicdhost> ");
    EXPECT_TRUE(second.endWithCtrlD()) << second.screen;
}

// A dialog opened by an event callable on its bridge's thread reads its answer through the
// prompt's line editor: the whole typed line is the answer, and none of it is run as a command.
TEST_F(Icdhost, ADialogOpenedOnABridgeThreadTakesTheWholeLineTypedAtThePrompt) {
    PromptSession session(_workDir);
    ASSERT_TRUE(session.started());
    session.typeThenSee("", "icdhost> ");
    session.typeThenSee("event 5\r",
                        "dialog: inputBox Event: Name for event\r\n"
                        "answer (end of input cancels): ");
    session.typeThenSee("alice\r", "dialogs: event 5 -> 'alice'");
    session.typeThenSee("sync\r", "icdhost> ");
    // A dialog arriving while a command is being typed: the command is kept for after it.
    session.typeThenSee("event 6\r", "icdhost> ");
    session.typeThenSee("ech", "ech");
    session.typeThenSee("",
                        "dialog: inputBox Event: Name for event\r\n"
                        "answer (end of input cancels): ");
    session.typeThenSee("bob\r", "dialogs: event 6 -> 'bob'");
    session.typeThenSee("o after\r", "after\r\nicdhost> ");
    EXPECT_TRUE(session.endWithCtrlD()) << session.screen;
    EXPECT_EQ(session.screen.find("unknown command"), std::string::npos) << session.screen;
}

// Standard input alone decides: with standard output in a file, the prompt and the dialog are
// drawn on the terminal, and the commands' output goes to the file.
TEST_F(Icdhost, ThePromptStaysOnTheTerminalWhenStandardOutputIsAFile) {
    PromptSession session(_workDir, _workDir / "output.txt");
    ASSERT_TRUE(session.started());
    session.typeThenSee("", "icdhost> ");
    session.typeThenSee("action 2\r",
                        "dialog: inputBox Name: Who are you?\r\n"
                        "answer (end of input cancels): ");
    session.typeThenSee("Ada\r", "icdhost> ");
    session.typeThenSee("echo to the file\r", "icdhost> ");
    EXPECT_TRUE(session.endWithCtrlD("\r\n")) << session.screen;
    EXPECT_EQ(session.screen.find("\nto the file"), std::string::npos) << session.screen;
    const std::string output = readFile(_workDir / "output.txt");
    EXPECT_NE(output.find("dialog: inputBox Name: Who are you?\ndialogs: inputBox -> 'Ada'\n"
                          "to the file\n"),
              std::string::npos)
        << output;
}

// The type stub lists the functions of the built library's method table in its order, each
// docstring starting with the function's own documentation. The table's layout is CPython's
// PyMethodDef, read here without building against Python.
TEST(ModuleStub, MatchesTheMethodTableOfTheBuiltLibrary) {
    struct MethodEntry {
        const char* name;
        void* function;
        int flags;
        const char* doc;
    };
    void* library =
        dlopen((std::string(PPP_LIBRARY_DIR) + "/libProxyPythonPlugin.so").c_str(), RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    auto methods =
        reinterpret_cast<MethodEntry* (*)()>(dlsym(library, "ProxyPluginPyModule_methods"));
    ASSERT_NE(methods, nullptr);
    std::string table, stub;
    for (MethodEntry* entry = methods(); entry->name != nullptr; ++entry) {
        table += std::string(entry->name) + ": " + entry->doc + "\n";
    }
    const std::string text = readFile(fs::path(PPP_EXAMPLES_DIR) / "../pymodule/proxyplugin.pyi");
    const std::regex def("\ndef (\\w+)\\([\\s\\S]*?\n    \"\"\"([^\n\"]*)");
    for (std::sregex_iterator it(text.begin(), text.end(), def), end; it != end; ++it) {
        stub += (*it)[1].str() + ": " + (*it)[2].str() + "\n";
    }
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 21);
    EXPECT_EQ(stub, table);
}

}  // namespace
