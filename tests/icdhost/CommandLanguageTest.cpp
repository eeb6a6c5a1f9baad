// The command language: every command, its errors, where commands come from, and exit statuses.
#include "IcdhostChild.h"

namespace icdhost_test {
namespace {

class CommandLanguage : public IcdhostTest {
protected:
    std::vector<std::string> twoPluginsOnTwoIcds(std::vector<std::string> more) {
        std::vector<std::string> args = {"--icd",         "icd/bus_a.xml",    "--icd",
                                         "icd/bus_b.xml", "--script",         "scripts/probe.py",
                                         "--script",      "scripts/second.py"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
};

TEST_F(CommandLanguage, EveryCommandDoesWhatItSaysAndPrintsInOrder) {
    runAndCompare(twoPluginsOnTwoIcds({"--run", "scenarios/commands.icdhost"}), "commands", 0);
}

TEST_F(CommandLanguage, EachWrongCommandPrintsOneNumberedLineAndTheNextCommandsStillRun) {
    runAndCompare(twoPluginsOnTwoIcds({"--run", "scenarios/errors.icdhost"}), "errors", 1);
}

TEST_F(CommandLanguage, DashCSeparatesCommandsByNewlinesAndSemicolonsOutsideQuotes) {
    ChildResult result = run(twoPluginsOnTwoIcds(
        {"-c", "echo one; echo \"two; three\"\necho four;bogus ; echo five # a; comment"}));
    EXPECT_EQ(result.status, 1);
    std::string out = normalise(result.out);
    EXPECT_NE(out.find("one\ntwo; three\nfour\nfive\n"), std::string::npos) << out;
    EXPECT_EQ(result.err, "icdhost: line 4: unknown command 'bogus' (help lists the commands)\n");
}

TEST_F(CommandLanguage, RunDashReadsStandardInputUntilQuit) {
    ChildResult result =
        run(twoPluginsOnTwoIcds({"--run", "-"}), "echo from stdin\nquit\necho never printed\n");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("from stdin\n"), std::string::npos);
    EXPECT_EQ(result.out.find("never printed"), std::string::npos);
}

TEST_F(CommandLanguage, WithoutRunOrDashCCommandsComeFromStandardInputThatIsNotATerminal) {
    ChildResult result = run(twoPluginsOnTwoIcds({}), "plugins\nbogus\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("0 PROBE 4.0.0\n1 SECOND 4.0.0\n"), std::string::npos);
    EXPECT_EQ(result.err, "icdhost: line 2: unknown command 'bogus' (help lists the commands)\n");
    EXPECT_EQ(result.out.find("icdhost> "), std::string::npos);
}

TEST_F(CommandLanguage, HelpListsEveryCommandOfTheLanguage) {
    ChildResult result = run(twoPluginsOnTwoIcds({"-c", "help"}));
    EXPECT_EQ(result.status, 0) << result.err;
    for (const char* usage : {"start ",
                              "stop ",
                              "plugin N",
                              "icd N",
                              "plugins ",
                              "actions ",
                              "action ID",
                              "exec ID [KEY=VALUE ...]",
                              "help [ID]",
                              "event N [DATA]",
                              "set MSG.FIELD VALUE",
                              "decode MSG.FIELD RAW [signed]",
                              "get MSG.FIELD",
                              "hold MSG.FIELD",
                              "release MSG.FIELD",
                              "answer VALUE",
                              "sync ",
                              "sleep MS",
                              "echo WORDS...",
                              "quit "}) {
        EXPECT_NE(result.out.find("\n" + std::string(usage)), std::string::npos) << usage;
    }
}

TEST_F(CommandLanguage, SyncThatTimesOutFailsAndLaterCommandsSeeTheEventFinish) {
    ChildResult result =
        run({"--icd", "icd/bus_a.xml", "--script", "scripts/slow_events.py", "--sync-timeout",
             "200", "-c", "event 1; sync; echo after the timeout; sleep 2500; sync; echo done"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "icdhost: line 2: sync: events still pending after 200 ms\n");
    std::string out = normalise(result.out);
    EXPECT_NE(out.find("after the timeout\nslow: event 1 done\ndone\n"), std::string::npos) << out;
}

TEST_F(CommandLanguage, TraceShowsEveryCallThePluginMakesIntoTheHostLibrary) {
    runAndCompare({"--icd", "icd/bus_a.xml", "--script", "scripts/probe.py", "--trace", "-c",
                   "action 9; sync; action 2; exec 6 x=1"},
                  "trace", 0);
}

TEST_F(CommandLanguage, ExitStatusIsZeroOnlyWhenEveryCommandSucceeded) {
    std::vector<std::string> base = {"--icd", "icd/bus_b.xml", "--script", "scripts/second.py"};
    auto withCommands = [&](const char* commands) {
        std::vector<std::string> args = base;
        args.insert(args.end(), {"-c", commands});
        return args;
    };
    EXPECT_EQ(run(withCommands("echo fine; plugins")).status, 0);
    EXPECT_EQ(run(withCommands("get ALARM.nope; echo fine")).status, 1);
    EXPECT_EQ(run(withCommands("echo \"unterminated")).status, 1);
    // A refused reservation is a result, not a wrong command.
    EXPECT_EQ(run(withCommands("set ALARM.id 5; hold ALARM.id; hold ALARM.id")).status, 0);
}

}  // namespace
}  // namespace icdhost_test
