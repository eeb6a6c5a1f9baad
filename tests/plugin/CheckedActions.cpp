// Checked states of actions: exclusive within a group, independent under a menu.
#include <gtest/gtest.h>

#include <vector>

#include "ICDPluginAction.h"

namespace {

TEST(CheckedActions, AnExclusiveGroupKeepsAtMostOneCheckedAndAMenuKeepsThemIndependent) {
    for (const ICDPluginActionType parentType : {ACTION_TYPE_EX_GROUP, ACTION_TYPE_MENU}) {
        ICDPluginAction parent(10, "parent", parentType, ACTION_KIND_MENU, nullptr);
        ICDPluginAction a(11, "a", ACTION_TYPE_CHECKABLE, ACTION_KIND_MENU, &parent);
        ICDPluginAction b(12, "b", ACTION_TYPE_CHECKABLE, ACTION_KIND_MENU, &parent);
        ICDPluginAction normal(13, "normal", ACTION_TYPE_NORMAL, ACTION_KIND_MENU, &parent);
        parent._children = {&a, &b, &normal};
        auto set = [&](ICDPluginAction& action, bool checked) {
            action.setChecked(checked);
            return std::vector<bool>{a.getChecked(), b.getChecked(), normal.getChecked()};
        };
        const bool group = parentType == ACTION_TYPE_EX_GROUP;
        EXPECT_EQ(set(a, true), (std::vector<bool>{true, false, false})) << group;
        EXPECT_EQ(set(normal, true), (std::vector<bool>{!group, false, false})) << group;
        EXPECT_EQ(set(b, true), (std::vector<bool>{!group, true, false})) << group;
        // In a group, clearing any member clears them all.
        EXPECT_EQ(set(a, false), (std::vector<bool>{false, !group, false})) << group;
    }
}

}  // namespace
