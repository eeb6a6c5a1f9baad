// The README's main job: the example plug-in script driven by its scenario.
#include "IcdhostChild.h"

namespace icdhost_test {
namespace {

class ExampleScenario : public IcdhostTest {};

TEST_F(ExampleScenario, RunsAsTheReadmeShowsWithEveryLineInCallOrder) {
    runAndCompare({"--icd", "examples/nav_bus.xml", "--script", "examples/nav_plugin.py", "--run",
                   "examples/nav_scenario.icdhost"},
                  "nav_scenario", 0);
}

TEST_F(ExampleScenario, WritesTheScriptsHelpPageBesideIt) {
    ChildResult result = run({"--icd", "examples/nav_bus.xml", "--script", "examples/nav_plugin.py",
                              "-c", "help 99999"});
    EXPECT_EQ(result.status, 0) << result.err;
    std::string page = readFile(_workDir / "examples" / "ProxyPluginObject.html");
    EXPECT_NE(page.find("Navigation&nbsp;display&nbsp;plug-in."), std::string::npos);
    EXPECT_NE(page.find("convert_altitude"), std::string::npos);
}

}  // namespace
}  // namespace icdhost_test
