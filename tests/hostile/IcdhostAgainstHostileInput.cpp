// icdhost against hostile input. Malformed ICD files of every kind the file format names stop it
// at start-up with status 2 and one error line naming the file and line; hostile scripts never
// take it down: it runs the whole scenario, reports what the script did and shuts down normally.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PluginHarness.h"

namespace {

namespace fs = std::filesystem;
using harness::ChildResult;

class IcdhostAgainstHostileInput : public ::testing::Test {
protected:
    void SetUp() override {
        // Scripts run from a copy: the plug-in writes its help page beside them.
        fs::copy(harness::dataPath("hostile", ""), workDir.path(), fs::copy_options::recursive);
    }

    ChildResult icdhost(const std::vector<std::string>& args) {
        ChildResult result = harness::runChild(std::string(PPP_RUNTIME_DIR) + "/icdhost", args,
                                               workDir.path(), std::chrono::seconds(90));
        EXPECT_FALSE(result.timedOut) << "icdhost hung; output so far:\n"
                                      << result.out << result.err;
        return result;
    }

    harness::ScratchDir workDir;
};

TEST_F(IcdhostAgainstHostileInput, EveryKindOfMalformedIcdFileStopsItWithStatusTwoAndOneLine) {
    // File, then the line and the start of the reason icdhost gives.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"unclosed_tag.xml", "5: malformed XML"},
        {"not_xml.xml", "2: malformed XML"},
        {"empty.xml", "1: malformed XML"},
        {"binary.xml", "1: malformed XML"},
        {"two_roots.xml", "3: "},
        {"duplicate_attribute.xml", "2: duplicate attribute \"name\""},
        {"wrong_root.xml", "2: unknown element <bus>"},
        {"missing_icd_name.xml", "2: missing attribute \"name\" on <icd>"},
        {"missing_message_name.xml", "3: missing attribute \"name\" on <message>"},
        {"missing_field_name.xml", "4: missing attribute \"name\" on <field>"},
        {"duplicate_message.xml", "4: duplicate message name \"M\""},
        {"duplicate_field.xml", "5: duplicate field name \"f\""},
        {"unknown_type.xml", "4: unknown type name \"int128\""},
        {"both_type_and_code.xml", "4: field \"f\" has both"},
        {"neither_type_nor_code.xml", "4: field \"f\" has neither"},
        {"type_code_not_a_number.xml", "4: bad typeCode \"five\""},
        {"value_not_a_number.xml", "4: bad value \"twelve\""},
        {"value_out_of_range.xml", "4: bad value \"70000\""},
        {"value_negative_unsigned.xml", "4: bad value \"-1\""},
        {"value_trailing_garbage.xml", "4: bad value \"1.5x\""},
        {"value_on_codeless_field.xml", "4: bad value \"1\""},
        {"bad_boolean.xml", "3: bad alwaysEnterSession \"yes\""},
        {"bus_clock_negative.xml", "2: bad busClockPeriod \"-5\""},
        {"bus_clock_too_big.xml", "2: bad busClockPeriod \"4294967296\""},
        {"unknown_element.xml", "4: unknown element <signal>"},
        {"unknown_attribute.xml", "4: unknown attribute \"unit\""},
        {"text_in_message.xml", "4: unexpected text"},
        // Not a file at all.
        {"missing.xml", ""},
        {"", ""},
    };
    for (const auto& [file, reason] : cases) {
        const std::string path = "icd/" + file;
        SCOPED_TRACE(path);
        // A good ICD first: nothing of it may start either.
        ChildResult result = icdhost({"--icd", "hostile_bus.xml", "--icd", path, "--script",
                                      "bystander.py", "-c", "echo never"});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        const std::string expected =
            "icdhost: " + path + (reason.empty() || reason[0] > '9' ? ": " : ":") + reason;
        EXPECT_EQ(result.err.rfind(expected, 0), 0u) << result.err;
        EXPECT_EQ(harness::lines(result.err).size(), 1u) << result.err;
        EXPECT_EQ(result.err.back(), '\n');
    }
}

TEST_F(IcdhostAgainstHostileInput, HostileScriptsNeverTakeItDownAndAreReported) {
    struct Case {
        std::string script;
        std::string scenario;
        std::vector<std::string> reports;  // each found somewhere on standard error
    };
    const std::vector<Case> cases = {
        {"fails_everywhere.py",
         "cycle_failures.icdhost",
         {"HostileError: start", "SystemExit: action", "KeyboardInterrupt: event",
          "<class 'SystemExit'>: encode", "<class 'KeyboardInterrupt'>: decode",
          "SystemExit: dictionary action"}},
        {"exits_at_load.py", "drive_everything.icdhost", {"SystemExit: 3"}},
        {"raises_systemexit_at_load.py", "drive_everything.icdhost", {"SystemExit: load"}},
        {"interrupted_at_load.py", "drive_everything.icdhost", {"KeyboardInterrupt"}},
        {"excepthook_exits.py",
         "drive_everything.icdhost",
         {"Error in sys.excepthook:", "SystemExit: 9", "ValueError: start refuses"}},
        {"recursion_through_host.py", "recursion.icdhost", {"RecursionError"}},
        {"rebinds_while_running.py",
         "drive_everything.icdhost",
         {"<class 'AttributeError'>: 'ForgettingCoder' object has no attribute 'encode'"}},
        {"spawns_threads.py", "threads.icdhost", {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.script);
        ChildResult result = icdhost(
            {"--icd", "hostile_bus.xml", "--script", "./" + test.script, "--run", test.scenario});
        // 0, or 1 when a command of the scenario failed (an action the script never added):
        // never a crash (-1) nor an exit the script chose.
        EXPECT_TRUE(result.status == 0 || result.status == 1) << "status " << result.status << "\n"
                                                              << result.err.substr(0, 3000);
        EXPECT_NE(result.out.find("\nsurvived\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("destroying plugin"), std::string::npos) << result.out;
        for (const std::string& report : test.reports) {
            EXPECT_NE(result.err.find(report), std::string::npos) << report << "\n"
                                                                  << result.err.substr(0, 3000);
        }
    }
}

}  // namespace
