// Where the embedded CPython takes its standard library from and what sys.executable names: the
// installation whose libpython the library was built against (and runs on), never whatever
// "python3" comes first on PATH; a virtual environment made from that installation adds its
// site-packages.
#pragma once

#include <string>

namespace interpreter_detail {

struct RuntimeLocation {
    std::string home;        // "prefix" or "prefix:exec_prefix"; empty: CPython searches
    std::string executable;  // sys.executable; empty: CPython searches
    std::string warning;     // one line for standard error, or empty
};

// `home` and `interpreter`: the installation's prefix and interpreter, known when the library
// was built; `virtualEnv`: the folder VIRTUAL_ENV names, or empty. A virtual environment counts
// when its pyvenv.cfg names the installation's interpreter folder as its home: sys.executable is
// then its interpreter, from which the site module takes sys.prefix and its site-packages
// (include-system-site-packages honoured). Any other one is ignored, with a warning saying why.
// An installation whose standard library is no longer where it was built is left to CPython's
// own search.
RuntimeLocation chooseRuntimeLocation(const std::string& home, const std::string& interpreter,
                                      const std::string& virtualEnv);

}  // namespace interpreter_detail
