// Reading a whole file into memory: ICD files for the host library, scripts for the interpreter
// library. Internal to the project, never installed.
#pragma once

#include <cerrno>
#include <cstdio>
#include <string>

namespace icdhost_text {

enum class FileRead { Done, CannotOpen, CannotRead };

// Appends the whole file at `path` to `contents`, bytes as they are. On failure tells which step
// failed, with errno's value then in `cause`; what was read before a read error stays appended.
inline FileRead readWholeFile(const std::string& path, std::string& contents, int& cause) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        cause = errno;
        return FileRead::CannotOpen;
    }
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        contents.append(buffer, count);
    }
    const bool failed = std::ferror(file) != 0;
    cause = errno;
    std::fclose(file);
    return failed ? FileRead::CannotRead : FileRead::Done;
}

}  // namespace icdhost_text
