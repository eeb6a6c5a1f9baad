// Python dicts to host dictionaries and back: each value keeps its type where both sides have it,
// anything else becomes text or, without a text, is left out with its error printed; no reference
// or error is left behind.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ICDDictionary.h"
#include "PyRef.h"
#include "tests/interpreter/SessionTestSupport.h"
#include "tests/support/CaptureOutput.h"

using namespace interpreter_test;

TEST(DictionaryConversion, EachEntryConvertsBothWaysWithReferenceCountsUnchangedAndNoErrorLeft) {
    // `entry` of a Python dict and the host entry "k" it gives (none: left out, with an error
    // printed); with `back`, that host entry gives the same Python value again.
    const std::tuple<const char*, std::optional<ICDDictionary::Value>, bool> rows[] = {
        {"'k': True", true, true},
        {"'k': -42", -42L, true},
        {"'k': 2.5", 2.5, true},
        {"'k': 'caf\\u00e9'", std::string("caf\xc3\xa9"), true},
        {"'k': -2 ** 70", std::string("-1180591620717411303424"), false},
        {"'k': None", std::string("None"), false},
        {"'k': [1, 'x' * 20]", std::string("[1, 'xxxxxxxxxxxxxxxxxxxx']"), false},
        {"'k': Unprintable()", std::nullopt, false},
        {"Unprintable(): 1", std::nullopt, false},
        {"'k': '\\ud800'", std::nullopt, false},
    };
    PySession* session = newSubInterpreterSession();
    ASSERT_TRUE(
        session->eval("class Unprintable:\n    def __str__(self): raise RuntimeError('no text')"));
    PySession::Use use(session);
    for (const auto& [entry, host, back] : rows) {
        PyObject* globals = session->globals();  // borrowed
        PyRef dict = PyRef::steal(PyRun_String(("{" + std::string(entry) + "}").c_str(),
                                               Py_eval_input, globals, globals));
        ASSERT_TRUE(dict) << entry;
        PyObject *key = nullptr, *value = nullptr;  // borrowed
        Py_ssize_t position = 0;
        PyDict_Next(dict.get(), &position, &key, &value);
        auto counts = [&] {
            return std::vector{Py_REFCNT(dict.get()), Py_REFCNT(key), Py_REFCNT(value)};
        };
        const std::vector<Py_ssize_t> before = counts();
        CaptureOutput output;
        const ICDDictionary converted = fromPyDictToICDDictionary(dict.get());
        output.stop();
        EXPECT_EQ(PyErr_Occurred(), nullptr) << entry;
        // What the printed error keeps for post-mortem debugging holds the object in its frame.
        ASSERT_TRUE(PyRun_SimpleString("import sys\nsys.last_type = sys.last_value = "
                                       "sys.last_traceback = sys.last_exc = None") == 0);
        EXPECT_EQ(counts(), before) << entry;
        if (host) {
            EXPECT_EQ(output.err(), "") << entry;
        } else {
            EXPECT_NE(output.err().find("Error: "), std::string::npos) << entry << output.err();
        }
        using Values = std::map<std::string, ICDDictionary::Value>;
        EXPECT_EQ(converted.values(), (host ? Values{{"k", *host}} : Values{})) << entry;
        if (back) {
            PyRef again = PyRef::steal(PyDict_New());
            fromICDDictionaryToPyDict(converted, again.get());
            PyObject* same = PyDict_GetItemString(again.get(), "k");  // borrowed
            EXPECT_TRUE(PyErr_Occurred() == nullptr && Py_REFCNT(again.get()) == 1 &&
                        same != nullptr && (same == Py_True || Py_REFCNT(same) == 1) &&
                        Py_TYPE(same) == Py_TYPE(value) &&
                        PyObject_RichCompareBool(same, value, Py_EQ) == 1)
                << entry;
        }
    }
}

TEST(DictionaryConversion, AnEntryThatCannotBeConvertedIsReportedAndTheOthersAreKept) {
    PySession* session = newSubInterpreterSession();
    ASSERT_TRUE(
        session->eval("class Unprintable:\n    def __str__(self):\n"
                      "        raise RuntimeError('no text for this value')\n"
                      "result = {'a': 1, 'bad': Unprintable(), 'c': 'x', Unprintable(): 2, "
                      "'d': 0.5}"));
    PySession::Use use(session);
    CaptureOutput output;
    const ICDDictionary converted =
        fromPyDictToICDDictionary(PyDict_GetItemString(session->globals(), "result"));
    output.stop();
    EXPECT_EQ(PyErr_Occurred(), nullptr);
    using Values = std::map<std::string, ICDDictionary::Value>;
    EXPECT_EQ(converted.values(), (Values{{"a", 1L}, {"c", std::string("x")}, {"d", 0.5}}));
    const std::string report = "RuntimeError: no text for this value\n";
    const std::string err = output.err();
    const std::size_t first = err.find(report);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_NE(err.find(report, first + 1), std::string::npos) << err;
    EXPECT_NE(err.find("in __str__"), std::string::npos) << err;
}
