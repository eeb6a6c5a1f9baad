// The per-script registry object: identifiers and their lookup, start and stop results, and the
// actions a script adds with their types, parents and checked states.
#include <gtest/gtest.h>

#include <regex>

#include "CaptureOutput.h"
#include "ScriptFixture.h"

namespace {

TEST(ScriptIdentifiers, AreNumberedPerProcessAndFoundOnlyByAnExactMatch) {
    ScriptFixture first;
    ScriptFixture second;
    const std::regex shape("proxyplugin#([0-9]+)@[0-9A-F]{16}");
    std::smatch a, b;
    const std::string idA = first.identifier(), idB = second.identifier();
    ASSERT_TRUE(std::regex_match(idA, a, shape)) << idA;
    ASSERT_TRUE(std::regex_match(idB, b, shape)) << idB;
    EXPECT_EQ(std::stoi(b[1]), std::stoi(a[1]) + 1);

    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(idA), &first.registry());
    EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(idB), &second.registry());
    for (const std::string& near : {"PROXYPLUGIN" + idA.substr(11), idA + " ",
                                    idA.substr(0, idA.size() - 1), std::string()}) {
        EXPECT_EQ(ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(near), nullptr) << near;
    }
}

TEST(ScriptLifecycle, OnlyTrueItselfCountsAsASuccessfulStartOrStop) {
    ScriptFixture script;
    for (const char* value : {"True", "1", "'yes'", "None", "False", "1/0"}) {
        const std::string set = std::string("lambda: ") + value + ")\n";
        ASSERT_TRUE(script.run("pp.setStartCallback(ID, " + set + "pp.setStopCallback(ID, " + set));
        CaptureOutput capture;
        PySession::Use use(script.session());
        EXPECT_EQ(script.registry().start(), value == std::string("True")) << value;
        EXPECT_EQ(script.registry().stop(), value == std::string("True")) << value;
        EXPECT_EQ(PyErr_Occurred(), nullptr);
    }
}

class ScriptActions : public ::testing::Test {
protected:
    ICDPluginAction* topLevel(unsigned int index) { return script.owner().getPluginAction(index); }
    ScriptFixture script;
};

TEST_F(ScriptActions, TypesOtherThanMenuGroupAndCheckableBecomeNormal) {
    ASSERT_TRUE(
        script.run("for i, t in enumerate([0, 1, 2, 3, 4, 5, -1]):\n"
                   "    pp.addSimpleAction(ID, i, 'a%d' % i, t)\n"));
    const ICDPluginActionType expected[] = {
        ACTION_TYPE_NORMAL,    ACTION_TYPE_NORMAL, ACTION_TYPE_MENU,  ACTION_TYPE_EX_GROUP,
        ACTION_TYPE_CHECKABLE, ACTION_TYPE_NORMAL, ACTION_TYPE_NORMAL};
    ASSERT_EQ(script.owner().getPluginActionSize(), 7u);
    for (unsigned int i = 0; i < 7; ++i) {
        EXPECT_EQ(topLevel(i)->getActionType(), expected[i]) << "action " << i;
        EXPECT_EQ(topLevel(i)->getId(), i);
    }
}

TEST_F(ScriptActions, ChildrenGoUnderTheirParentAndAnUnknownParentAddsNothing) {
    CaptureOutput capture;
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 10, 'Tools', pp.ACTION_TYPE_MENU)\n"
                   "pp.addSimpleAction(ID, 11, 'Trace', pp.ACTION_TYPE_CHECKABLE, 10)\n"
                   "pp.addCallableAction(ID, 12, 'Run', lambda: {}, 10)\n"
                   "r = (pp.addSimpleAction(ID, 1, 'orphan', 1, 7),\n"
                   "     pp.addCallableAction(ID, 2, 'orphan', lambda: {}, 12))\n"));
    EXPECT_EQ(capture.err(), "RuntimeError: invalid parent id\nRuntimeError: invalid parent id\n");
    EXPECT_EQ(script.text("r"), "(None, False)");
    ASSERT_EQ(script.owner().getPluginActionSize(), 1u);
    const auto& children = topLevel(0)->getChildren();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0]->getName(), "Trace");
    EXPECT_EQ(children[1]->getActionKind(), ACTION_KIND_DICTIONARY);
    EXPECT_EQ(children[1]->getParent(), topLevel(0));
}

TEST_F(ScriptActions, CheckingRunsStopFirstClearsGroupSiblingsAndRefusesTheRest) {
    ASSERT_TRUE(script.run(
        "calls = []\n"
        "def halt():\n"
        "    calls.append((pp.getChecked(ID, 21), pp.getChecked(ID, 22)))\n"
        "    return True\n"
        "pp.setStopCallback(ID, halt)\n"
        "pp.addSimpleAction(ID, 20, 'Mode', pp.ACTION_TYPE_EX_GROUP)\n"
        "pp.addSimpleAction(ID, 21, 'Fast', pp.ACTION_TYPE_CHECKABLE, 20)\n"
        "pp.addSimpleAction(ID, 22, 'Slow', pp.ACTION_TYPE_CHECKABLE, 20)\n"
        "pp.addSimpleAction(ID, 23, 'Plain', pp.ACTION_TYPE_NORMAL)\n"
        "r = (pp.setChecked(ID, 21, 2), pp.setChecked(ID, 22, 1), pp.setChecked(ID, 23, 1),\n"
        "     pp.setChecked(ID, 20, 1), pp.setChecked(ID, 99, 1))\n"
        "g = (pp.getChecked(ID, 21), pp.getChecked(ID, 22), pp.getChecked(ID, 99))\n"));
    EXPECT_EQ(script.text("r"), "(True, True, False, False, False)");
    EXPECT_EQ(script.text("calls"), "[(False, False), (True, False)]");
    EXPECT_EQ(script.text("g"), "(False, True, None)");
}

TEST_F(ScriptActions, ASecondActionWithAUsedIdIsAttachedButTheFirstKeepsTheId) {
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 30, 'first', pp.ACTION_TYPE_CHECKABLE)\n"
                   "pp.addCallableAction(ID, 30, 'second', lambda: {})\n"
                   "pp.setChecked(ID, 30, 1)\n"));
    ASSERT_EQ(script.owner().getPluginActionSize(), 2u);
    EXPECT_TRUE(topLevel(0)->getChecked());
    EXPECT_EQ(topLevel(1)->getActionKind(), ACTION_KIND_DICTIONARY);
}

}  // namespace
