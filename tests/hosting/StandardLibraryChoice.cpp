// The embedded CPython takes its standard library and extension modules from the installation
// whose libpython runs, and names that installation's interpreter as sys.executable, whatever
// Python comes first on PATH (another installation of the same version here); a virtual
// environment made from that installation adds its site-packages, one made from another is
// ignored with one warning line.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/hosting/HostProbeRun.h"

using hostingtest::runProbe;

namespace {

const std::string kVersionFolder = "python" PPP_PYTHON_VERSION;
const std::string kHome = PPP_PYTHON_HOME;
const std::string kPrefix = kHome.substr(0, kHome.find(':'));
const std::string kExecPrefix =
    kHome.substr(kHome.find(':') == std::string::npos ? 0 : kHome.find(':') + 1);
const std::string kInterpreter = PPP_PYTHON_INTERPRETER;

class StandardLibraryChoice : public ::testing::Test {
protected:
    StandardLibraryChoice() {
        script = dir.copy("hosting", "host_script.py");
        // Another installation of the same version, as CPython recognises one from an
        // interpreter found on PATH: its standard library cannot start an interpreter.
        makeFolders("other/bin");
        makeFolders("other/lib/" + kVersionFolder + "/lib-dynload");
        dir.write("other/lib/" + kVersionFolder + "/os.py", "raise ImportError('another os')\n");
        for (const std::string& name : {std::string("python3"), kVersionFolder}) {
            const std::string path = dir.write("other/bin/" + name, "#!/bin/sh\nexit 1\n");
            ::chmod(path.c_str(), 0755);
        }
        otherFirstOnPath = dir.path() + "other/bin:" + std::string(std::getenv("PATH"));
    }

    void makeFolders(const std::string& relative) {
        std::filesystem::create_directories(dir.path() + relative);
    }
    // A virtual environment as the venv module makes it, made from the interpreter in `home`,
    // with a module of its own in its site-packages.
    std::string makeVirtualEnvironment(const std::string& home) {
        const std::string venv = dir.path() + "venv";
        makeFolders("venv/bin");
        makeFolders("venv/lib/" + kVersionFolder + "/site-packages");
        dir.write("venv/pyvenv.cfg", "home = " + home +
                                         "\ninclude-system-site-packages = false\nversion = " +
                                         PPP_PYTHON_VERSION + "\n");
        std::filesystem::create_symlink(kInterpreter, venv + "/bin/" + kVersionFolder);
        std::filesystem::create_symlink(kVersionFolder, venv + "/bin/python3");
        dir.write("venv/lib/" + kVersionFolder + "/site-packages/venv_marker.py",
                  "WHERE = 'venv'\n");
        return venv;
    }

    testfiles::ScratchDir dir;
    std::string script;
    std::string otherFirstOnPath;
};

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

}  // namespace

TEST_F(StandardLibraryChoice,
       AnotherPythonFirstOnPathLeavesTheStandardLibraryAndExecutableOfTheLibrarysOwn) {
    const hostingtest::ProbeRun run = runProbe(script, "", {{"PATH", otherFirstOnPath}});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.line("prefix"), kPrefix);
    EXPECT_EQ(run.line("executable"), kInterpreter);
    EXPECT_EQ(run.line("stdlib"), kPrefix + "/lib/" + kVersionFolder);
    EXPECT_EQ(run.line("dynload"), kExecPrefix + "/lib/" + kVersionFolder + "/lib-dynload");
    EXPECT_EQ(run.line("module ssl"), "ok");
    EXPECT_EQ(run.err, "");
}

TEST_F(StandardLibraryChoice, AVirtualEnvironmentOfTheSameInstallationAddsItsSitePackages) {
    const std::string venv = makeVirtualEnvironment(folderOf(kInterpreter));
    const hostingtest::ProbeRun run =
        runProbe(script, "", {{"PATH", otherFirstOnPath}, {"VIRTUAL_ENV", venv}});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.line("venv marker"), "venv");
    EXPECT_EQ(run.line("prefix"), venv);
    EXPECT_EQ(run.line("base prefix"), kPrefix);
    EXPECT_EQ(run.line("executable"), venv + "/bin/" + kVersionFolder);
    EXPECT_EQ(run.line("stdlib"), kPrefix + "/lib/" + kVersionFolder);
    EXPECT_EQ(run.line("module ssl"), "ok");
    EXPECT_EQ(run.err, "");
}

TEST_F(StandardLibraryChoice, AVirtualEnvironmentOfAnotherInstallationIsIgnoredWithOneWarningLine) {
    const std::string venv = makeVirtualEnvironment(dir.path() + "other/bin");
    const hostingtest::ProbeRun run = runProbe(script, "", {{"VIRTUAL_ENV", venv}});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.line("venv marker"), "missing");
    EXPECT_EQ(run.line("prefix"), kPrefix);
    EXPECT_EQ(run.line("executable"), kInterpreter);
    EXPECT_EQ(run.err, "ProxyPythonPlugin: virtual environment " + venv + " ignored: made from " +
                           dir.path() + "other/bin, not from " + folderOf(kInterpreter) + "\n");
}
