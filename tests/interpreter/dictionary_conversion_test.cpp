// Host dictionaries to Python dicts and back: each value keeps its type where both sides have it,
// everything else becomes text, and no reference or error is left behind.

#include <gtest/gtest.h>

#include <string>

#include "ICDDictionary.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "SessionTestSupport.h"

using namespace interpreter_test;

class DictionaryConversion : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session = newSubInterpreterSession(); }
    static PySession* session;

    // Evaluates an expression in the session's namespace. Precondition: the session is held.
    static PyRef evaluate(const char* expression) {
        PyRef result = PyRef::steal(
            PyRun_String(expression, Py_eval_input, session->globals(), session->globals()));
        if (!result) {
            pycompat::printPendingError();
        }
        return result;
    }
};

PySession* DictionaryConversion::session = nullptr;

TEST_F(DictionaryConversion, HostValuesBecomePythonValuesOfTheSameType) {
    ICDDictionary dictionary;
    dictionary.setBoolean("flag", true);
    dictionary.setLong("count", -42);
    dictionary.setDouble("ratio", 2.5);
    dictionary.setString("label", "caf\xc3\xa9");
    PySession::Use use(session);
    PyRef dict = PyRef::steal(PyDict_New());
    fromICDDictionaryToPyDict(dictionary, dict.get());
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_EQ(Py_REFCNT(dict.get()), 1);
    PyDict_SetItemString(session->globals(), "converted", dict.get());
    PyRef same = evaluate(
        "converted == {'flag': True, 'count': -42, 'ratio': 2.5, 'label': 'caf\\u00e9'} and "
        "type(converted['flag']) is bool and type(converted['count']) is int and "
        "type(converted['ratio']) is float and type(converted['label']) is str");
    EXPECT_EQ(same.get(), Py_True);
    PyDict_DelItemString(session->globals(), "converted");
}

TEST_F(DictionaryConversion, PythonValuesKeepTheirTypeOrBecomeText) {
    PySession::Use use(session);
    PyRef dict = evaluate(
        "{'yes': True, 'number': 7, 'huge': 2 ** 70, 'negative': -2 ** 70, 'real': 0.25, "
        "'text': 'plain', 'nothing': None, 'items': [1, 2], 3: 'three'}");
    ASSERT_TRUE(dict);
    ICDDictionary converted = fromPyDictToICDDictionary(dict.get());
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_TRUE(converted.isBoolean("yes"));
    EXPECT_TRUE(converted.getBoolean("yes"));
    EXPECT_TRUE(converted.isLong("number"));
    EXPECT_EQ(converted.getLong("number"), 7);
    EXPECT_TRUE(converted.isString("huge"));
    EXPECT_EQ(converted.getString("huge"), "1180591620717411303424");
    EXPECT_EQ(converted.getString("negative"), "-1180591620717411303424");
    EXPECT_TRUE(converted.isDouble("real"));
    EXPECT_EQ(converted.getDouble("real"), 0.25);
    EXPECT_EQ(converted.getString("text"), "plain");
    EXPECT_EQ(converted.getString("nothing"), "None");
    EXPECT_EQ(converted.getString("items"), "[1, 2]");
    EXPECT_EQ(converted.getString("3"), "three");
    EXPECT_EQ(converted.size(), 9u);
}

TEST_F(DictionaryConversion, ConvertingLeavesEveryReferenceCountAsItWas) {
    PySession::Use use(session);
    PyRef dict = evaluate("{'text': 'x' * 20, 'items': [1, 2], 'huge': 2 ** 80, 'real': 1.5}");
    ASSERT_TRUE(dict);
    PyRef values = PyRef::steal(PyDict_Values(dict.get()));
    std::vector<Py_ssize_t> before;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
        before.push_back(Py_REFCNT(PyList_GET_ITEM(values.get(), i)));
    }
    Py_ssize_t dictBefore = Py_REFCNT(dict.get());
    fromPyDictToICDDictionary(dict.get());
    std::vector<Py_ssize_t> after;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
        after.push_back(Py_REFCNT(PyList_GET_ITEM(values.get(), i)));
    }
    EXPECT_EQ(after, before);
    EXPECT_EQ(Py_REFCNT(dict.get()), dictBefore);
}

TEST_F(DictionaryConversion, AnEntryWhoseTextCannotBeMadeIsSkippedWithoutAPendingError) {
    PySession::Use use(session);
    ASSERT_TRUE(
        session->eval("class Unprintable:\n"
                      "    def __str__(self):\n"
                      "        raise RuntimeError('no text')\n"));
    PyRef dict = evaluate("{'bad': Unprintable(), Unprintable(): 1, 'good': 1, 'lone': '\\ud800'}");
    ASSERT_TRUE(dict);
    ICDDictionary converted = fromPyDictToICDDictionary(dict.get());
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    EXPECT_EQ(converted.keys(), std::vector<std::string>{"good"});
}

TEST_F(DictionaryConversion, ARoundTripGivesTheSameHostDictionary) {
    ICDDictionary original;
    original.setBoolean("b", false);
    original.setLong("l", 1234567890L);
    original.setDouble("d", -0.125);
    original.setString("s", "two words");
    PySession::Use use(session);
    PyRef dict = PyRef::steal(PyDict_New());
    fromICDDictionaryToPyDict(original, dict.get());
    EXPECT_EQ(fromPyDictToICDDictionary(dict.get()), original);
}
