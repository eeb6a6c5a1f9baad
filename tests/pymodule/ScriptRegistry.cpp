// The per-script registry object: identifiers and lookup, name, start/stop/action callables,
// actions with their types, parents and checked states, and the handler table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "CaptureOutput.h"
#include "ScriptFixture.h"
#include "actions/ProxyPythonPluginAction.h"

using ::testing::HasSubstr;

namespace {

std::string upperHexOf(const void* address) {
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIXPTR, reinterpret_cast<std::uintptr_t>(address));
    return text;
}

int numberOf(const std::string& identifier) {
    const std::size_t hash = identifier.find('#');
    return std::stoi(identifier.substr(hash + 1, identifier.find('@') - hash - 1));
}

TEST(ScriptIdentifiers, AreNumberedPerProcessAndEndInTheirOwnersAddress) {
    ScriptFixture first;
    ScriptFixture second;

    const std::regex shape("proxyplugin#[0-9]+@[0-9A-F]{16}");
    EXPECT_TRUE(std::regex_match(first.identifier(), shape)) << first.identifier();
    EXPECT_TRUE(std::regex_match(second.identifier(), shape)) << second.identifier();
    EXPECT_EQ(numberOf(second.identifier()), numberOf(first.identifier()) + 1);
    EXPECT_EQ(first.identifier().substr(first.identifier().find('@') + 1),
              upperHexOf(&first.owner()));
    EXPECT_EQ(second.identifier().substr(second.identifier().find('@') + 1),
              upperHexOf(&second.owner()));
    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(first.identifier()),
              &first.registry());
    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(second.identifier()),
              &second.registry());
}

TEST(ScriptIdentifiers, OnlyAnExactMatchFindsAnInterface) {
    ScriptFixture script;
    const std::string id = script.identifier();
    std::string shouted = id;
    shouted.replace(0, 11, "PROXYPLUGIN");

    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(shouted), nullptr);
    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(id + " "), nullptr);
    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(id.substr(0, id.size() - 1)),
              nullptr);
    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(""), nullptr);
}

TEST(ScriptName, IsTheIdentifierUntilTheScriptSetsOne) {
    ScriptFixture script;
    EXPECT_EQ(script.registry().getName(), script.identifier());

    ASSERT_TRUE(script.run("pp.setName(ID, 'Navigation tools')\n"));

    EXPECT_EQ(script.registry().getName(), "Navigation tools");
    EXPECT_EQ(script.registry().getIdentifier(), script.identifier());
}

class Lifecycle : public ::testing::Test {
protected:
    bool startReturning(const std::string& value) {
        EXPECT_TRUE(script.run("pp.setStartCallback(ID, lambda: " + value + ")\n"));
        PySession::Use use(script.session());
        return script.registry().start();
    }
    ScriptFixture script;
};

TEST_F(Lifecycle, OnlyTrueItselfCountsAsASuccessfulStart) {
    EXPECT_TRUE(startReturning("True"));
    EXPECT_FALSE(startReturning("1"));
    EXPECT_FALSE(startReturning("'yes'"));
    EXPECT_FALSE(startReturning("None"));
    EXPECT_FALSE(startReturning("False"));
}

TEST_F(Lifecycle, StartAndStopWithoutCallablesFailQuietly) {
    CaptureOutput capture;
    bool started = true;
    bool stopped = true;
    {
        PySession::Use use(script.session());
        started = script.registry().start();
        stopped = script.registry().stop();
    }
    EXPECT_FALSE(started);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(capture.err(), "");
}

TEST_F(Lifecycle, ARaisingStopIsPrintedAndFails) {
    ASSERT_TRUE(
        script.run("def halt():\n    raise RuntimeError('bus stuck')\n"
                   "pp.setStopCallback(ID, halt)\n"));
    CaptureOutput capture;
    bool stopped = true;
    {
        PySession::Use use(script.session());
        stopped = script.registry().stop();
        EXPECT_EQ(PyErr_Occurred(), nullptr);
    }
    EXPECT_FALSE(stopped);
    EXPECT_THAT(capture.err(), HasSubstr("RuntimeError: bus stuck"));
}

