// A script calls the 21 functions of module proxyplugin thousands of times each with generated
// arguments (tests/data/hostile/fuzz_module.py). Nothing crashes, no exception reaches the
// script, no error stays pending, every result is a documented one and everything printed is a
// documented report. Then the host drives the plug-in with whatever the script left registered.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "PluginHarness.h"
#include "QtInterpreter.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace {

using namespace std::chrono_literals;

constexpr int kCallsPerFunction = 3000 / harness::kSlowdown;

// What the plug-in itself may print on standard error (the Python reports went to the script's
// collector): refused callables, failed encoder lookups and failing transcoders.
const std::vector<std::regex>& pluginReports() {
    static const std::vector<std::regex> patterns = {
        std::regex(
            R"( Failed to setCallbackByRef\. (0x[0-9a-f]+|\(nil\)) is not a callable object\.)"),
        std::regex(R"(setEncoding Error::No Message named .*)"),
        std::regex(R"(setEncoding Error::No Field named .* in Message named .*)"),
        std::regex(R"(ERROR: (encode|decode) returns python errors)"),
        std::regex(R"(ERROR: (encode|decode) returns none object)"),
        std::regex(R"(ERROR: return value out of range)"),
        std::regex(R"(ERROR: transcoder called again from within a Python encode or decode)"),
        std::regex(R"(File ".*", line -?[0-9]+, in .*)"),
        std::regex(R"(<class '[\w.]+'>: .*)"),
        // Event callables the fuzzing installed may still run on a bridge thread after the script
        // put its own sys.stderr back: their raising is reported with a whole traceback.
        std::regex(R"(Traceback \(most recent call last\):)"),
        std::regex(R"(\s+.*|)"),
        std::regex(R"(((\w+\.)*HostileError|TypeError|SystemExit|KeyboardInterrupt)(: .*)?)"),
    };
    return patterns;
}

// Every action of the tree, depth first.
void collectActions(ICDPluginAction* action, std::vector<ICDPluginAction*>& all) {
    if (action == nullptr) {
        return;
    }
    all.push_back(action);
    for (ICDPluginAction* child : action->getChildren()) {
        collectActions(child, all);
    }
}

TEST(ModuleFunctionFuzzing, GeneratedCallsNeverRaiseIntoTheScriptAndReportOnlyWhatIsDocumented) {
    Watchdog watchdog("module function fuzzing", 110s);
    ICDHandler* hostile = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
    ICDHandler* other = harness::loadHandler(harness::dataPath("hostile", "other_bus.xml"));
    ASSERT_NE(hostile, nullptr);
    ASSERT_NE(other, nullptr);
    harness::ScratchDir scripts;
    QtInterpreterDialogs::setInteractive(false);
    QtInterpreterDialogs::clearAnswers();

    ProxyPythonPlugin bystander("ProxyPythonPlugin?");
    ProxyPythonPlugin fuzzed("ProxyPythonPlugin?");
    {
        CaptureOutput setUpOutput;
        harness::setUp(&bystander, scripts.copy("hostile", "bystander.py"), {other});
        harness::setUp(&fuzzed, scripts.copy("hostile", "fuzz_module.py"), {hostile});
        ASSERT_EQ(setUpOutput.err(), "");
    }
    PySession* session = fuzzed.getSession();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(harness::run(session, "OTHER_ID = '" + bystander.getInterface()->getIdentifier() +
                                          "'\nOTHER_KEY = '" +
                                          ProxyPythonPlugin::handlerKeyOf(other) + "'"));

    CaptureOutput output;
    const bool ran =
        harness::run(session, "fuzz(" + std::to_string(kCallsPerFunction) + ", 20240601)");
    const bool idle = ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s);
    const bool finished = harness::run(session, "finish()");
    output.stop();

    ASSERT_TRUE(ran) << output.err().substr(0, 4000);
    ASSERT_TRUE(finished);
    EXPECT_TRUE(idle);
    EXPECT_FALSE(harness::errorPending(session));
    EXPECT_EQ(harness::evalText(session, "summary['escaped']"), "[]");
    EXPECT_EQ(harness::evalText(session, "summary['results']"), "[]");
    EXPECT_EQ(harness::evalText(session, "summary['reports']"), "[]");
    EXPECT_EQ(harness::evalInteger(session, "len(summary['calls'])"), 21);
    EXPECT_EQ(harness::evalInteger(session, "min(summary['calls'].values())"), kCallsPerFunction);
    const std::vector<std::string> unexpected =
        harness::unexpectedLines(output.err(), pluginReports());
    EXPECT_TRUE(unexpected.empty()) << harness::joined(unexpected);

    // The host goes on with what the script left: start, actions, dictionary actions, events,
    // every field encoded and decoded, stop. It only has to survive, with nothing left pending.
    CaptureOutput afterwards;
    fuzzed.start();
    for (unsigned int id = 0; id < 8; ++id) {
        fuzzed.onPluginAction(id);
    }
    std::vector<ICDPluginAction*> actions;
    for (unsigned int index = 0; index < fuzzed.getPluginActionSize(); ++index) {
        collectActions(fuzzed.getPluginAction(index), actions);
    }
    {
        PySession::Use use(session);
        for (ICDPluginAction* action : actions) {
            if (action->getActionKind() == ACTION_KIND_DICTIONARY) {
                ICDDictionary output;
                action->execute(ICDDictionary(), &output);
                action->help();
            }
        }
    }
    for (unsigned int event : {1u, 5u, 3000u, 2147483648u}) {
        hostile->deliverICDEvent(event, 0);
    }
    for (ICDMessage* message : hostile->messages()) {
        for (ICDGenericMessageField* field : message->fields()) {
            field->encode();
            if (field->getDataType() == ICD_TYPE_STRING) {
                field->decodeText("raw");
            } else {
                field->decode(42, false);
                field->decode(~0ULL, true);
            }
        }
    }
    fuzzed.stop();
    EXPECT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s));
    afterwards.stop();
    EXPECT_FALSE(harness::errorPending(session));
    EXPECT_EQ(harness::evalInteger(session, "6 * 7"), 42);
}

}  // namespace
