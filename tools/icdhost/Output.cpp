// What icdhost itself prints, each line flushed as soon as it is complete.
#include "Output.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "PyInterpreter.h"
#include "internal/WriteAll.h"

namespace icdhost {

void printLine(const std::string& text) {
    // One write, in turn with the scripts' lines: a script thread printing meanwhile cannot split
    // the line, nor the line a script's.
    std::cout.flush();
    std::fflush(stdout);
    writeOutputLines(STDOUT_FILENO, text + "\n");
}

void printError(const std::string& text) {
    // A line written in one piece cannot be split by another thread's output to the same file.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stderr);
    icdhost_text::writeAll(STDERR_FILENO, text + "\n");
}

void printCommandError(unsigned long lineNumber, const std::string& reason) {
    printError("icdhost: line " + std::to_string(lineNumber) + ": " + reason);
}

}  // namespace icdhost