TEST_F(Lifecycle, AnActionRequestPassesTheIdAsASigned32BitInt) {
    ASSERT_TRUE(script.run("seen = []\npp.setOnPluginActionCallback(ID, seen.append)\n"));
    {
        PySession::Use use(script.session());
        script.registry().onPluginAction(7);
        script.registry().onPluginAction(0xFFFFFFFFu);
        script.registry().onPluginAction(0x80000000u);
    }
    EXPECT_EQ(script.text("seen"), "[7, -1, -2147483648]");
}

TEST_F(Lifecycle, ARaisingActionCallableIsPrintedAndLeavesNothingPending) {
    ASSERT_TRUE(
        script.run("def act(i):\n    raise ValueError('no action %d' % i)\n"
                   "pp.setOnPluginActionCallback(ID, act)\n"));
    CaptureOutput capture;
    {
        PySession::Use use(script.session());
        script.registry().onPluginAction(4);
        EXPECT_EQ(PyErr_Occurred(), nullptr);
    }
    EXPECT_THAT(capture.err(), HasSubstr("ValueError: no action 4"));
}

TEST_F(Lifecycle, ARefusedCallableKeepsThePreviousOne) {
    ASSERT_TRUE(script.run("pp.setStartCallback(ID, lambda: True)\n"));
    CaptureOutput capture;
    ASSERT_TRUE(script.run("r = pp.setStartCallback(ID, 5)\n"));
    const std::string err = capture.err();
    EXPECT_TRUE(script.truth("r is None"));
    EXPECT_THAT(err, HasSubstr("ReferenceError: Object passed as argument is not a callable one"));
    EXPECT_THAT(err, HasSubstr(" Failed to setCallbackByRef. 0x"));
    PySession::Use use(script.session());
    EXPECT_TRUE(script.registry().start());
}

class Actions : public ::testing::Test {
protected:
    ICDPluginAction* topLevel(unsigned int index) { return script.owner().getPluginAction(index); }
    unsigned int topLevelCount() { return script.owner().getPluginActionSize(); }
    ScriptFixture script;
};

TEST_F(Actions, TypesOtherThanMenuGroupAndCheckableBecomeNormal) {
    ASSERT_TRUE(
        script.run("for i, t in enumerate([0, 1, 2, 3, 4, 5, -1]):\n"
                   "    pp.addSimpleAction(ID, i, 'a%d' % i, t)\n"));

    ASSERT_EQ(topLevelCount(), 7u);
    const ICDPluginActionType expected[] = {
        ACTION_TYPE_NORMAL,    ACTION_TYPE_NORMAL, ACTION_TYPE_MENU,  ACTION_TYPE_EX_GROUP,
        ACTION_TYPE_CHECKABLE, ACTION_TYPE_NORMAL, ACTION_TYPE_NORMAL};
    for (unsigned int i = 0; i < 7; ++i) {
        EXPECT_EQ(topLevel(i)->getActionType(), expected[i]) << "action " << i;
        EXPECT_EQ(topLevel(i)->getActionKind(), ACTION_KIND_MENU);
        EXPECT_EQ(topLevel(i)->getId(), i);
        EXPECT_EQ(topLevel(i)->getName(), "a" + std::to_string(i));
        EXPECT_EQ(topLevel(i)->getParent(), nullptr);
    }
}

TEST_F(Actions, AChildGoesUnderItsParentAndNotToThePlugin) {
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 10, 'Tools', pp.ACTION_TYPE_MENU)\n"
                   "pp.addSimpleAction(ID, 11, 'Trace', pp.ACTION_TYPE_CHECKABLE, 10)\n"
                   "pp.addCallableAction(ID, 12, 'Run', lambda: {}, 10)\n"));

    ASSERT_EQ(topLevelCount(), 1u);
    ICDPluginAction* tools = topLevel(0);
    ASSERT_EQ(tools->getChildren().size(), 2u);
    EXPECT_EQ(tools->getChildren()[0]->getName(), "Trace");
    EXPECT_EQ(tools->getChildren()[0]->getParent(), tools);
    EXPECT_EQ(tools->getChildren()[1]->getName(), "Run");
    EXPECT_EQ(tools->getChildren()[1]->getActionKind(), ACTION_KIND_DICTIONARY);
    EXPECT_EQ(tools->getChildren()[1]->getParent(), tools);
}

