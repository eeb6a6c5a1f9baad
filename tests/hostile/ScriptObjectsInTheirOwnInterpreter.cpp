// Two plug-ins on one ICD: any script reaches any bridge through the handler key, so the first
// plug-in's bridge delivers the event callable the second one registered, and a script may
// install an encoder or add an action through another plug-in. Whichever bridge, field or menu
// holds them, every callable, encoder and action body runs, and is released, in the interpreter
// of the script that registered it (tests/data/hostile/shared_icd_objects.py notes any that does
// not). Its objects come from C extension modules whose types belong to one interpreter.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

class ScriptObjectsInTheirOwnInterpreter : public ::testing::Test {
protected:
    void SetUp() override {
        handler = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
        const std::string script = dir.copy("hostile", "shared_icd_objects.py");
        harness::setUp(first.get(), script, {handler});
        harness::setUp(second.get(), script, {handler});
        ASSERT_NE(first->getSession(), nullptr);
        ASSERT_NE(second->getSession(), nullptr);
    }

    void deliverEvents(int from, int count) {
        for (int i = 0; i < count; ++i) {
            handler->deliverICDEvent(static_cast<unsigned int>(from + i), 0);
        }
        ASSERT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(std::chrono::seconds(30)));
    }
    // The dictionary action of `id` in `plugin`'s top-level menu, or null.
    static ICDPluginAction* actionOf(ProxyPythonPlugin* plugin, unsigned int id) {
        for (unsigned int i = 0; i < plugin->getPluginActionSize(); ++i) {
            ICDPluginAction* action = plugin->getPluginAction(i);
            if (action->getId() == id && action->getActionKind() == ACTION_KIND_DICTIONARY) {
                return action;
            }
        }
        return nullptr;
    }
    std::string in(ProxyPythonPlugin* plugin, const std::string& expression) {
        return harness::evalText(plugin->getSession(), expression);
    }

    Watchdog watchdog{"script objects of two plug-ins on one ICD", 100s};
    ICDHandler* handler = nullptr;
    harness::ScratchDir dir;
    std::unique_ptr<ProxyPythonPlugin> first = std::make_unique<ProxyPythonPlugin>("first");
    std::unique_ptr<ProxyPythonPlugin> second = std::make_unique<ProxyPythonPlugin>("second");
};

TEST_F(ScriptObjectsInTheirOwnInterpreter,
       EventCallablesRunWhereTheyWereRegisteredWhicheverBridgeDeliversThem) {
    if (PyMainInterp::ownLocks()) {
        GTEST_SKIP() << "with a lock per interpreter each script reaches its own bridge";
    }
    // The second script's registration went to the first plug-in's bridge and replaced the first
    // script's callable, which was released in its own interpreter.
    EXPECT_EQ(in(first.get(), "registered() is None, released, misplaced"),
              "(True, ['event callable'], [])");
    deliverEvents(1000, 50);
    EXPECT_EQ(in(second.get(), "len(events), events[0], events[-1], misplaced"),
              "(50, ('e1000', '250', 1), ('e1049', '262.25', 50), [])");
    EXPECT_EQ(in(first.get(), "events"), "[]");

    // The first script takes the bridge back: the second script's callable goes in its own.
    ASSERT_TRUE(harness::run(first->getSession(), "register_event_callable()"));
    EXPECT_EQ(in(second.get(), "registered() is None, released, misplaced"),
              "(True, ['event callable'], [])");
    deliverEvents(2000, 10);
    EXPECT_EQ(in(first.get(), "len(events), events[-1], misplaced"),
              "(10, ('e2009', '502.25', 10), [])");
    EXPECT_EQ(in(second.get(), "len(events)"), "50");
}

// With a lock per interpreter a handler key leads each script to its own plug-in's bridge: the
// second registration leaves the first script's callable in place, and every event reaches both.
TEST_F(ScriptObjectsInTheirOwnInterpreter,
       WithALockPerInterpreterEachPluginKeepsItsOwnEventCallableOnOneIcd) {
    if (!PyMainInterp::ownLocks()) {
        GTEST_SKIP() << "the shared lock keeps one bridge per handler key";
    }
    EXPECT_EQ(in(first.get(), "registered() is None, released, misplaced"), "(False, [], [])");
    deliverEvents(1000, 50);
    for (ProxyPythonPlugin* plugin : {first.get(), second.get()}) {
        EXPECT_EQ(in(plugin, "len(events), events[0], events[-1], misplaced"),
                  "(50, ('e1000', '250', 1), ('e1049', '262.25', 50), [])");
    }
    // Registering again replaces only the script's own callable, released where it was made.
    ASSERT_TRUE(harness::run(second->getSession(), "register_event_callable()"));
    EXPECT_EQ(in(second.get(), "released, misplaced"), "(['event callable'], [])");
    EXPECT_EQ(in(first.get(), "registered() is None, released"), "(False, [])");
    deliverEvents(2000, 10);
    EXPECT_EQ(in(first.get(), "len(events), events[-1]"), "(60, ('e2009', '502.25', 60))");
    EXPECT_EQ(in(second.get(), "len(events), events[-1], misplaced"),
              "(60, ('e2009', '502.25', 60), [])");
}

