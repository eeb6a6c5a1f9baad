// How icdhost writes values and reads numbers and dictionary inputs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ICDDictionary.h"

namespace icdhost {

// A text in double quotes, with ", \ and line feeds escaped as \" \\ \n.
std::string quoteText(const std::string& text);

// A dictionary value as icdhost prints it: true/false, a decimal integer, a double with 17
// significant digits (%.17g), or a quoted text.
std::string dictionaryValueText(const ICDDictionary::Value& value);

// An integer written in decimal, or in hexadecimal after "0x", with an optional sign, within
// [min, max]. Nothing else is accepted (no blanks, no trailing characters).
std::optional<long long> parseSigned(const std::string& text, long long min, long long max);
std::optional<unsigned long long> parseUnsigned(const std::string& text, unsigned long long max);
// A raw bus word: any unsigned 64-bit value, or a negative value down to -2^63, which stands for
// its two's-complement pattern.
std::optional<unsigned long long> parseRawWord(const std::string& text);

// A help text as Python's own help() shows a docstring: the indentation common to the lines after
// the first removed (CPython 3.13 already removes it when compiling, earlier versions do not),
// the first line's leading blanks removed, and leading and trailing blank lines dropped.
std::vector<std::string> helpLines(const std::string& text);

// Adds one exec input to `inputs`: "true"/"false" a bool, an integer literal (decimal, or
// hexadecimal after 0x) that fits a long a long, any other decimal number a double, anything else
// (or a value written in quotes) a text.
void addInput(ICDDictionary& inputs, const std::string& key, const std::string& value,
              bool valueQuoted);

}  // namespace icdhost
