// Fixed-layout help text of an action run with an input and an output dictionary.
#include <sstream>

#include "ICDPluginAction.h"

std::string DictionaryToString(ICDDictionary dictionary) {
    std::ostringstream text;
    for (const std::string& key : dictionary.keys()) {
        text << "    " << key;
        // A key of no known type gets neither type word nor line end: the next key runs on.
        if (dictionary.isBoolean(key)) {
            text << " as bool\n";
        } else if (dictionary.isLong(key)) {
            text << " as long\n";
        } else if (dictionary.isDouble(key)) {
            text << " as double\n";
        } else if (dictionary.isString(key)) {
            text << " as string\n";
        }
    }
    return text.str();
}

std::string ICDPluginAction::getHelpFromDictionaries(ICDDictionary inputs, ICDDictionary outputs,
                                                     std::string description) {
    std::ostringstream text;
    text << _name << "(...)\n";
    text << "    " << _name << "( inputs, outputs ) -> bool\n";
    if (!description.empty()) {
        text << description << "\n";
    }
    text << "    inputs  = dictionary object composed of pairs of key (string) -> value:\n";
    text << DictionaryToString(std::move(inputs)) << "\n";
    text << "    outputs = dictionary object composed of pairs of key (string) -> value:\n";
    text << DictionaryToString(std::move(outputs)) << "\n";
    return text.str();
}
