// Start-up and shut-down: options, ICD files, the plug-in library, several plug-ins and ICDs,
// and scripts that fail.
#include "IcdhostChild.h"

namespace icdhost_test {
namespace {

class Startup : public IcdhostTest {};

TEST_F(Startup, ABadIcdFileStopsBeforeAnyPluginIsCreatedWithStatusTwo) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"icd/malformed.xml", "icdhost: icd/malformed.xml:5: malformed XML"},
        {"icd/duplicate_field.xml", "icdhost: icd/duplicate_field.xml:5: duplicate field name"},
        {"icd/unknown_type.xml", "icdhost: icd/unknown_type.xml:4: unknown type name"},
        {"icd/bad_value.xml", "icdhost: icd/bad_value.xml:4: bad value"},
        {"icd/missing.xml", "icdhost: icd/missing.xml: "},
    };
    for (const auto& [file, start] : cases) {
        // The good ICD before the bad one is not enough: nothing starts.
        ChildResult result = run({"--icd", "icd/bus_a.xml", "--icd", file, "--script",
                                  "scripts/probe.py", "-c", "echo never"});
        EXPECT_EQ(result.status, 2) << file;
        EXPECT_EQ(result.out, "") << file;
        EXPECT_EQ(result.err.rfind(start, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

TEST_F(Startup, APluginLibraryThatDoesNotLoadOrLacksEntryPointsGivesStatusTwo) {
    ChildResult missing = run({"--icd", "icd/bus_a.xml", "--script", "scripts/probe.py", "--plugin",
                               "no/such/libplugin.so", "-c", "echo never"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(
        missing.err.rfind("icdhost: cannot load the plug-in library no/such/libplugin.so: ", 0), 0u)
        << missing.err;

    const std::string hostLibrary = std::string(PPP_LIBRARY_DIR) + "/libICDHandler.so";
    ChildResult wrong = run({"--icd", "icd/bus_a.xml", "--script", "scripts/probe.py", "--plugin",
                             hostLibrary, "-c", "echo never"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, "icdhost: the plug-in library " + hostLibrary +
                             " has no entry point getPluginAPIVersion\n");
}

TEST_F(Startup, TheDefaultPluginLibraryIsTheOneBuiltBesideIcdhost) {
    const std::string builtLibrary = std::string(PPP_LIBRARY_DIR) + "/libProxyPythonPlugin.so";
    ChildResult byDefault =
        run({"--icd", "icd/bus_b.xml", "--script", "scripts/second.py", "-c", "plugins"});
    ChildResult named = run({"--icd", "icd/bus_b.xml", "--script", "scripts/second.py", "--plugin",
                             builtLibrary, "-c", "plugins"});
    EXPECT_EQ(byDefault.status, 0) << byDefault.err;
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(normalise(byDefault.out), normalise(named.out));
}

TEST_F(Startup, UsageErrorsGiveStatusTwoAndHelpAndVersionZero) {
    ChildResult noScript = run({"--icd", "icd/bus_a.xml", "-c", "echo never"});
    EXPECT_EQ(noScript.status, 2);
    EXPECT_NE(noScript.err.find("--script is required"), std::string::npos) << noScript.err;

    ChildResult both = run({"--icd", "icd/bus_a.xml", "--script", "scripts/probe.py", "--run",
                            "scenarios/commands.icdhost", "-c", "echo never"});
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.out, "");

    ChildResult noFile = run({"--icd", "icd/bus_a.xml", "--script", "scripts/probe.py", "--run",
                              "scenarios/missing.icdhost"});
    EXPECT_EQ(noFile.status, 2);
    EXPECT_EQ(noFile.out, "");
    EXPECT_EQ(noFile.err, "icdhost: cannot read the command file scenarios/missing.icdhost\n");

    ChildResult help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--icd", "--script", "--plugin", "--run", "-c", "--trace",
                               "--sync-timeout", "--help", "--version"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }

    ChildResult version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "icdhost 4.0.0\n");
}

TEST_F(Startup, AScriptThatFailsOrIsMissingNeverTakesIcdhostDown) {
    runAndCompare({"--icd", "icd/bus_a.xml", "--script", "scripts/raises.py", "--script",
                   "scripts/missing.py", "--run", "scenarios/failing_scripts.icdhost"},
                  "failing_scripts", 0);
}

}  // namespace
}  // namespace icdhost_test
