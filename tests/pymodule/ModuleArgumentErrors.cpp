// Every module function given arguments that do not match its format: the report printed and the
// None returned, with nothing pending and nothing raised into the script.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "ScriptFixture.h"

using ::testing::HasSubstr;

namespace {

struct Mismatch {
    const char* call;      // Python expression; ID and KEY are the script's own
    const char* expected;  // what the printed report contains
};

void PrintTo(const Mismatch& mismatch, std::ostream* out) {
    *out << mismatch.call;
}

class ModuleArgumentErrors : public ::testing::TestWithParam<Mismatch> {
protected:
    static void SetUpTestSuite() {
        script = new ScriptFixture();
        script->attachHandler();
    }
    static void TearDownTestSuite() {
        delete script;
        script = nullptr;
    }
    static ScriptFixture* script;
};

ScriptFixture* ModuleArgumentErrors::script = nullptr;

TEST_P(ModuleArgumentErrors, PrintTheReportAndReturnNone) {
    const Mismatch& mismatch = GetParam();
    CaptureOutput capture;
    const bool ran = script->run(std::string("result = ") + mismatch.call + "\n");
    const std::string err = capture.err();

    ASSERT_TRUE(ran) << err;
    EXPECT_TRUE(script->truth("result is None"));
    EXPECT_THAT(err, HasSubstr(mismatch.expected));
    PySession::Use use(script->session());
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

const char* const kOpenFile =
    "AttributeError: wrong args: must be [caption='Open File',dir='.',filters='All Files (*);; "
    "Text (*.txt)'] [string,string,string]\n";
const char* const kSaveFile =
    "AttributeError: wrong args: must be [caption='Save File',dir='.',filters='All Files (*);; "
    "Text (*.txt)'] [string,string]\n";

INSTANTIATE_TEST_SUITE_P(
    ParserErrors, ModuleArgumentErrors,
    ::testing::Values(Mismatch{"pp.setStartCallback(ID)", "TypeError: setStartCallback()"},
                      Mismatch{"pp.setStopCallback(ID, print, 1)", "TypeError: setStopCallback()"},
                      Mismatch{"pp.setOnPluginActionCallback(3, print)",
                               "TypeError: setOnPluginActionCallback()"},
                      Mismatch{"pp.setConsumeICDEventCallback(ID, KEY)",
                               "TypeError: setOnConsumeICDEventCallback()"},
                      Mismatch{"pp.addSimpleAction(ID, 1, 'name')", "TypeError: addAction()"},
                      Mismatch{"pp.addSimpleAction(ID, 'one', 'name', 1)", "TypeError: "},
                      Mismatch{"pp.addSimpleAction(ID, 2**40, 'name', 1)", "OverflowError: "},
                      Mismatch{"pp.addCallableAction(ID, 1, 'name')", "TypeError: addAction()"},
                      Mismatch{"pp.commitSingleMessageField(ID, KEY, 'M')",
                               "TypeError: commitSingleMessageField()"},
                      Mismatch{"pp.commitSingleMessage(ID, KEY)",
                               "TypeError: commitSingleMessage()"},
                      Mismatch{"pp.commitSingleMessage(ID, KEY, 'M\\0X')", "ValueError: "}));

INSTANTIATE_TEST_SUITE_P(
    OwnTexts, ModuleArgumentErrors,
    ::testing::Values(
        Mismatch{"pp.setName(ID)", "AttributeError: wrong args: must be name [string]\n"},
        Mismatch{"pp.setName(ID, 'a\\0b')", "AttributeError: wrong args: must be name [string]\n"},
        Mismatch{"pp.setChecked(ID, 1)",
                 "AttributeError: wrong args: must be id,val [int,boolean]\n"},
        Mismatch{"pp.setChecked(ID, 2**40, 1)",
                 "AttributeError: wrong args: must be id,val [int,boolean]\n"},
        Mismatch{"pp.getChecked(ID, 'x')", "AttributeError: wrong args: must be id [int]\n"},
        Mismatch{"pp.raiseError(ID, KEY, 'text')",
                 "AttributeError: wrong args: must be msg [string],severity [int]\n"},
        Mismatch{"pp.messageBox(ID)",
                 "AttributeError: wrong args: must be text,[caption,button_flag,icon_flag] "
                 "[string,string,int,int]\n"},
        Mismatch{"pp.inputBox(ID, 1)",
                 "AttributeError: wrong args: must be [caption,text] [string,string]\n"},
        Mismatch{"pp.openFileDialog(ID, 'a', 'b', 'c', 'd')", kOpenFile},
        Mismatch{"pp.saveFileDialog(ID, None)", kSaveFile},
        Mismatch{"pp.openDirDialog()",
                 "AttributeError: wrong args: must be [caption='Open Dir',dir='.'] "
                 "[string,string]\n"},
        Mismatch{"pp.sendICDEvent(ID, KEY, 'five')",
                 "AttributeError: wrong args: must be arg_event_id [int]\n"},
        Mismatch{"pp.setMessageFieldReserved(ID, KEY, 'M', 'F')",
                 "AttributeError: wrong args: must be msg,field,flag [string,string,boolean]\n"},
        Mismatch{"pp.setEncodingFrom(ID, KEY, 'M', 'F')",
                 "AttributeError: wrong args: must be msg,field,encoder [string,string,object]\n"},
        Mismatch{"pp.getEncoderName(ID, KEY, 'M')",
                 "AttributeError: wrong args: must be msg,field [string,string]\n"}));

TEST(ModuleArgumentReports, AReplacedParserErrorIsTheOnlyReport) {
    ScriptFixture script;
    CaptureOutput capture;
    ASSERT_TRUE(script.run("pp.setName(ID)\n"));
    EXPECT_EQ(capture.err(), "AttributeError: wrong args: must be name [string]\n");
}

}  // namespace
