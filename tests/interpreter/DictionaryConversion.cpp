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
    // `entry` of a Python dict and the host entry "k" it gives (none: skipped); with `back`, that
    // host entry gives the same Python value again.
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
    ASSERT_TRUE(session->eval("class Unprintable:\n    def __str__(self): raise RuntimeError()"));
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
        const ICDDictionary converted = fromPyDictToICDDictionary(dict.get());
        EXPECT_EQ(PyErr_Occurred(), nullptr) << entry;
        EXPECT_EQ(counts(), before) << entry;
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
