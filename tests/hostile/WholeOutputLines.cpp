// What scripts print reaches icdhost's standard output a whole line at a time, even when it is a
// pipe and standard output is not made unbuffered by the environment: lines of the script's threads
// (long, printed in many pieces) and icdhost's own never tear one another, each thread's lines keep
// their order, and the start of a line printed before returning to the host precedes the host's
// next output, as it did unbuffered.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "tests/hostile/PluginHarness.h"

namespace {

constexpr int kHostLines = 300;

// icdhost in `workDir` with `args`, standard output read through a pipe; standard error to .err.
std::string runThroughPipe(const std::string& workDir, const std::string& args) {
    const std::string command = "cd '" + workDir +
                                "' && env -u PYTHONUNBUFFERED timeout -s KILL 90 '" +
                                PPP_RUNTIME_DIR + "/icdhost' " + args + " </dev/null 2>.err";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, count);
    }
    pclose(pipe);
    return out;
}

TEST(WholeOutputLines, ScriptThreadsAndIcdhostNeverTearEachOthersLinesOnAPipe) {
    harness::ScratchDir dir;
    dir.copy("hostile", "hostile_bus.xml");
    dir.copy("hostile", "prints_from_threads.py");
    std::string commands = "action 1";
    for (int i = 0; i < kHostLines; ++i) {
        commands += "; echo host line " + std::to_string(i);
    }
    commands += "; action 2; action 3; echo after";
    const std::string out = runThroughPipe(
        dir.path(), "--icd hostile_bus.xml --script prints_from_threads.py -c '" + commands + "'");

    const std::regex threadLine("t([0-2]) ([0-9]+) (x+) - (y+) end");
    const std::regex hostLine("host line ([0-9]+)");
    std::map<int, int> nextOfThread;  // the number each thread's next line must carry
    int nextHostLine = 0;
    int torn = 0;
    int outOfOrder = 0;
    bool partialThenHost = false;
    std::string firstTorn;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, threadLine)) {
            const int thread = std::stoi(match[1]);
            const bool whole = match[3].length() == 1000 * thread + 10 && match[4].length() == 5000;
            torn += whole ? 0 : 1;
            outOfOrder += std::stoi(match[2]) == nextOfThread[thread] ? 0 : 1;
            nextOfThread[thread] = std::stoi(match[2]) + 1;
        } else if (std::regex_match(line, match, hostLine)) {
            outOfOrder += std::stoi(match[1]) == nextHostLine ? 0 : 1;
            ++nextHostLine;
        } else if (line == "start of a line after") {
            partialThenHost = true;
        } else if (line.find("xxxx") != std::string::npos ||
                   line.find("yyyy") != std::string::npos ||
                   line.find("host line") != std::string::npos ||
                   line.find("start of") != std::string::npos) {
            ++torn;
        } else {
            continue;
        }
        if (torn > 0 && firstTorn.empty()) {
            firstTorn = line.substr(0, 200);
        }
    }
    EXPECT_EQ(torn, 0) << firstTorn;
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(nextHostLine, kHostLines);
    ASSERT_EQ(nextOfThread.size(), 3u);
    for (const auto& [thread, next] : nextOfThread) {
        EXPECT_GE(next, 150) << "thread " << thread;
    }
    EXPECT_TRUE(partialThenHost);
    EXPECT_EQ(harness::readFile(dir.path() + ".err"), "");
}

}  // namespace
