// How module functions find their script's registry object and the handler bridge: unknown
// identifiers and keys, and identifiers or keys of another plug-in object.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "ScriptFixture.h"

using ::testing::HasSubstr;

namespace {

TEST(ModuleLookups, CallbackSettersIgnoreAnUnknownIdentifierSilently) {
    ScriptFixture script;
    CaptureOutput capture;
    ASSERT_TRUE(
        script.run("r = (pp.setStartCallback('nobody', print),\n"
                   "     pp.setStopCallback('nobody', print),\n"
                   "     pp.setOnPluginActionCallback('nobody', print))\n"));
    const std::string err = capture.err();

    EXPECT_EQ(script.text("r"), "(None, None, None)");
    EXPECT_EQ(err, "");
}

class UnknownIdentifier : public ::testing::TestWithParam<const char*> {};

TEST_P(UnknownIdentifier, IsReportedAsNoProxyInterfaceAndGivesNone) {
    ScriptFixture script;
    script.attachHandler();
    CaptureOutput capture;
    ASSERT_TRUE(script.run(std::string("r = ") + GetParam() + "\n"));
    const std::string err = capture.err();

    EXPECT_TRUE(script.truth("r is None"));
    EXPECT_EQ(err, "RuntimeError: no proxyinterface found\n");
}

INSTANTIATE_TEST_SUITE_P(
    AllButTheCallbackSetters, UnknownIdentifier,
    ::testing::Values(
        "pp.setConsumeICDEventCallback('x', KEY, print)", "pp.setName('x', 'n')",
        "pp.addSimpleAction('x', 1, 'a', 1)", "pp.addCallableAction('x', 1, 'a', print)",
        "pp.setChecked('x', 1, 1)", "pp.getChecked('x', 1)", "pp.raiseError('x', KEY, 'm', 1)",
        "pp.messageBox('x', 't')", "pp.inputBox('x')", "pp.openFileDialog('x')",
        "pp.saveFileDialog('x')", "pp.openDirDialog('x')",
        "pp.commitSingleMessageField('x', KEY, 'M', 'F')", "pp.commitSingleMessage('x', KEY, 'M')",
        "pp.sendICDEvent('x', KEY, 1)", "pp.setMessageFieldReserved('x', KEY, 'M', 'F', 1)",
        "pp.setEncodingFrom('x', KEY, 'M', 'F', None)", "pp.getEncoderName('x', KEY, 'M', 'F')"));

class UnknownKey : public ::testing::TestWithParam<const char*> {};

TEST_P(UnknownKey, IsReportedAsNoHandlerInterfaceAndGivesNone) {
    ScriptFixture script;
    CaptureOutput capture;
    ASSERT_TRUE(script.run(std::string("r = ") + GetParam() + "\n"));
    const std::string err = capture.err();

    EXPECT_TRUE(script.truth("r is None"));
    EXPECT_EQ(err, "RuntimeError: no proxyHandlderinterface found\n");
}

INSTANTIATE_TEST_SUITE_P(HandlerFunctions, UnknownKey,
                         ::testing::Values("pp.setConsumeICDEventCallback(ID, 'ffff', print)",
                                           "pp.raiseError(ID, 'ffff', 'm', 1)",
                                           "pp.commitSingleMessageField(ID, 'ffff', 'M', 'F')",
                                           "pp.commitSingleMessage(ID, 'ffff', 'M')",
                                           "pp.sendICDEvent(ID, 'ffff', 1)",
                                           "pp.setMessageFieldReserved(ID, 'ffff', 'M', 'F', 1)",
                                           "pp.setEncodingFrom(ID, 'ffff', 'M', 'F', None)",
                                           "pp.getEncoderName(ID, 'ffff', 'M', 'F')"));

TEST(ModuleLookups, AnUnknownIdentifierIsReportedBeforeTheKeyIsLookedAt) {
    ScriptFixture script;
    CaptureOutput capture;
    ASSERT_TRUE(script.run("pp.sendICDEvent('x', 'ffff', 1)\n"));
    EXPECT_EQ(capture.err(), "RuntimeError: no proxyinterface found\n");
}

TEST(ModuleLookups, AnotherPluginsIdentifierActsOnThatPluginsInterface) {
    ScriptFixture mine;
    ScriptFixture theirs;

    ASSERT_TRUE(mine.run("pp.setName('" + theirs.identifier() +
                         "', 'renamed from outside')\n"
                         "pp.addSimpleAction('" +
                         theirs.identifier() + "', 3, 'Far', 4)\n"));

    EXPECT_EQ(theirs.registry().getName(), "renamed from outside");
    EXPECT_EQ(mine.registry().getName(), mine.identifier());
    EXPECT_EQ(theirs.owner().getPluginActionSize(), 1u);
    EXPECT_EQ(mine.owner().getPluginActionSize(), 0u);
    EXPECT_TRUE(theirs.truth("pp.getChecked(ID, 3) is False"));
}

TEST(ModuleLookups, AnotherPluginsKeyReachesThatPluginsHandler) {
    ScriptFixture mine;
    ScriptFixture theirs;
    mine.attachHandler("MINE");
    const std::string theirKey = theirs.attachHandler("THEIRS");

    ASSERT_TRUE(mine.run("r = pp.raiseError(ID, '" + theirKey + "', 'from a neighbour', 2)\n"));

    EXPECT_TRUE(mine.truth("r is True"));
    ASSERT_EQ(theirs.handler()->errors().size(), 1u);
    EXPECT_EQ(theirs.handler()->errors()[0].text, "from a neighbour");
    EXPECT_TRUE(mine.handler()->errors().empty());
}

}  // namespace
