// eval and exec_file: one namespace per session, the script's __file__, and failure texts that
// read like Python's own.

#include <gtest/gtest.h>

#include <vector>

#include "CaptureOutput.h"
#include "SessionTestSupport.h"

using namespace interpreter_test;

TEST(ScriptExecution, NamesFromEvalAndFromTheScriptShareOneNamespaceAndTheScriptSeesItsFile) {
    PySession* session = newSubInterpreterSession();
    std::string script = dataFile("defines_names.py");
    CaptureOutput capture;
    bool ran = session->eval("earlier = 21") && session->exec_file(script) &&
               session->eval("assert seen == ('__main__', '" + script + "', 42), seen") &&
               session->eval("assert '__file__' not in globals()");
    EXPECT_EQ(capture.err(), "");
    EXPECT_TRUE(ran);
}

TEST(ScriptExecution, AFailingLinePrintsItsTracebackAndAFailingScriptLeavesItAsTheErrorText) {
    // A line prints its failure on standard error; a script (`code` ending in .py) prints nothing
    // and leaves it in _errorText. The text starts with the first of `parts` and holds the others
    // in order.
    struct Row {
        std::string code;
        std::vector<std::string> parts;
    };
    const Row rows[] = {
        {"undefined_name + 1",
         {"Traceback (most recent call last):\n",
          "\nNameError: name 'undefined_name' is not defined\n"}},
        {"raises_in_function.py",
         {"Traceback (most recent call last):\n",
          "/raises_in_function.py\", line 2, in <module>\n    fail()\n",
          "/raises_in_function.py\", line 1, in fail\n", "\nValueError: bad things"}},
        {"syntax_error.py", {"  File \"/", "/syntax_error.py\", line 1\n", "\nSyntaxError: "}},
        {"no_such_script.py",
         {"FileNotFoundError: [Errno 2] No such file or directory: '/", "/no_such_script.py'"}},
    };
    PySession* session = newSubInterpreterSession();
    for (const Row& row : rows) {
        bool isScript = row.code.size() > 3 && row.code.compare(row.code.size() - 3, 3, ".py") == 0;
        CaptureOutput capture;
        bool ok = isScript ? session->exec_file(dataFile(row.code)) : session->eval(row.code);
        std::string printed = capture.out() + capture.err();
        const std::string& text = isScript ? session->_errorText : printed;
        EXPECT_FALSE(ok) << row.code;
        EXPECT_EQ(printed, isScript ? "" : capture.err()) << row.code;
        std::string::size_type at = 0;
        for (std::size_t i = 0; i < row.parts.size() && at != std::string::npos; ++i) {
            at = text.find(row.parts[i], at);
            EXPECT_TRUE(i == 0 ? at == 0 : at != std::string::npos)
                << row.code << ": " << row.parts[i] << " missing or misplaced in\n"
                << text;
        }
    }
    EXPECT_TRUE(session->eval("assert fail and '__file__' not in globals()"));
}
