// Text replacement and text-list conversion.
#include <gtest/gtest.h>

#include "ScriptFixture.h"
#include "pymodule/PyCallUtils.h"

namespace {

TEST(ReplaceAll, AReplacementContainingTheSearchTextIsNotSearchedAgain) {
    EXPECT_EQ(ReplaceAll("aba", "a", "aa"), "aabaa");
}

TEST(ReplaceAll, BackslashesOfAWindowsPathBecomeSlashes) {
    EXPECT_EQ(ReplaceAll("C:\\work/scripts\\demo.py", "\\", "/"), "C:/work/scripts/demo.py");
}

TEST(ReplaceAll, ATextWithoutTheSearchTextComesBackUnchanged) {
    EXPECT_EQ(ReplaceAll("demo.py", "\\", "/"), "demo.py");
    EXPECT_EQ(ReplaceAll("", "x", "y"), "");
}

TEST(ReplaceAll, AnEmptySearchTextEndsAndChangesNothing) {
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(ReplaceAll, AReplacementMayBeEmpty) {
    EXPECT_EQ(ReplaceAll("a--b--c", "--", ""), "abc");
}

class TextLists : public ::testing::Test {
protected:
    ScriptFixture script;
};

TEST_F(TextLists, AnEmptyListGivesTheEmptyTuple) {
    PySession::Use use(script.session());

    PyRef tuple = PyRef::steal(stringListToPyTuple({}));

    ASSERT_TRUE(tuple);
    EXPECT_TRUE(PyTuple_Check(tuple.get()));
    EXPECT_EQ(PyTuple_Size(tuple.get()), 0);
}

TEST_F(TextLists, TextsBecomeStrItemsInOrderCutAtTheirFirstNul) {
    PySession::Use use(script.session());

    PyRef tuple =
        PyRef::steal(stringListToPyTuple({"alpha", std::string("be\0ta", 5), "\xc3\xa9t\xc3\xa9"}));

    ASSERT_TRUE(tuple);
    EXPECT_EQ(Py_REFCNT(tuple.get()), 1);
    ASSERT_EQ(PyTuple_Size(tuple.get()), 3);
    EXPECT_STREQ(PyUnicode_AsUTF8(PyTuple_GetItem(tuple.get(), 0)), "alpha");
    EXPECT_STREQ(PyUnicode_AsUTF8(PyTuple_GetItem(tuple.get(), 1)), "be");
    EXPECT_STREQ(PyUnicode_AsUTF8(PyTuple_GetItem(tuple.get(), 2)), "\xc3\xa9t\xc3\xa9");
}

TEST_F(TextLists, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    PySession::Use use(script.session());

    PyRef tuple =
        PyRef::steal(stringListToPyTuple({"a\xff"
                                          "b",
                                          "ok"}));

    ASSERT_TRUE(tuple);
    ASSERT_EQ(PyTuple_Size(tuple.get()), 2);
    EXPECT_STREQ(PyUnicode_AsUTF8(PyTuple_GetItem(tuple.get(), 0)),
                 "a\xef\xbf\xbd"
                 "b");
    EXPECT_STREQ(PyUnicode_AsUTF8(PyTuple_GetItem(tuple.get(), 1)), "ok");
    EXPECT_EQ(PyErr_Occurred(), nullptr);
}

}  // namespace