TEST_F(Actions, AnUnknownParentIsReportedAndNothingIsAdded) {
    CaptureOutput capture;
    ASSERT_TRUE(
        script.run("r1 = pp.addSimpleAction(ID, 1, 'orphan', 1, 7)\n"
                   "r2 = pp.addCallableAction(ID, 2, 'orphan', lambda: {}, 7)\n"));
    const std::string err = capture.err();

    EXPECT_TRUE(script.truth("r1 is None and r2 is False"));
    EXPECT_EQ(topLevelCount(), 0u);
    EXPECT_EQ(err, "RuntimeError: invalid parent id\nRuntimeError: invalid parent id\n");
    PySession::Use use(script.session());
    PyRef checked = PyRef::steal(script.registry().getChecked(1));
    EXPECT_EQ(checked.get(), Py_None);
}

TEST_F(Actions, ParentIdsOfZeroOrBelowMeanTopLevel) {
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 1, 'zero', 1, 0)\n"
                   "pp.addSimpleAction(ID, 2, 'minus', 1, -1)\n"
                   "pp.addSimpleAction(ID, 3, 'default', 1)\n"));
    EXPECT_EQ(topLevelCount(), 3u);
}

TEST_F(Actions, ACallableActionIsNeitherAParentNorCheckable) {
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 5, 'simple', pp.ACTION_TYPE_CHECKABLE)\n"
                   "pp.addCallableAction(ID, 5, 'callable', lambda: {})\n"
                   "pp.addCallableAction(ID, 6, 'body', lambda: {})\n"));
    CaptureOutput capture;
    ASSERT_TRUE(
        script.run("r = pp.addSimpleAction(ID, 7, 'under body', 1, 6)\n"
                   "c = pp.setChecked(ID, 5, 1)\n"));

    EXPECT_THAT(capture.err(), HasSubstr("RuntimeError: invalid parent id"));
    EXPECT_TRUE(script.truth("c is True"));
    ASSERT_EQ(topLevelCount(), 3u);
    EXPECT_TRUE(topLevel(0)->getChecked());  // id 5 still names the simple action
    EXPECT_EQ(topLevel(1)->getActionKind(), ACTION_KIND_DICTIONARY);
}

TEST_F(Actions, ACallableActionWithANonCallableIsReportedButStillAdded) {
    CaptureOutput capture;
    ASSERT_TRUE(script.run("r = pp.addCallableAction(ID, 8, 'broken', 42)\n"));
    const std::string err = capture.err();

    EXPECT_TRUE(script.truth("r is True"));
    EXPECT_THAT(err, HasSubstr("ReferenceError: Object passed as argument is not a callable one"));
    EXPECT_THAT(err, HasSubstr(" Failed to setCallbackByRef. 0x"));
    ASSERT_EQ(topLevelCount(), 1u);
    auto* action = dynamic_cast<ProxyPythonPluginAction*>(topLevel(0));
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->getCallable(), nullptr);
}

TEST_F(Actions, ASecondActionWithAUsedIdIsAttachedButTheFirstKeepsTheId) {
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 30, 'first', pp.ACTION_TYPE_CHECKABLE)\n"
                   "pp.addSimpleAction(ID, 30, 'second', pp.ACTION_TYPE_CHECKABLE)\n"
                   "pp.setChecked(ID, 30, 1)\n"));

    ASSERT_EQ(topLevelCount(), 2u);
    EXPECT_TRUE(topLevel(0)->getChecked());
    EXPECT_FALSE(topLevel(1)->getChecked());
}

class CheckedStates : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            script.run("calls = []\n"
                       "def halt():\n"
                       "    calls.append(('stop', pp.getChecked(ID, 21), pp.getChecked(ID, 22)))\n"
                       "    return True\n"
                       "pp.setStopCallback(ID, halt)\n"
                       "pp.addSimpleAction(ID, 20, 'Mode', pp.ACTION_TYPE_EX_GROUP)\n"
                       "pp.addSimpleAction(ID, 21, 'Fast', pp.ACTION_TYPE_CHECKABLE, 20)\n"
                       "pp.addSimpleAction(ID, 22, 'Slow', pp.ACTION_TYPE_CHECKABLE, 20)\n"
                       "pp.addSimpleAction(ID, 23, 'Plain', pp.ACTION_TYPE_NORMAL)\n"));
    }
    ScriptFixture script;
};

