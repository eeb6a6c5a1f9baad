// eval and exec_file: one namespace per session, the script's __file__, and failure texts that
// read like Python's own.
#include <gtest/gtest.h>

#include <vector>

#include "tests/interpreter/SessionTestSupport.h"
#include "tests/support/CaptureOutput.h"

using namespace interpreter_test;

TEST(ScriptExecution, LinesAndScriptsShareOneNamespaceAndFailuresReadLikePythonsOwn) {
    // A line prints its failure on standard error; a script (ending in .py) prints nothing and
    // leaves it in _errorText. The text starts with the first part and holds the others in order.
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"undefined_name + 1",
         {"Traceback (most recent call last):\n",
          "\nNameError: name 'undefined_name' is not defined\n"}},
        {"raise SystemExit(5)", {"Traceback (most recent call last):\n", "\nSystemExit: 5\n"}},
        {"raises_in_function.py",
         {"Traceback (most recent call last):\n",
          "/raises_in_function.py\", line 2, in <module>\n    fail()\n",
          "/raises_in_function.py\", line 1, in fail\n", "\nValueError: bad things"}},
        {"syntax_error.py", {"  File \"/", "/syntax_error.py\", line 1\n", "\nSyntaxError: "}},
        {"no_such_script.py",
         {"FileNotFoundError: [Errno 2] No such file or directory: '/", "/no_such_script.py'"}},
    };
    PySession* session = newSubInterpreterSession();
    const std::string script = dataFile("defines_names.py");
    ASSERT_TRUE(session->eval("earlier = 21") && session->exec_file(script) &&
                session->eval("assert seen == ('__main__', '" + script + "', 42), seen"));
    for (const auto& [code, parts] : rows) {
        const bool isScript = code.size() > 3 && code.substr(code.size() - 3) == ".py";
        CaptureOutput capture;
        const bool ok = isScript ? session->exec_file(dataFile(code)) : session->eval(code);
        const std::string out = capture.out(), err = capture.err();
        const std::string& text = isScript ? session->_errorText : err;
        EXPECT_FALSE(ok) << code;
        EXPECT_EQ(out + (isScript ? err : ""), "") << code;
        std::string::size_type at = 0;
        for (std::size_t i = 0; i < parts.size() && at != std::string::npos; ++i) {
            at = text.find(parts[i], at);
            EXPECT_TRUE(i == 0 ? at == 0 : at != std::string::npos)
                << code << ": " << parts[i] << " missing or misplaced in\n"
                << text;
        }
    }
    EXPECT_TRUE(session->eval("assert fail and '__file__' not in globals()"));
}
