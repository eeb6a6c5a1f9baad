// The actions a script adds, with their types, parents and checked states. Set-up added the help
// action first.
#include <gtest/gtest.h>

#include "tests/plugin/ScriptedPluginSupport.h"

using plugintest::ScriptedPlugin;

TEST(ScriptActions, TypesMapAndASecondActionWithAUsedIdIsAddedButTheFirstKeepsTheId) {
    ScriptedPlugin script;
    ASSERT_TRUE(script.run(
        "for i, t in enumerate([0, 1, 2, 3, 4, 5, -1]):\n    pp.addSimpleAction(ID, i, 'a', t)\n"
        "pp.addCallableAction(ID, 4, 'second', lambda: {})\npp.setChecked(ID, 4, 1)"));
    const ICDPluginActionType expected[] = {
        ACTION_TYPE_NORMAL,    ACTION_TYPE_NORMAL, ACTION_TYPE_MENU,  ACTION_TYPE_EX_GROUP,
        ACTION_TYPE_CHECKABLE, ACTION_TYPE_NORMAL, ACTION_TYPE_NORMAL};
    ASSERT_EQ(script.plugin->getPluginActionSize(), 9u);
    for (unsigned int i = 0; i < 7; ++i) {
        EXPECT_EQ(script.action(i + 1)->getActionType(), expected[i]) << "action " << i;
        EXPECT_EQ(script.action(i + 1)->getId(), i);
    }
    EXPECT_TRUE(script.action(5)->getChecked());
    EXPECT_EQ(script.action(8)->getActionKind(), ACTION_KIND_DICTIONARY);
}

TEST(ScriptActions, ChildrenGoUnderTheirParentAndAnUnknownParentAddsNothing) {
    ScriptedPlugin script;
    CaptureOutput capture;
    ASSERT_TRUE(
        script.run("pp.addSimpleAction(ID, 10, 'Tools', pp.ACTION_TYPE_MENU)\n"
                   "pp.addSimpleAction(ID, 11, 'Trace', pp.ACTION_TYPE_CHECKABLE, 10)\n"
                   "pp.addCallableAction(ID, 12, 'Run', lambda: {}, 10)\n"
                   "r = (pp.addSimpleAction(ID, 1, 'orphan', 1, 7),\n"
                   "     pp.addCallableAction(ID, 2, 'orphan', lambda: {}, 12))"));
    EXPECT_EQ(capture.err(), "RuntimeError: invalid parent id\nRuntimeError: invalid parent id\n");
    EXPECT_EQ(script.text("r"), "(None, False)");
    ASSERT_EQ(script.plugin->getPluginActionSize(), 2u);
    const auto& children = script.action(1)->getChildren();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0]->getName(), "Trace");
    EXPECT_EQ(children[1]->getActionKind(), ACTION_KIND_DICTIONARY);
    EXPECT_EQ(children[1]->getParent(), script.action(1));
}

TEST(ScriptActions, CheckingRunsStopFirstAndKeepsAtMostOneOfAGroupCheckedButMenuItemsFree) {
    ScriptedPlugin script;
    ASSERT_TRUE(script.run(
        "calls = []\ndef halt():\n"
        "    return calls.append((pp.getChecked(ID, 21), pp.getChecked(ID, 22))) or True\n"
        "pp.setStopCallback(ID, halt)\n"
        "pp.addSimpleAction(ID, 20, 'Mode', pp.ACTION_TYPE_EX_GROUP)\n"
        "pp.addSimpleAction(ID, 23, 'Plain', pp.ACTION_TYPE_NORMAL)\n"
        "pp.addSimpleAction(ID, 30, 'View', pp.ACTION_TYPE_MENU)\n"
        "for i in 21, 22, 31, 32:\n"
        "    pp.addSimpleAction(ID, i, 'c', pp.ACTION_TYPE_CHECKABLE, i - i % 10)\n"
        "r = (pp.setChecked(ID, 21, 2), pp.setChecked(ID, 22, 1), pp.setChecked(ID, 23, 1),\n"
        "     pp.setChecked(ID, 20, 1), pp.setChecked(ID, 99, 1))\n"
        "stopped = list(calls)\n"
        "g = (pp.getChecked(ID, 21), pp.getChecked(ID, 22), pp.getChecked(ID, 99))\n"
        "pp.setChecked(ID, 31, 1), pp.setChecked(ID, 32, 1), pp.setChecked(ID, 21, 0)\n"
        "after = [pp.getChecked(ID, i) for i in (21, 22, 31, 32)]"));
    EXPECT_EQ(script.text("r"), "(True, True, False, False, False)");
    EXPECT_EQ(script.text("stopped"), "[(False, False), (True, False)]");
    EXPECT_EQ(script.text("g"), "(False, True, None)");
    // Clearing any member of a group clears them all.
    EXPECT_EQ(script.text("after"), "[False, False, True, True]");
}
