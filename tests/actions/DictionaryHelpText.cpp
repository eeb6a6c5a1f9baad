// The fixed-layout help text of an action run with input and output dictionaries.
#include <gtest/gtest.h>

#include <string>

#include "ICDDictionary.h"
#include "ICDPluginAction.h"

namespace {

const std::string kInputs =
    "    inputs  = dictionary object composed of pairs of key (string) -> value:\n";
const std::string kOutputs =
    "    outputs = dictionary object composed of pairs of key (string) -> value:\n";

TEST(DictionaryHelpText, EmptyDictionariesAndNoDescriptionGiveExactlySixLines) {
    ICDPluginAction action(7, "scale", ACTION_TYPE_NORMAL, ACTION_KIND_DICTIONARY, nullptr);
    EXPECT_EQ(
        action.getHelpFromDictionaries(ICDDictionary(), ICDDictionary(), ""),
        "scale(...)\n    scale( inputs, outputs ) -> bool\n" + kInputs + "\n" + kOutputs + "\n");
}

TEST(DictionaryHelpText, DescriptionFollowsTheSignatureAndEachKeyGetsALineWithItsType) {
    ICDDictionary inputs;
    inputs.setBoolean("enabled", true);
    inputs.setString("label", "x");
    ICDDictionary outputs;
    outputs.setLong("count", 3);
    outputs.setDouble("ratio", 0.5);
    ICDPluginAction action(7, "measure", ACTION_TYPE_NORMAL, ACTION_KIND_DICTIONARY, nullptr);
    EXPECT_EQ(action.getHelpFromDictionaries(inputs, outputs, "first\nsecond"),
              "measure(...)\n    measure( inputs, outputs ) -> bool\nfirst\nsecond\n" + kInputs +
                  "    enabled as bool\n    label as string\n\n" + kOutputs +
                  "    count as long\n    ratio as double\n\n");
}

}  // namespace
