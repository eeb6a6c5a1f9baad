// The object model a host and the plug-in share: the action list of a plug-in object, its
// registration on a handler, checked states of actions, and a fresh proxy plug-in.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

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

TEST(PluginObject, StartsWithNoActionsNoFileNoHandlerAndNoVersion) {
    BarePlugin plugin;
    EXPECT_EQ(plugin.getName(), "bare");
    EXPECT_EQ(plugin.getPluginActionSize(), 0u);
    EXPECT_EQ(plugin.getPluginAction(0), nullptr);
    EXPECT_EQ(plugin.getFileName(), "");
    EXPECT_EQ(plugin.getICDHandler(), nullptr);
    EXPECT_EQ(plugin.getVersion(), "");
}

TEST(PluginObject, GivesActionsByIndexInAdditionOrderAndNullPastTheEnd) {
    BarePlugin plugin;
    ICDPluginAction first = makeAction(1, ACTION_TYPE_NORMAL);
    ICDPluginAction second = makeAction(2, ACTION_TYPE_NORMAL);
    plugin.addPluginAction(&first);
    plugin.addPluginAction(nullptr);
    plugin.addPluginAction(&second);
    ASSERT_EQ(plugin.getPluginActionSize(), 2u);
    EXPECT_EQ(plugin.getPluginAction(0), &first);
    EXPECT_EQ(plugin.getPluginAction(1), &second);
    EXPECT_EQ(plugin.getPluginAction(2), nullptr);
    EXPECT_EQ(plugin.getPluginAction(UINT32_MAX), nullptr);
}

TEST(PluginObject, StaysRegisteredOnlyOnTheHandlerSetLastAndUnregistersWhenDeleted) {
    ICDHandler first("FIRST", "first.xml", 1000);
    ICDHandler second("SECOND", "second.xml", 1000);
    auto plugin = std::make_unique<BarePlugin>();
    plugin->setICDHandler(&first);
    EXPECT_TRUE(first.isRegistered(plugin.get()));
    plugin->setICDHandler(&second);
    EXPECT_FALSE(first.isRegistered(plugin.get()));
    EXPECT_TRUE(second.isRegistered(plugin.get()));
    EXPECT_EQ(plugin->getICDHandler(), &second);

    const ICDUiObject* address = plugin.get();
    plugin.reset();
    EXPECT_FALSE(second.isRegistered(address));
    EXPECT_EQ(second.registeredUiObjectCount(), 0u);
}

TEST(PluginAction, OnlyACheckableActionReportsItsCheckedState) {
    ICDPluginAction normal = makeAction(1, ACTION_TYPE_NORMAL);
    normal.setChecked(true);
    EXPECT_FALSE(normal.getChecked());

    ICDPluginAction checkable = makeAction(2, ACTION_TYPE_CHECKABLE);
    EXPECT_FALSE(checkable.getChecked());
    checkable.setChecked(true);
    EXPECT_TRUE(checkable.getChecked());
}

TEST(PluginAction, CheckingAMemberOfAnExclusiveGroupClearsItsCheckableSiblings) {
    ICDPluginAction group = makeAction(10, ACTION_TYPE_EX_GROUP);
    ICDPluginAction a = makeAction(11, ACTION_TYPE_CHECKABLE, &group);
    ICDPluginAction b = makeAction(12, ACTION_TYPE_CHECKABLE, &group);
    ICDPluginAction c = makeAction(13, ACTION_TYPE_CHECKABLE, &group);
    group._children = {&a, &b, &c};

    b.setChecked(true);
    EXPECT_FALSE(a.getChecked());
    EXPECT_TRUE(b.getChecked());
    EXPECT_FALSE(c.getChecked());

    c.setChecked(true);
    EXPECT_FALSE(a.getChecked());
    EXPECT_FALSE(b.getChecked());
    EXPECT_TRUE(c.getChecked());

    a.setChecked(false);
    EXPECT_FALSE(a.getChecked());
    EXPECT_FALSE(b.getChecked());
    EXPECT_FALSE(c.getChecked());
}

TEST(PluginAction, CheckableActionsUnderAMenuAreIndependent) {
    ICDPluginAction menu = makeAction(20, ACTION_TYPE_MENU);
    ICDPluginAction a = makeAction(21, ACTION_TYPE_CHECKABLE, &menu);
    ICDPluginAction b = makeAction(22, ACTION_TYPE_CHECKABLE, &menu);
    menu._children = {&a, &b};

    a.setChecked(true);
    b.setChecked(true);
    EXPECT_TRUE(a.getChecked());
    EXPECT_TRUE(b.getChecked());
    a.setChecked(false);
    EXPECT_FALSE(a.getChecked());
    EXPECT_TRUE(b.getChecked());
}

TEST(ProxyPlugin, IsInertAndVersioned400BeforeAnyHandler) {
    ProxyPythonPlugin plugin("ProxyPythonPlugin?");
    EXPECT_EQ(plugin.getName(), "ProxyPythonPlugin?");
    EXPECT_EQ(plugin.getVersion(), "4.0.0");
    EXPECT_FALSE(plugin.isRunning());
    EXPECT_FALSE(plugin.isInitialised());
    EXPECT_EQ(plugin.getScriptDir(), "");
    EXPECT_EQ(plugin.getHelpFile(), "");
    EXPECT_EQ(plugin.getInterface(), nullptr);
    EXPECT_EQ(plugin.getSession(), nullptr);
    EXPECT_EQ(plugin.getModule(), nullptr);
}

TEST(ProxyPlugin, ScriptDirectoryUsesForwardSlashesAndKeepsTheLastSlash) {
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("C:\\work\\scripts\\demo.py"), "C:/work/scripts/");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("C:\\work/scripts\\demo.py"), "C:/work/scripts/");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("/opt/plugins/demo.py"), "/opt/plugins/");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("/demo.py"), "/");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf("demo.py"), "");
    EXPECT_EQ(ProxyPythonPlugin::scriptDirOf(""), "");
}

TEST(ProxyPlugin, HandlerKeyIsSixteenLowerCaseDigitsWithoutPrefix) {
    const auto* handler = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0x1a2b3c4d50});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(handler), "0000001a2b3c4d50");
    const auto* high = reinterpret_cast<const ICDHandler*>(std::uintptr_t{0xFFFFABCDEF012345});
    EXPECT_EQ(ProxyPythonPlugin::handlerKeyOf(high), "ffffabcdef012345");
}

}  // namespace
