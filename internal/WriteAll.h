// Writing a whole line to a file descriptor in one go: the host library's trace, icdhost's lines
// and the interpreter library's script lines. Internal to the project, never installed.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace icdhost_text {

// Writes all of `text` with write(2), again after a signal; gives up on any other error, since
// there is nowhere left to report it. One call per line keeps other threads' writes to the same
// file out of the line.
inline void writeAll(int fd, const char* data, std::size_t left) {
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
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

inline void writeAll(int fd, const std::string& text) {
    writeAll(fd, text.data(), text.size());
}

}  // namespace icdhost_text
