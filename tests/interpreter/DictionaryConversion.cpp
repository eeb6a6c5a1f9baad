// Python dicts to host dictionaries and back: each value keeps its type where both sides have it,
// anything else becomes text or, without a text, is skipped; no reference or error is left behind.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ICDDictionary.h"
#include "PyRef.h"
#include "SessionTestSupport.h"

using namespace interpreter_test;

TEST(DictionaryConversion, EachEntryConvertsBothWaysWithReferenceCountsUnchangedAndNoErrorLeft) {
    // `entry` of a Python dict, and the host entry "k" it gives (none: skipped); `back`: the host
    // entry gives that Python value again.
    using Entries = std::map<std::string, ICDDictionary::Value>;
    struct Row {
        const char* entry;
        std::optional<ICDDictionary::Value> host;
        bool back;
    };
    const Row rows[] = {
        {"'k': True", true, true},
        {"'k': -42", -42L, true},
        {"'k': 2.5", 2.5, true},
        {"'k': 'caf\\u00e9'", std::string("caf\xc3\xa9"), true},
        {"'k': 2 ** 70", std::string("1180591620717411303424"), false},
        {"'k': -2 ** 70", std::string("-1180591620717411303424"), false},
        {"'k': None", std::string("None"), false},
        {"'k': [1, 'x' * 20]", std::string("[1, 'xxxxxxxxxxxxxxxxxxxx']"), false},
        {"'k': Unprintable()", std::nullopt, false},
        {"Unprintable(): 1", std::nullopt, false},
        {"'k': '\\ud800'", std::nullopt, false},
    };
    PySession* session = newSubInterpreterSession();
    ASSERT_TRUE(session->eval("class Unprintable:\n    def __str__(self): raise RuntimeError()"));
    PySession::Use use(session);
    for (const Row& row : rows) {
        std::string source = std::string("{") + row.entry + "}";
        PyRef dict = PyRef::steal(
            PyRun_String(source.c_str(), Py_eval_input, session->globals(), session->globals()));
        ASSERT_TRUE(dict) << row.entry;
        PyObject* key = nullptr;    // borrowed
        PyObject* value = nullptr;  // borrowed
        Py_ssize_t position = 0;
        PyDict_Next(dict.get(), &position, &key, &value);
        auto counts = [&] {
            return std::vector{Py_REFCNT(dict.get()), Py_REFCNT(key), Py_REFCNT(value)};
        };
        std::vector<Py_ssize_t> before = counts();
        ICDDictionary converted = fromPyDictToICDDictionary(dict.get());
        EXPECT_EQ(PyErr_Occurred(), nullptr) << row.entry;
        EXPECT_EQ(counts(), before) << row.entry;
        EXPECT_EQ(converted.values(), (row.host ? Entries{{"k", *row.host}} : Entries{}))
            << row.entry;
        if (row.back) {
            PyRef again = PyRef::steal(PyDict_New());
            fromICDDictionaryToPyDict(converted, again.get());
            EXPECT_EQ(PyErr_Occurred(), nullptr) << row.entry;
            EXPECT_EQ(Py_REFCNT(again.get()), 1) << row.entry;
            PyObject* same = PyDict_GetItemString(again.get(), "k");  // borrowed
            EXPECT_TRUE(same != nullptr && Py_TYPE(same) == Py_TYPE(value) &&
                        PyObject_RichCompareBool(same, value, Py_EQ) == 1)
                << row.entry;
        }
    }
}
