// The fixed-layout help text of an action run with input and output dictionaries.
#include <gtest/gtest.h>

#include <string>

#include "ICDDictionary.h"
#include "ICDPluginAction.h"

TEST(DictionaryHelpText, EmptyDictionariesGiveSixLinesAndEachKeyAddsALineWithItsType) {
    const std::string signature = "scale(...)\n    scale( inputs, outputs ) -> bool\n";
    const std::string pairs = " = dictionary object composed of pairs of key (string) -> value:\n";
    const std::string in = "    inputs " + pairs, out = "    outputs" + pairs;
    ICDPluginAction action(7, "scale", ACTION_TYPE_NORMAL, ACTION_KIND_DICTIONARY, nullptr);
    EXPECT_EQ(action.getHelpFromDictionaries(ICDDictionary(), ICDDictionary(), ""),
              signature + in + "\n" + out + "\n");
    ICDDictionary inputs, outputs;
    inputs.setBoolean("enabled", true);
    inputs.setString("label", "x");
    outputs.setLong("count", 3);
    outputs.setDouble("ratio", 0.5);
    // A description goes unchanged between the signature and the inputs.
    EXPECT_EQ(action.getHelpFromDictionaries(inputs, outputs, "first\nsecond"),
              signature + "first\nsecond\n" + in + "    enabled as bool\n    label as string\n\n" +
                  out + "    count as long\n    ratio as double\n\n");
}