TEST_F(CheckedStates, CheckingRunsTheStopCallableFirstThenSetsTheState) {
    ASSERT_TRUE(script.run("r = pp.setChecked(ID, 21, 2)\n"));

    EXPECT_TRUE(script.truth("r is True"));
    EXPECT_EQ(script.text("calls"), "[('stop', False, False)]");
    EXPECT_TRUE(script.truth("pp.getChecked(ID, 21) is True"));
}

TEST_F(CheckedStates, CheckingInAnExclusiveGroupClearsTheSiblings) {
    ASSERT_TRUE(script.run("pp.setChecked(ID, 21, 1)\npp.setChecked(ID, 22, 1)\n"));

    EXPECT_TRUE(script.truth("pp.getChecked(ID, 21) is False"));
    EXPECT_TRUE(script.truth("pp.getChecked(ID, 22) is True"));
    EXPECT_EQ(script.text("calls[-1]"), "('stop', True, False)");
}

TEST_F(CheckedStates, NonCheckableOrUnknownActionsAreRefusedWithoutCallingStop) {
    ASSERT_TRUE(
        script.run("r = (pp.setChecked(ID, 23, 1), pp.setChecked(ID, 20, 1),\n"
                   "     pp.setChecked(ID, 99, 1))\n"
                   "g = (pp.getChecked(ID, 23), pp.getChecked(ID, 99))\n"));

    EXPECT_EQ(script.text("r"), "(False, False, False)");
    EXPECT_EQ(script.text("g"), "(None, None)");
    EXPECT_EQ(script.text("calls"), "[]");
}

TEST(HandlerTable, ASecondBridgeUnderAKnownKeyIsStartedButNotReachable) {
    ScriptFixture script;
    const std::string key = script.attachHandler("FIRST");
    ProxyPluginPyHandlerInterface* first = ProxyPluginPyInterface::findHandlerInterface(key);
    ASSERT_NE(first, nullptr);

    ICDHandler* other = new ICDHandler("OTHER", "other.xml", 500);
    ProxyPluginPyHandlerInterface* second = nullptr;
    ASSERT_TRUE(script.run("second_events = []\n"));
    {
        PySession::Use use(script.session());
        second = new ProxyPluginPyHandlerInterface(other, script.session());
        PyRef callable = script.eval("second_events.append");
        PyRef stored = PyRef::steal(second->setOnConsumeICDEvent(callable.get()));
    }
    script.registry().addHandlerInterface(key, second);
    other->sendICDEvent(5001);  // delivered only if init started the second bridge's thread
    ASSERT_TRUE(second->waitUntilIdle(std::chrono::seconds(10)));

    EXPECT_EQ(ProxyPluginPyInterface::findHandlerInterface(key), first);
    EXPECT_EQ(script.registry().getHandlerInterface(key), first);
    EXPECT_EQ(script.text("second_events"), "[5001]");
}

TEST(HandlerTable, AnUnknownKeyFindsNothing) {
    EXPECT_EQ(ProxyPluginPyInterface::findHandlerInterface("0000000000000000"), nullptr);
    EXPECT_EQ(ProxyPluginPyInterface::findHandlerInterface(""), nullptr);
}

TEST(DetachedPlugin, TopLevelActionsAreRefusedWithoutTouchingThePlugin) {
    ScriptFixture script;
    ASSERT_TRUE(script.run("pp.addSimpleAction(ID, 1, 'Menu', pp.ACTION_TYPE_MENU)\n"));
    const unsigned int before = script.owner().getPluginActionSize();
    script.registry().detachPlugin();

    CaptureOutput capture;
    ASSERT_TRUE(
        script.run("r1 = pp.addSimpleAction(ID, 2, 'late', 1)\n"
                   "r2 = pp.addCallableAction(ID, 3, 'late', lambda: {})\n"
                   "r3 = pp.addSimpleAction(ID, 4, 'child', 1, 1)\n"));
    const std::string err = capture.err();

    EXPECT_TRUE(script.truth("r1 is None and r2 is False and r3 is None"));
    EXPECT_EQ(err,
              "RuntimeError: the plug-in object of this script has been deleted\n"
              "RuntimeError: the plug-in object of this script has been deleted\n");
    EXPECT_EQ(script.owner().getPluginActionSize(), before);
    EXPECT_EQ(script.registry().getPlugin(), nullptr);
}

}  // namespace