TEST_F(ScriptObjectsInTheirOwnInterpreter, EncodersRunWhereTheyWereInstalledFromAnyHostThread) {
    ASSERT_TRUE(harness::run(second->getSession(),
                             "installed = pp.setEncodingFrom(ID, KEY, 'STATUS', 'double', "
                             "Quarters())"));
    EXPECT_EQ(in(second.get(), "installed"), "True");
    ICDGenericMessageField* field = handler->findMessage("STATUS")->findMessageField("double");
    // From a thread holding nothing, from one holding the other plug-in's session, and from the
    // first plug-in's bridge thread through a commit its event callable makes.
    bool encodedHere = field->setValue(Value(2.5)) && field->encode() && field->getRaw() == 10u;
    bool encodedInFirst = false;
    {
        PySession::Use use(first->getSession());
        encodedInFirst = field->setValue(Value(3.25)) && field->encode() && field->getRaw() == 13u;
    }
    bool decoded = false;
    std::thread([&] {
        decoded = field->decode(22u, false) && field->getValue() == Value(5.5);
    }).join();
    EXPECT_TRUE(encodedHere);
    EXPECT_TRUE(encodedInFirst);
    EXPECT_TRUE(decoded);
    EXPECT_EQ(in(second.get(), "encoded[-2:], buffer.value, misplaced"), "([10, 13], b'3', [])");
    EXPECT_EQ(in(first.get(), "encoded, misplaced"), "([], [])");
}

TEST_F(ScriptObjectsInTheirOwnInterpreter,
       ActionsAndLifecycleCallablesRunWhereTheyWereRegisteredWhicheverPluginHoldsThem) {
    // The second script registers through the first plug-in's identifier.
    const std::string firstId = "'" + first->getInterface()->getIdentifier() + "'";
    ASSERT_TRUE(harness::run(second->getSession(), "added = pp.addCallableAction(" + firstId +
                                                       ", 40, 'sum', summed)\n"
                                                       "pp.setStartCallback(" +
                                                       firstId +
                                                       ", lambda: at_home('start') or True)\n"
                                                       "pp.setOnPluginActionCallback(" +
                                                       firstId + ", lambda n: at_home('menu'))"));
    first->start();
    first->onPluginAction(7);
    EXPECT_TRUE(first->isRunning());
    ICDPluginAction* action = actionOf(first.get(), 40);
    ASSERT_NE(action, nullptr);
    ICDDictionary input;
    input.setLong("a", 2);
    input.setDouble("b", 0.5);
    ICDDictionary output;
    bool executed = false;
    std::string help;
    {
        // As a host runs a plug-in's action: inside that plug-in's session.
        PySession::Use use(first->getSession());
        executed = action->execute(input, &output);
        help = action->help();
    }
    ICDDictionary fromNoSession;
    const bool executedAgain = action->execute(input, &fromNoSession);
    EXPECT_TRUE(executed);
    EXPECT_TRUE(executedAgain);
    EXPECT_EQ(output.values(), fromNoSession.values());
    EXPECT_EQ(output.getString("total"), "2.5");
    EXPECT_EQ(output.getString("buffer"), "2.5");
    EXPECT_EQ(help, "Sums its values as decimals.");
    EXPECT_EQ(in(second.get(), "added, misplaced"), "(True, [])");
}

}  // namespace

namespace {

// Threads of both scripts replace the first plug-in's start callable while the host's thread runs
// it: each run reads the callable and its session as one pair (with a lock per interpreter the two
// scripts run at the same time, and a torn pair would run one interpreter's object in the other).
TEST_F(ScriptObjectsInTheirOwnInterpreter,
       AStartCallableReplacedFromTwoInterpretersAtOnceRunsWhereItWasRegistered) {
    const std::string firstId = "'" + first->getInterface()->getIdentifier() + "'";
    const std::string replacer =
        "import threading\n"
        "def replace():\n"
        "    for _ in range(3000):\n"
        "        pp.setStartCallback(" +
        firstId +
        ", lambda: at_home('start') or True)\n"
        "replace()\n"
        "replacer = threading.Thread(target=replace)\n"
        "replacer.start()\n";
    ASSERT_TRUE(harness::run(first->getSession(), replacer));
    ASSERT_TRUE(harness::run(second->getSession(), replacer));
    int started = 0;
    for (int i = 0; i < 3000; ++i) {
        started += first->getInterface()->start() ? 1 : 0;
    }
    ASSERT_TRUE(harness::run(first->getSession(), "replacer.join()"));
    ASSERT_TRUE(harness::run(second->getSession(), "replacer.join()"));
    EXPECT_EQ(started, 3000);
    EXPECT_EQ(in(first.get(), "misplaced"), "[]");
    EXPECT_EQ(in(second.get(), "misplaced"), "[]");
}

}  // namespace
