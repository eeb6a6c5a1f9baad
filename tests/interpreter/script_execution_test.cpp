// eval and exec_file: one namespace per session, the script's __file__, and failure reports that
// look like Python's own and never end the process.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CaptureOutput.h"
#include "ChildProcess.h"
#include "PyInterpreter.h"
#include "SessionTestSupport.h"

using namespace interpreter_test;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

std::string textOf(PySession* session, const char* name) {
    PySession::Use use(session);
    PyObject* value = PyDict_GetItemString(session->globals(), name);  // borrowed
    const char* text = value != nullptr ? PyUnicode_AsUTF8(value) : nullptr;
    return text != nullptr ? text : "<missing>";
}

}  // namespace

TEST(ScriptExecution, NamesDefinedByEvalAndByTheScriptStayVisibleToLaterLines) {
    PySession* session = newSubInterpreterSession();
    std::string script = dataFile("defines_names.py");
    CaptureOutput capture;
    EXPECT_TRUE(session->eval("earlier = 21"));
    EXPECT_TRUE(session->exec_file(script));
    EXPECT_TRUE(session->eval("assert answer == 42 and doubled == 42"));
    EXPECT_TRUE(session->eval("assert '__file__' not in globals()"));
    EXPECT_EQ(capture.err(), "");
    EXPECT_EQ(textOf(session, "seen_name"), "__main__");
    EXPECT_EQ(textOf(session, "seen_file"), script);
}

TEST(ScriptExecution, AFailingLinePrintsItsTracebackOnStandardErrorAndReturnsFalse) {
    PySession* session = newSubInterpreterSession();
    CaptureOutput capture;
    bool ok = session->eval("undefined_name + 1");
    capture.stop();
    EXPECT_FALSE(ok);
    EXPECT_THAT(capture.err(), StartsWith("Traceback (most recent call last):\n"));
    EXPECT_THAT(capture.err(), HasSubstr("NameError: name 'undefined_name' is not defined\n"));
    EXPECT_EQ(capture.out(), "");
    EXPECT_TRUE(session->eval("after_failure = True"));
}

TEST(ScriptExecution, ARaisingScriptReturnsFalseWithTheTracebackAsTheErrorText) {
    PySession* session = newSubInterpreterSession();
    std::string script = dataFile("raises_in_function.py");
    CaptureOutput capture;
    bool ok = session->exec_file(script);
    capture.stop();
    EXPECT_FALSE(ok);
    EXPECT_THAT(session->_errorText, StartsWith("Traceback (most recent call last):\n"));
    EXPECT_THAT(session->_errorText,
                HasSubstr("  File \"" + script + "\", line 8, in <module>\n    fail()\n"));
    EXPECT_THAT(session->_errorText, HasSubstr("  File \"" + script + "\", line 5, in fail\n"));
    EXPECT_THAT(session->_errorText, EndsWith("ValueError: bad things"));
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(capture.err(), "");
    EXPECT_TRUE(session->eval("assert defined_before_failure"));
    EXPECT_TRUE(session->eval("assert '__file__' not in globals()"));
}

TEST(ScriptExecution, AScriptWithASyntaxErrorNamesTheFileAndTheError) {
    PySession* session = newSubInterpreterSession();
    std::string script = dataFile("syntax_error.py");
    EXPECT_FALSE(session->exec_file(script));
    EXPECT_THAT(session->_errorText, HasSubstr("File \"" + script + "\", line 1"));
    EXPECT_THAT(session->_errorText, HasSubstr("SyntaxError: "));
}

TEST(ScriptExecution, AMissingScriptIsReportedAsPythonWould) {
    PySession* session = newSubInterpreterSession();
    std::string script = dataFile("no_such_script.py");
    EXPECT_FALSE(session->exec_file(script));
    EXPECT_EQ(session->_errorText,
              "FileNotFoundError: [Errno 2] No such file or directory: '" + script + "'");
}

TEST(ScriptExecution, SystemExitAndKeyboardInterruptInScriptsAndLinesLeaveTheProcessRunning) {
    ChildResult child = runChildScenario("system-exit");
    EXPECT_TRUE(child.exited);
    EXPECT_EQ(child.status, 0) << child.out << child.err;
    EXPECT_THAT(child.out, HasSubstr("exec_file: false\n"));
    EXPECT_THAT(child.out, HasSubstr("SystemExit: 3\n"));
    EXPECT_THAT(child.out, HasSubstr("exits_with_status_3.py\", line 4, in <module>"));
    EXPECT_THAT(child.out, HasSubstr("eval: false\ninterrupted eval: false\nsurvived\n"));
    EXPECT_THAT(child.err, HasSubstr("SystemExit: 5"));
    EXPECT_THAT(child.err, HasSubstr("KeyboardInterrupt"));
}
