#include <gtest/gtest.h>

#include "ICDDictionary.h"

namespace {

TEST(Dictionary, KeysComeInAscendingByteOrderWhateverTheInsertionOrder) {
    ICDDictionary dictionary;
    dictionary.setLong("b", 1);
    dictionary.setString("\xc3\xa9t\xc3\xa9", "summer");
    dictionary.setBoolean("B", true);
    dictionary.setDouble("a", 0.5);
    dictionary.setLong("", 0);
    EXPECT_EQ(dictionary.keys(),
              (std::vector<std::string>{"", "B", "a", "b", "\xc3\xa9t\xc3\xa9"}));
}

TEST(Dictionary, EachValueAnswersOnlyToItsOwnType) {
    ICDDictionary dictionary;
    dictionary.setBoolean("flag", true);
    dictionary.setLong("count", -7);
    dictionary.setDouble("ratio", 2.5);
    dictionary.setString("label", "x");
    EXPECT_TRUE(dictionary.isBoolean("flag"));
    EXPECT_FALSE(dictionary.isLong("flag"));
    EXPECT_TRUE(dictionary.isLong("count"));
    EXPECT_FALSE(dictionary.isDouble("count"));
    EXPECT_TRUE(dictionary.isDouble("ratio"));
    EXPECT_TRUE(dictionary.isString("label"));
    EXPECT_TRUE(dictionary.getBoolean("flag"));
    EXPECT_EQ(dictionary.getLong("count"), -7);
    EXPECT_EQ(dictionary.getDouble("ratio"), 2.5);
    EXPECT_EQ(dictionary.getString("label"), "x");
}

TEST(Dictionary, AMissingKeyOrOneOfAnotherTypeGivesTheEmptyValue) {
    ICDDictionary dictionary;
    dictionary.setString("label", "x");
    dictionary.setLong("count", 3);
    EXPECT_FALSE(dictionary.getBoolean("label"));
    EXPECT_EQ(dictionary.getLong("label"), 0);
    EXPECT_EQ(dictionary.getDouble("count"), 0.0);
    EXPECT_EQ(dictionary.getString("count"), "");
    EXPECT_EQ(dictionary.getString("missing"), "");
    EXPECT_FALSE(dictionary.isString("missing"));
}

TEST(Dictionary, SettingAKeyReplacesItsValueAndType) {
    ICDDictionary dictionary;
    dictionary.setLong("k", 4);
    dictionary.setString("k", "four");
    EXPECT_EQ(dictionary.size(), 1u);
    EXPECT_FALSE(dictionary.isLong("k"));
    EXPECT_EQ(dictionary.getString("k"), "four");
}

TEST(Dictionary, CopiesAreIndependentAndCompareByContent) {
    ICDDictionary original;
    original.setDouble("x", 1.0);
    ICDDictionary copy = original;
    EXPECT_EQ(copy, original);
    copy.setDouble("x", 2.0);
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(original.getDouble("x"), 1.0);
    EXPECT_TRUE(copy.remove("x"));
    EXPECT_FALSE(copy.remove("x"));
    EXPECT_TRUE(copy.empty());
    original.clear();
    EXPECT_FALSE(original.contains("x"));
}

}  // namespace
