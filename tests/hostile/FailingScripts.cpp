// Scripts that fail in every way a script can: an exception, sys.exit(), a raised SystemExit, a
// KeyboardInterrupt; in every kind of callable the plug-in calls (start, stop, plug-in action,
// event, dictionary action, encoder and decoder of a numeric and of a text field), while loading,
// in their own sys.excepthook, without a usable sys.stderr, and in an endless recursion through
// the plug-in. The host goes on, each failure is reported and nothing stays pending.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "PluginHarness.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

struct Way {
    std::string how;         // fails_everywhere.py's name for it
    std::string reportedAs;  // the exception's name in a printed traceback
    std::string classRepr;   // repr() of its class, as transcoder reports give it
};

const std::vector<Way> kWays = {
    {"raise", "HostileError", "<class '__main__.HostileError'>"},
    {"exit", "SystemExit", "<class 'SystemExit'>"},
    {"SystemExit", "SystemExit", "<class 'SystemExit'>"},
    {"interrupt", "KeyboardInterrupt", "<class 'KeyboardInterrupt'>"},
};

bool hasLine(const std::string& text, const std::string& line) {
    for (const std::string& candidate : harness::lines(text)) {
        if (candidate == line) {
            return true;
        }
    }
    return false;
}

// Runs `operation` and returns what it printed on standard error.
std::string errorsOf(const std::function<void()>& operation) {
    CaptureOutput output;
    operation();
    return output.err();
}

class FailingScripts : public ::testing::Test {
protected:
    void SetUp() override {
        handler = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
        ASSERT_NE(handler, nullptr);
    }

    // A plug-in running tests/data/hostile/NAME on the hostile ICD; what set-up printed on
    // standard error goes to `loadErrors`.
    std::unique_ptr<ProxyPythonPlugin> makePlugin(const std::string& name) {
        auto plugin = std::make_unique<ProxyPythonPlugin>("ProxyPythonPlugin?");
        CaptureOutput output;
        harness::setUp(plugin.get(), scripts.copy("hostile", name), {handler});
        loadErrors = output.err();
        return plugin;
    }

    ICDGenericMessageField* field(const std::string& name) {
        return handler->findMessage("STATUS")->findMessageField(name);
    }

    ICDHandler* handler = nullptr;
    harness::ScratchDir scripts;
    std::string loadErrors;
};

TEST_F(FailingScripts, EveryKindOfCallableFailingInEveryWayIsReportedAndTheHostGoesOn) {
    Watchdog watchdog("callables failing in every way", 100s);
    auto plugin = makePlugin("fails_everywhere.py");
    PySession* session = plugin->getSession();
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(loadErrors, "");
    ProxyPluginPyHandlerInterface* bridge =
        ProxyPluginPyInterface::findHandlerInterface(ProxyPythonPlugin::handlerKeyOf(handler));
    ASSERT_NE(bridge, nullptr);
    ICDPluginAction* dictionaryAction = plugin->getPluginAction(0);
    ASSERT_NE(dictionaryAction, nullptr);
    ASSERT_EQ(dictionaryAction->getActionKind(), ACTION_KIND_DICTIONARY);

    for (const Way& way : kWays) {
        SCOPED_TRACE(way.how);
        ASSERT_TRUE(harness::run(session, "failure['how'] = '" + way.how + "'"));
        const std::string named = way.reportedAs + ": ";

        EXPECT_TRUE(hasLine(errorsOf([&] { plugin->start(); }), named + "start"));
        EXPECT_FALSE(plugin->isRunning());
        EXPECT_TRUE(hasLine(errorsOf([&] { plugin->stop(); }), named + "stop"));
        EXPECT_TRUE(hasLine(errorsOf([&] { plugin->onPluginAction(1); }), named + "action"));
        // setChecked runs the stop callable; its failure is printed, not raised into the script.
        EXPECT_TRUE(hasLine(errorsOf([&] {
                                EXPECT_TRUE(harness::run(session,
                                                         "assert pp.setChecked(ID, 8, 1) is True"));
                            }),
                            named + "stop"));
        bool executed = true;
        EXPECT_TRUE(hasLine(errorsOf([&] {
                                PySession::Use use(session);
                                ICDDictionary output;
                                executed = dictionaryAction->execute(ICDDictionary(), &output);
                            }),
                            named + "dictionary action"));
        EXPECT_FALSE(executed);
        EXPECT_TRUE(hasLine(errorsOf([&] {
                                handler->deliverICDEvent(5, 0);
                                EXPECT_TRUE(bridge->waitUntilIdle(30s));
                            }),
                            named + "event"));
        EXPECT_EQ(bridge->getLastError(), "event");

        bool converted = true;
        std::string printed = errorsOf(
            [&] { converted = field("int")->setValue(Value(5)) && field("int")->encode(); });
        EXPECT_FALSE(converted);
        EXPECT_TRUE(hasLine(printed, "ERROR: encode returns python errors")) << printed;
        EXPECT_TRUE(hasLine(printed, way.classRepr + ": encode")) << printed;
        printed = errorsOf([&] { converted = field("int")->decode(10, false); });
        EXPECT_FALSE(converted);
        EXPECT_TRUE(hasLine(printed, "ERROR: decode returns python errors")) << printed;
        EXPECT_TRUE(hasLine(printed, way.classRepr + ": decode")) << printed;
        printed = errorsOf([&] {
            converted =
                field("text")->setValue(Value(std::string("hello"))) && field("text")->encode();
        });
        EXPECT_FALSE(converted);
        EXPECT_TRUE(hasLine(printed, way.classRepr + ": encode")) << printed;
        // The text transcoder says "encode" in both directions.
        printed = errorsOf([&] { converted = field("text")->decodeText("RAW"); });
        EXPECT_FALSE(converted);
        EXPECT_TRUE(hasLine(printed, "ERROR: encode returns python errors")) << printed;
        EXPECT_TRUE(hasLine(printed, way.classRepr + ": decode")) << printed;

        EXPECT_FALSE(harness::errorPending(session));
        EXPECT_EQ(harness::evalInteger(session, "6 * 7"), 42);
    }
}

