// Checked states of actions: exclusive within a group, independent under a menu.
#include <gtest/gtest.h>

#include <vector>

#include "ICDPluginAction.h"

namespace {

TEST(CheckedActions, AnExclusiveGroupKeepsAtMostOneCheckedAndAMenuKeepsThemIndependent) {
    for (const bool group : {true, false}) {
        ICDPluginAction parent(10, "parent", group ? ACTION_TYPE_EX_GROUP : ACTION_TYPE_MENU,
                               ACTION_KIND_MENU, nullptr);
        ICDPluginAction a(11, "a", ACTION_TYPE_CHECKABLE, ACTION_KIND_MENU, &parent);
        ICDPluginAction b(12, "b", ACTION_TYPE_CHECKABLE, ACTION_KIND_MENU, &parent);
        parent._children = {&a, &b};
        auto set = [&](ICDPluginAction& action, bool checked) {
            action.setChecked(checked);
            return std::vector<bool>{a.getChecked(), b.getChecked()};
        };
        EXPECT_EQ(set(a, true), (std::vector<bool>{true, false})) << group;
        EXPECT_EQ(set(b, true), (std::vector<bool>{!group, true})) << group;
        // In a group, clearing any member clears them all.
        EXPECT_EQ(set(a, false), (std::vector<bool>{false, !group})) << group;
    }
}

}  // namespace
