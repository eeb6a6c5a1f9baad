// The object model a host and the plug-in share: a plug-in's action list and its registration on
// a handler, checked states of actions, and the texts a proxy plug-in derives from its inputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ICDHandler.h"
#include "ICDPluginAction.h"
#include "ICDPluginObject.h"
#include "plugin/ProxyPythonPlugin.h"

namespace {

class BarePlugin : public ICDPluginObject {
public:
    BarePlugin() : ICDPluginObject("bare") {}
    void onPluginAction(unsigned int) override {}
    void start() override {}
    void stop() override {}
    void onSetICDHandler(ICDHandler*) override {}
};

ICDPluginAction makeAction(unsigned int id, ICDPluginActionType type,
                           ICDPluginAction* parent = nullptr) {
    return ICDPluginAction(id, "action", type, ACTION_KIND_MENU, parent);
}

TEST(PluginObject, ListsNonNullActionsInAdditionOrderAndGivesNullPastTheEnd) {
    BarePlugin plugin;
    EXPECT_EQ(plugin.getPluginAction(0), nullptr);
    EXPECT_EQ(plugin.getFileName(), "");
    EXPECT_EQ(plugin.getICDHandler(), nullptr);
    EXPECT_EQ(plugin.getVersion(), "");

    ICDPluginAction first = makeAction(1, ACTION_TYPE_NORMAL);
    ICDPluginAction second = makeAction(2, ACTION_TYPE_NORMAL);
    plugin.addPluginAction(&first);
    plugin.addPluginAction(nullptr);
    plugin.addPluginAction(&second);
    ASSERT_EQ(plugin.getPluginActionSize(), 2u);
    EXPECT_EQ(plugin.getPluginAction(0), &first);
    EXPECT_EQ(plugin.getPluginAction(1), &second);
    EXPECT_EQ(plugin.getPluginAction(2), nullptr);
}

TEST(PluginObject, StaysRegisteredOnlyOnTheHandlerSetLastAndUnregistersWhenDeleted) {
    ICDHandler first("FIRST", "first.xml", 1000);
    ICDHandler second("SECOND", "second.xml", 1000);
    auto plugin = std::make_unique<BarePlugin>();
    plugin->setICDHandler(&first);
    plugin->setICDHandler(&second);
    EXPECT_FALSE(first.isRegistered(plugin.get()));
    EXPECT_TRUE(second.isRegistered(plugin.get()));

    plugin.reset();
    EXPECT_EQ(second.registeredUiObjectCount(), 0u);
}

TEST(PluginAction, CheckingAMemberOfAnExclusiveGroupClearsItsCheckableSiblings) {
    ICDPluginAction group = makeAction(10, ACTION_TYPE_EX_GROUP);
    ICDPluginAction a = makeAction(11, ACTION_TYPE_CHECKABLE, &group);
    ICDPluginAction b = makeAction(12, ACTION_TYPE_CHECKABLE, &group);
    ICDPluginAction c = makeAction(13, ACTION_TYPE_CHECKABLE, &group);
    group._children = {&a, &b, &c};
    auto checked = [&] {
        return std::vector<bool>{a.getChecked(), b.getChecked(), c.getChecked()};
    };

    b.setChecked(true);
    EXPECT_EQ(checked(), (std::vector<bool>{false, true, false}));
    c.setChecked(true);
    EXPECT_EQ(checked(), (std::vector<bool>{false, false, true}));
    a.setChecked(false);
    EXPECT_EQ(checked(), (std::vector<bool>{false, false, false}));
}

TEST(PluginAction, CheckableActionsUnderAMenuAreIndependentAndNormalOnesNeverChecked) {
    ICDPluginAction menu = makeAction(20, ACTION_TYPE_MENU);
    ICDPluginAction a = makeAction(21, ACTION_TYPE_CHECKABLE, &menu);
    ICDPluginAction b = makeAction(22, ACTION_TYPE_CHECKABLE, &menu);
    ICDPluginAction normal = makeAction(23, ACTION_TYPE_NORMAL, &menu);
    menu._children = {&a, &b, &normal};

    a.setChecked(true);
    b.setChecked(true);
    normal.setChecked(true);
    a.setChecked(false);
    EXPECT_FALSE(a.getChecked());
    EXPECT_TRUE(b.getChecked());
    EXPECT_FALSE(normal.getChecked());
}

TEST(ProxyPlugin, ScriptDirectoryUsesForwardSlashesAndKeepsTheLastSlash) {
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("C:\\work\\scripts\\demo.py"), "C:/work/scripts/");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("C:\\work/scripts\\demo.py"), "C:/work/scripts/");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("/demo.py"), "/");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("demo.py"), "");
}

TEST(ProxyPlugin, HandlerKeyIsSixteenLowerCaseDigitsWithoutPrefix) {
    const auto* handler = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0x1a2b3c4d50});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(handler), "0000001a2b3c4d50");
    const auto* high = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0xFFFFABCDEF012345});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(high), "ffffabcdef012345");
}

}  // namespace
