// The fixed-layout help text of an action run with input and output dictionaries.
#include <gtest/gtest.h>

#include <string>

#include "ICDDictionary.h"
#include "ICDPluginAction.h"

namespace {

ICDPluginAction namedAction(const std::string& name) {
    return ICDPluginAction(7, name, ACTION_TYPE_NORMAL, ACTION_KIND_DICTIONARY, nullptr);
}

const std::string kInputsHeader =
    "    inputs  = dictionary object composed of pairs of key (string) -> value:\n";
const std::string kOutputsHeader =
    "    outputs = dictionary object composed of pairs of key (string) -> value:\n";

TEST(DictionaryHelpText, EmptyDictionariesAndNoDescriptionGiveExactlySixLines) {
    ICDPluginAction action = namedAction("scale");
    EXPECT_EQ(action.getHelpFromDictionaries(ICDDictionary(), ICDDictionary(), ""),
              "scale(...)\n"
              "    scale( inputs, outputs ) -> bool\n" +
                  kInputsHeader + "\n" + kOutputsHeader + "\n");
}

TEST(DictionaryHelpText, DescriptionGoesBetweenTheSignatureAndTheInputsHeaderUnchanged) {
    ICDPluginAction action = namedAction("scale");
    EXPECT_EQ(action.getHelpFromDictionaries(ICDDictionary(), ICDDictionary(), "first\nsecond"),
              "scale(...)\n"
              "    scale( inputs, outputs ) -> bool\n"
              "first\nsecond\n" +
                  kInputsHeader + "\n" + kOutputsHeader + "\n");
}

TEST(DictionaryHelpText, EachKeyGetsALineWithItsTypeWordThenOneEmptyLineFollows) {
    ICDDictionary inputs;
    inputs.setBoolean("enabled", true);
    inputs.setString("label", "x");
    ICDDictionary outputs;
    outputs.setLong("count", 3);
    outputs.setDouble("ratio", 0.5);

    ICDPluginAction action = namedAction("measure");
    EXPECT_EQ(action.getHelpFromDictionaries(inputs, outputs, ""),
              "measure(...)\n"
              "    measure( inputs, outputs ) -> bool\n" +
                  kInputsHeader +
                  "    enabled as bool\n"
                  "    label as string\n"
                  "\n" +
                  kOutputsHeader +
                  "    count as long\n"
                  "    ratio as double\n"
                  "\n");
}

}  // namespace
