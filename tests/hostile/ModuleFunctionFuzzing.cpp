// A script calls the 21 functions of module proxyplugin thousands of times each with generated
// arguments (tests/data/hostile/fuzz_module.py). Nothing crashes, no exception reaches the script,
// no error stays pending, every result and report is a documented one. Then the host drives the
// plug-in with whatever the script left registered.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "QtInterpreter.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;

constexpr int kCallsPerFunction = 10000 / harness::kSlowdown;

TEST(ModuleFunctionFuzzing, GeneratedCallsNeverRaiseIntoTheScriptAndReportOnlyWhatIsDocumented) {
    Watchdog watchdog("module function fuzzing", 110s);
    const std::string icd = harness::dataPath("hostile", "hostile_bus.xml");
    ICDHandler* hostile = harness::loadHandler(icd);
    ICDHandler* other = harness::loadHandler(icd);
    harness::ScratchDir scripts;
    QtInterpreterDialogs::setInteractive(false);
    QtInterpreterDialogs::clearAnswers();
    ProxyPythonPlugin bystander("ProxyPythonPlugin?");
    ProxyPythonPlugin fuzzed("ProxyPythonPlugin?");
    {
        CaptureOutput setUpOutput;
        harness::setUp(&bystander,
                       scripts.write("bystander.py", "class ProxyPluginObject:\n    pass\n"),
                       {other});
        harness::setUp(&fuzzed, scripts.copy("hostile", "fuzz_module.py"), {hostile});
        ASSERT_EQ(setUpOutput.err(), "");
    }
    PySession* session = fuzzed.getSession();
    ASSERT_TRUE(harness::run(session, "OTHER_ID = '" + bystander.getInterface()->getIdentifier() +
                                          "'\nOTHER_KEY = '" +
                                          ProxyPythonPlugin::handlerKeyOf(other) + "'"));

    CaptureOutput output;
    const bool ran = harness::run(session, "fuzz(" + std::to_string(kCallsPerFunction) + ", 7)");
    const bool idle = ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s);
    const bool finished = harness::run(session, "finish()");
    output.stop();
    ASSERT_TRUE(ran) << output.err().substr(0, 4000);
    EXPECT_TRUE(finished && idle);
    EXPECT_FALSE(harness::errorPending(session));
    EXPECT_EQ(harness::evalText(session, "summary['escaped']"), "[]");
    EXPECT_EQ(harness::evalText(session, "summary['results']"), "[]");
    EXPECT_EQ(harness::evalText(session, "summary['reports']"), "[]");
    EXPECT_EQ(harness::evalText(session, "len(summary['calls']), min(summary['calls'].values())"),
              "(23, " + std::to_string(kCallsPerFunction) + ")");
    // What the plug-in itself prints (the Python reports went to the script's collector); event
    // callables may still run on a bridge thread after the script put its sys.stderr back.
    EXPECT_EQ(
        harness::unexpectedLines(
            output.err(),
            {std::regex(R"( Failed to setCallbackByRef\. (0x[0-9a-f]+|\(nil\)) is not a )"
                        R"(callable object\.)"),
             std::regex(R"(setEncoding Error::No (Message|Field) named .*)"),
             std::regex(R"(ERROR: (encode|decode) returns (python errors|none object))"),
             std::regex(R"(ERROR: return value out of range)"),
             std::regex(R"(ERROR: transcoder called again from within a Python encode or )"
                        R"(decode)"),
             std::regex(R"(<class '[\w.]+'>: .*|Traceback \(most recent call last\):)"),
             std::regex(R"(\s+.*|((\w+\.)*HostileError|SystemExit|KeyboardInterrupt)(: .*)?)"),
             std::regex(R"((TypeError|RecursionError)(: .*)?)")}),
        "");

    // The host goes on with what the script left: it only has to survive, nothing left pending.
    CaptureOutput afterwards;
    fuzzed.start();
    for (unsigned int id = 0; id < 8; ++id) {
        fuzzed.onPluginAction(id);
    }
    for (unsigned int event : {1u, 5u, 3000u, 2147483648u}) {
        hostile->deliverICDEvent(event, 0);
    }
    for (ICDMessage* message : hostile->messages()) {
        for (ICDGenericMessageField* field : message->fields()) {
            field->encode();
            field->getDataType() == ICD_TYPE_STRING ? field->decodeText("raw")
                                                    : field->decode(~0ULL, true);
        }
    }
    fuzzed.stop();
    EXPECT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s));
    afterwards.stop();
    EXPECT_FALSE(harness::errorPending(session));
    EXPECT_EQ(harness::evalText(session, "6 * 7"), "42");
}

}  // namespace