TEST_F(FailingScripts, AScriptThatEndsItselfWhileLoadingKeepsWhatItRegisteredAndTheHostGoesOn) {
    struct Case {
        std::string script;
        std::string name;  // set before the failure
        std::string report;
    };
    const std::vector<Case> cases = {
        {"exits_at_load.py", "EXITS_AT_LOAD", "SystemExit: 3"},
        {"raises_systemexit_at_load.py", "RAISES_SYSTEMEXIT_AT_LOAD", "SystemExit: load"},
        {"interrupted_at_load.py", "INTERRUPTED_AT_LOAD", "KeyboardInterrupt"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.script);
        auto plugin = makePlugin(test.script);
        EXPECT_TRUE(hasLine(loadErrors, test.report)) << loadErrors;
        ASSERT_NE(plugin->getSession(), nullptr);
        EXPECT_EQ(plugin->getName(), test.name);
        ASSERT_GE(plugin->getPluginActionSize(), 1u);
        EXPECT_EQ(plugin->getPluginAction(0)->getId(), 1u);
        CaptureOutput output;
        plugin->start();
        output.stop();
        EXPECT_TRUE(plugin->isRunning());
        EXPECT_NE(output.out().find("_at_load: started"), std::string::npos) << output.out();
        EXPECT_FALSE(harness::errorPending(plugin->getSession()));
    }
}

TEST_F(FailingScripts, AnExcepthookThatExitsNeitherEndsNorHangsTheHostAndErrorsAreStillShown) {
    Watchdog watchdog("an excepthook that exits", 60s);
    auto plugin = makePlugin("excepthook_exits.py");
    EXPECT_TRUE(hasLine(loadErrors, "Error in sys.excepthook:")) << loadErrors;
    EXPECT_TRUE(hasLine(loadErrors, "SystemExit: 9")) << loadErrors;
    EXPECT_TRUE(hasLine(loadErrors, "Original exception was:")) << loadErrors;
    EXPECT_TRUE(hasLine(loadErrors, "AttributeError: wrong args: must be name [string]"))
        << loadErrors;
    EXPECT_EQ(plugin->getName(), "HOOKED");

    const std::string printed = errorsOf([&] { plugin->start(); });
    EXPECT_TRUE(hasLine(printed, "Error in sys.excepthook:")) << printed;
    EXPECT_TRUE(hasLine(printed, "ValueError: start refuses")) << printed;
    EXPECT_FALSE(harness::errorPending(plugin->getSession()));
}

TEST_F(FailingScripts, ErrorsOfAScriptWithoutAUsableStandardErrorAreReportedWithoutHanging) {
    Watchdog watchdog("errors printed without a usable sys.stderr", 60s);
    auto plugin = makePlugin("fails_everywhere.py");
    PySession* session = plugin->getSession();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(harness::run(session,
                             "import sys\n"
                             "class Refusing:\n"
                             "    def write(self, text):\n"
                             "        raise OSError('refused')\n"
                             "    def flush(self):\n"
                             "        raise OSError('refused')\n"));

    // A stream that refuses to write, then none at all: the report reaches the process's own
    // standard error.
    ASSERT_TRUE(harness::run(session, "sys.stderr = Refusing()"));
    EXPECT_TRUE(hasLine(errorsOf([&] { plugin->start(); }), "HostileError: start"));
    ASSERT_TRUE(harness::run(session, "del sys.stderr"));
    EXPECT_TRUE(hasLine(errorsOf([&] { plugin->onPluginAction(1); }), "HostileError: action"));
    // None silences the script's errors, as the interpreter allows.
    ASSERT_TRUE(harness::run(session, "sys.stderr = None"));
    EXPECT_EQ(errorsOf([&] { plugin->stop(); }), "");
    ASSERT_TRUE(harness::run(session, "sys.stderr = sys.__stderr__"));
    EXPECT_TRUE(hasLine(errorsOf([&] { plugin->stop(); }), "HostileError: stop"));
    EXPECT_FALSE(harness::errorPending(session));
}

TEST_F(FailingScripts, EndlessRecursionThroughThePluginEndsInARecursionErrorOnAnyThread) {
    Watchdog watchdog("endless recursion through the plug-in", 60s);
    auto plugin = makePlugin("recursion_through_host.py");
    PySession* session = plugin->getSession();
    ASSERT_NE(session, nullptr);

    std::string printed = errorsOf([&] { plugin->stop(); });
    EXPECT_NE(printed.find("RecursionError"), std::string::npos) << printed.substr(0, 2000);
    EXPECT_GT(harness::evalInteger(session, "depth[0]"), 50);

    // The same on the bridge's thread, whose event callable checks the menu item.
    ASSERT_TRUE(harness::run(session, "depth[0] = 0"));
    printed = errorsOf([&] {
        handler->deliverICDEvent(5, 0);
        EXPECT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(30s));
    });
    EXPECT_NE(printed.find("RecursionError"), std::string::npos) << printed.substr(0, 2000);
    EXPECT_GT(harness::evalInteger(session, "depth[0]"), 50);
    EXPECT_FALSE(harness::errorPending(session));
    EXPECT_EQ(harness::evalInteger(session, "6 * 7"), 42);
}

}  // namespace
