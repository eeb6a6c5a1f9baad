// Operating-system services of the interpreter library: the symbol scope of the loaded CPython
// library and the few file-system questions asked before CPython starts. The only file of this
// library a Windows build replaces (RuntimePlatform.cpp).
#pragma once

#include <string>

namespace interpreter_platform {

// Re-opens the already loaded shared library that contains `address` with global symbol scope
// (RTLD_NOLOAD | RTLD_GLOBAL), so that libraries loaded after it (CPython's extension modules,
// which do not link libpython) find its symbols whatever flags the host loaded us with. The
// library stays loaded until the process ends. False when `address` is in no loaded library or
// the re-open failed; `error` then says why. Windows: nothing to do (imports are explicit).
bool makeLibraryGlobal(const void* address, std::string* error);

// The canonical absolute path of an existing file or folder (symbolic links resolved); empty when
// it does not exist.
std::string canonicalPath(const std::string& path);

bool isRegularFile(const std::string& path);

// The value of an environment variable; empty when unset.
std::string environmentValue(const char* name);

}  // namespace interpreter_platform
