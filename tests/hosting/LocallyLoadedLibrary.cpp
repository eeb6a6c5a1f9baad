// The library in a host of its own that loads it with RTLD_NOW | RTLD_LOCAL and links neither it
// nor libpython: scripts import CPython's C extension modules, a host thread holding no
// interpreter runs a script's dictionary action, and the library calls its own functions, not
// the host's functions of the same name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "tests/hosting/HostProbeRun.h"
#include "tests/support/Isolation.h"

using hostingtest::runProbe;
using ::testing::StartsWith;

// With a lock per interpreter an extension module without multi-phase initialisation may refuse
// with CPython's own ImportError, as it would in any such interpreter; never with a missing
// symbol.
TEST(LocallyLoadedLibrary, ScriptsImportEveryCExtensionModuleOfTheStandardLibrary) {
    testfiles::ScratchDir dir;
    const hostingtest::ProbeRun run = runProbe(dir.copy("hosting", "host_script.py"));
    EXPECT_EQ(run.status, 0) << run.err;
    const std::regex refused(
        "ImportError: module _[a-z0-9]+ does not support loading in "
        "subinterpreters");
    for (const char* module : {"decimal", "ctypes", "ssl", "sqlite3", "bz2", "lzma", "asyncio"}) {
        const std::string line = run.line("module " + std::string(module));
        if (isolation::ownLockRequested() && std::regex_match(line, refused)) {
            continue;
        }
        EXPECT_EQ(line, "ok") << run.out;
    }
}

TEST(LocallyLoadedLibrary, AHostThreadHoldingNoInterpreterRunsADictionaryActionAndItsHelp) {
    testfiles::ScratchDir dir;
    const hostingtest::ProbeRun run = runProbe(dir.copy("hosting", "host_script.py"), "Add");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.line("action help"), "Adds a and b.");
    EXPECT_THAT(run.line("action execute"), StartsWith("True in=proxyplugin#0@"));
    EXPECT_THAT(run.line("action execute"), testing::EndsWith(" sum=42"));
}

TEST(LocallyLoadedLibrary, TheLibraryCallsItsOwnFunctionsNotTheHostsOfTheSameName) {
    testfiles::ScratchDir dir;
    const hostingtest::ProbeRun run = runProbe(dir.copy("hosting", "host_script.py"));
    EXPECT_EQ(run.status, 0) << run.err;
    // The host's definition is visible to the dynamic linker, so it could be taken.
    EXPECT_EQ(run.line("host ReplaceAll exported"), "yes");
    EXPECT_EQ(run.line("host ReplaceAll calls"), "0");
}
