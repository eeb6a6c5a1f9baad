// The POSIX side of the interpreter library's platform layer: dlopen scope, paths, environment.
#include "RuntimePlatform.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstdlib>

namespace interpreter_platform {

bool makeLibraryGlobal(const void* address, std::string* error) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        *error = "no loaded library holds the interpreter";
        return false;
    }
    // The file name dladdr gives is the one the library was loaded under, so NOLOAD finds it.
    // The handle is never closed: the reference it holds keeps the library where it is.
    if (dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL) == nullptr) {
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : info.dli_fname;
        return false;
    }
    return true;
}

std::string canonicalPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::string();
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : std::string();
}

}  // namespace interpreter_platform
