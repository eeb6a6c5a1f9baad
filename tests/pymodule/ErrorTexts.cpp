// The two-line text of a pending Python error: outermost frame, type repr, value.
#include <gtest/gtest.h>

#include "ScriptFixture.h"
#include "pymodule/PyCallUtils.h"

namespace {

class ErrorTexts : public ::testing::Test {
protected:
    // Defines `code` as if it came from file `fileName`.
    void define(const std::string& fileName, const std::string& code) {
        ASSERT_TRUE(script.run("exec(compile(" + quoted(code) + ", '" + fileName +
                               "', 'exec'), globals())\n"));
    }
    static std::string quoted(const std::string& code) {
        std::string out = "'";
        for (char c : code) {
            if (c == '\n') {
                out += "\\n";
            } else if (c == '\'') {
                out += "\\'";
            } else {
                out += c;
            }
        }
        return out + "'";
    }
    // Calls global `name` with no arguments and turns the error it raises into text.
    std::string textOfCall(const std::string& name) {
        PySession::Use use(script.session());
        PyRef callable = script.eval(name);
        PyRef result = PyRef::steal(PyObject_CallObject(callable.get(), nullptr));
        EXPECT_FALSE(result);
        const std::string text = PyError2StdString(PyErr_Occurred());
        EXPECT_EQ(PyErr_Occurred(), nullptr);
        return text;
    }

    ScriptFixture script;
};

TEST_F(ErrorTexts, AnErrorRaisedInPythonNamesFileLineAndFunction) {
    define("enc.py", "def decode():\n    x = 1\n    return x / 0\n");

    EXPECT_EQ(textOfCall("decode"),
              "File \"enc.py\", line 3, in decode\n<class 'ZeroDivisionError'>: division by zero");
}

TEST_F(ErrorTexts, OnlyTheOutermostFrameIsNamed) {
    define("nested.py",
           "def inner():\n    raise KeyError('k')\n\ndef outer():\n    return inner()\n");

    EXPECT_EQ(textOfCall("outer"), "File \"nested.py\", line 5, in outer\n<class 'KeyError'>: 'k'");
}

TEST_F(ErrorTexts, AScriptDefinedExceptionShowsItsQualifiedRepr) {
    define("mine.py",
           "class EncoderError(Exception):\n    pass\n\n"
           "def fail():\n    raise EncoderError('bad word')\n");

    const std::string text = textOfCall("fail");

    EXPECT_EQ(text.substr(0, text.find('\n')), "File \"mine.py\", line 5, in fail");
    EXPECT_NE(text.find("EncoderError'>: bad word"), std::string::npos) << text;
}

TEST_F(ErrorTexts, AnErrorSetFromNativeCodeHasNoLocation) {
    PySession::Use use(script.session());
    PyErr_SetString(PyExc_ValueError, "native failure");

    const std::string text = PyError2StdString(PyErr_Occurred());

    EXPECT_EQ(text, "File \"\", line -1, in \n<class 'ValueError'>: native failure");
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

TEST_F(ErrorTexts, ANullTypeGivesNothingAndLeavesThePendingErrorInPlace) {
    PySession::Use use(script.session());
    PyErr_SetString(PyExc_RuntimeError, "still here");

    const std::string text = PyError2StdString(nullptr);

    EXPECT_EQ(text, "");
    EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_RuntimeError));
    PyErr_Clear();
}

TEST_F(ErrorTexts, AnExceptionWithoutValueGivesTheEmptyTextAndIsCleared) {
    PySession::Use use(script.session());
    PyErr_SetNone(PyExc_StopIteration);

    const std::string text = PyError2StdString(PyErr_Occurred());

    // Normalisation makes an instance, so the text has a value part, even if empty.
    EXPECT_EQ(text, "File \"\", line -1, in \n<class 'StopIteration'>: ");
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

}  // namespace
