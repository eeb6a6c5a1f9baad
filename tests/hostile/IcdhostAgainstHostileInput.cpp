// icdhost and its host library against hostile input: malformed ICD files are refused with a clear
// error; hostile scripts never take icdhost down: it runs the whole scenario, reports what the
// script did and shuts down normally.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/hostile/PluginHarness.h"

namespace {

class IcdhostAgainstHostileInput : public ::testing::Test {
protected:
    void SetUp() override {
        // Scripts run from a copy: the plug-in writes its help page beside them.
        std::filesystem::copy(harness::dataPath("hostile", ""), workDir.path(),
                              std::filesystem::copy_options::recursive);
    }

    harness::ScratchDir workDir;
};

// Malformed ICD files the host library's own tests do not load: each is refused with one error line
// naming the file, the line and the fault. icdhost's own tests show it stops on such an error.
TEST_F(IcdhostAgainstHostileInput, MalformedIcdFilesAreRefusedWithFileLineAndReason) {
    const std::string field = "<icd name=\"BAD\">\n<message name=\"M\">\n<field name=\"f\" type=";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "1: malformed XML"},
        {std::string("\0\xff\xfe binary \x01", 12), "1: malformed XML"},
        {"<icd name=\"ONE\"/>\n<icd name=\"TWO\"/>\n", "2: "},
        {"<icd name=\"BAD\" busClockPeriod=\"-5\"/>", "1: bad busClockPeriod \"-5\""},
        {"<icd name=\"BAD\">\n<message/>\n</icd>\n", "2: missing attribute \"name\" on <message>"},
        {field + "\"uint\" value=\"-1\"/>\n</message>\n</icd>\n", "3: bad value \"-1\""},
        {field + "\"double\" value=\"1.5x\"/>\n</message>\n</icd>\n", "3: bad value \"1.5x\""},
    };
    for (const auto& [content, reason] : cases) {
        const std::string path = workDir.write("bad.xml", content);
        std::string error;
        EXPECT_EQ(ICDHandler::load(path, &error), nullptr) << content;
        EXPECT_EQ(error.rfind(path + ":" + reason, 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

// Each script fails, ends itself, recurses, rebinds itself or runs threads while icdhost drives
// every kind of callable (actions 11 to 14 switch fails_everywhere.py's way of failing).
TEST_F(IcdhostAgainstHostileInput, HostileScriptsNeverTakeItDownAndAreReported) {
    const std::string registering = harness::readFile(workDir.path() + "ends_at_load.py");
    workDir.write("ends_exit.py", registering + "sys.exit(3)\n");
    workDir.write("ends_raise.py", registering + "raise SystemExit('load')\n");
    workDir.write("ends_interrupt.py", registering + "raise KeyboardInterrupt\nprint('on')\n");
    // Errors printed while sys.stderr refuses to write, then once it is gone, reach icdhost's.
    workDir.write("no_stderr.py",
                  harness::readFile(workDir.path() + "fails_everywhere.py") +
                      "class Refusing:\n    def write(self, text):\n"
                      "        raise OSError\n    flush = write\n\n"
                      "pp.setStopCallback(ID, lambda: exec('del sys.stderr') or fail('gone'))\n"
                      "sys.stderr = Refusing()\n");
    const std::string everyCallable =
        "start\naction 1\nexec 7 a=1\nevent 5\nsync\nset STATUS.int 5\ndecode STATUS.int 10\n"
        "set STATUS.text hello\ndecode STATUS.text \"RAW\"\nset STATUS.text again\nsleep "
        "200\nstop\n";
    // The script, then what must be found on standard error.
    const std::vector<std::vector<std::string>> cases = {
        {"fails_everywhere.py", "HostileError: start", "SystemExit: action",
         "SystemExit: dictionary action", "KeyboardInterrupt: event",
         "<class 'SystemExit'>: encode", "<class 'KeyboardInterrupt'>: decode"},
        {"ends_exit.py", "SystemExit: 3"},
        {"ends_raise.py", "SystemExit: load"},
        {"ends_interrupt.py", "KeyboardInterrupt"},
        {"excepthook_exits.py", "Error in sys.excepthook:", "SystemExit: 9",
         "Original exception was:", "AttributeError: wrong args: must be name [string]",
         "ValueError: start refuses"},
        {"no_stderr.py", "HostileError: start", "HostileError: gone"},
        {"recursion_through_host.py", "RecursionError"},
        {"recursion_without_end.py", "Exception in thread", "RecursionError"},
        {"rebinds_while_running.py",
         "<class 'AttributeError'>: 'ForgettingCoder' object has no attribute 'encode'"},
        // Its threads are still running when icdhost ends.
        {"spawns_threads.py"},
    };
    for (const auto& test : cases) {
        std::string scenario = everyCallable;
        if (test[0] == "fails_everywhere.py") {
            scenario = "action 11\n" + scenario + "action 12\n" + scenario + "action 13\n" +
                       scenario + "action 14\n" + scenario;
        }
        workDir.write("scenario.icdhost", scenario + "echo survived\n");
        harness::ChildResult result = harness::runIcdhost(
            {"--icd", "hostile_bus.xml", "--script", test[0], "--run", "scenario.icdhost"},
            workDir.path());
        // 1 when a command of the scenario failed (an action the script never added): never a
        // crash, a hang nor an exit the script chose.
        EXPECT_TRUE(result.status == 0 || result.status == 1)
            << test[0] << ": status " << result.status << "\n"
            << result.err.substr(0, 3000);
        EXPECT_NE(result.out.find("\nsurvived\n"), std::string::npos) << test[0];
        EXPECT_NE(result.out.find("destroying plugin"), std::string::npos) << test[0];
        // What a script registered before it ended itself while loading stays.
        EXPECT_EQ(result.out.find("\nends_at_load: started\n") != std::string::npos,
                  test[0].rfind("ends_", 0) == 0)
            << test[0];
        EXPECT_EQ(result.out.find("\non\n"), std::string::npos) << test[0];
        EXPECT_EQ(result.err.find("no recursion limit"), std::string::npos) << test[0];
        for (std::size_t i = 1; i < test.size(); ++i) {
            EXPECT_NE(result.err.find(test[i]), std::string::npos)
                << test[0] << ": " << test[i] << "\n"
                << result.err.substr(0, 3000);
        }
    }
}

// _thread.interrupt_main() from every kind of callable, on the host's thread and on a bridge
// thread, does nothing: no crash, no KeyboardInterrupt nor "Signal 2 ignored" later, and the
// process keeps its own SIGINT disposition; signal.signal() in a plug-in is still refused.
TEST_F(IcdhostAgainstHostileInput, InterruptMainFromAnyCallableDoesNothing) {
    workDir.write("scenario.icdhost",
                  "start\naction 1\nevent 5\nsync\nset STATUS.int 5\ndecode STATUS.int 10\n"
                  "stop\naction 1\necho survived\n");
    harness::ChildResult result = harness::runIcdhost(
        {"--icd", "hostile_bus.xml", "--script", "interrupts_main.py", "--run", "scenario.icdhost"},
        workDir.path());
    EXPECT_EQ(result.status, 0) << result.err.substr(0, 3000);
    EXPECT_NE(result.out.find("\nsurvived\n"), std::string::npos);
    EXPECT_NE(result.out.find("destroying plugin"), std::string::npos);
    for (const char* where : {"start", "action", "event", "encode", "decode", "stop"}) {
        EXPECT_NE(result.err.find(std::string("interrupt_main: ") + where + " went on"),
                  std::string::npos)
            << where << "\n"
            << result.err;
    }
#if PY_VERSION_HEX >= 0x03090000
    // Before 3.9 CPython lets a sub-interpreter on the main thread set handlers; the script does
    // not try it there.
    EXPECT_NE(result.err.find("signal.signal refused: signal only works in main thread"),
              std::string::npos)
        << result.err;
#endif
    EXPECT_NE(result.err.find("process SIGINT handler: None"), std::string::npos) << result.err;
    for (const char* fault : {"Traceback", "KeyboardInterrupt", "Signal 2", "Exception ignored"}) {
        EXPECT_EQ(result.err.find(fault), std::string::npos) << fault << "\n" << result.err;
    }
}

}  // namespace
