#include "Output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace icdhost {

void printLine(const std::string& text) {
    std::cout << text << std::endl;
}

void printError(const std::string& text) {
    // A line written in one piece cannot be split by another thread's output to the same file.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stderr);
    std::string line = text + "\n";
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void printCommandError(unsigned long lineNumber, const std::string& reason) {
    printError("icdhost: line " + std::to_string(lineNumber) + ": " + reason);
}

}  // namespace icdhost
