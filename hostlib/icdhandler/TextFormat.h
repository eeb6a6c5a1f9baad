// Text forms shared by the field printers, the ICD loader and the trace: quoting, number
// printing and range-checked number parsing. Internal to the host library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace icdhost_text {

// The text in double quotes with ", \ and newline escaped as \" \\ \n.
std::string quote(const std::string& text);

// One UTF-8 sequence at `text` (at most `size` bytes): its length, with its code point in
// `codePoint`; 0 when the bytes there are not UTF-8 (overlong forms and surrogates included).
std::size_t decodeUtf8(const char* text, std::size_t size, char32_t* codePoint);

// A control character: C0, DEL or C1.
bool isControl(char32_t codePoint);

// The text with control characters written as \t, \r, \n, \xHH (C0 and DEL) or \u00HH (C1),
// and bytes that are not UTF-8 as \xHH, so that an error line stays one line and shows what
// the file holds; everything else, backslashes included, as it is.
std::string escapeControls(const std::string& text);

// quote() for error messages: also escapes what escapeControls() escapes.
std::string quoteEscaped(const std::string& text);

// A name as a trace line shows it: bare when it is a plain word, quoted otherwise, so that a
// trace line stays one line with blank-separated words whatever the ICD names hold.
std::string word(const std::string& text);

std::string formatFloat(float value);    // %.9g
std::string formatDouble(double value);  // %.17g

// Integer text: an optional sign, then decimal digits or 0x/0X and hexadecimal digits, nothing
// else. On success `negative` and `magnitude` describe the number; false with `error` set when
// the text is not such a number or its magnitude needs more than 64 bits.
bool parseInteger(const std::string& text, bool* negative, std::uint64_t* magnitude,
                  std::string* error);

// Checks a parsed integer against [min, max] of a signed type of `bits` bits (bits <= 64).
bool fitsSigned(bool negative, std::uint64_t magnitude, unsigned bits, std::int64_t* value);
// Checks a parsed integer against [0, max] of an unsigned type of `bits` bits; "-0" is 0.
bool fitsUnsigned(bool negative, std::uint64_t magnitude, unsigned bits, std::uint64_t* value);

// The whole text as a double (strtod, no leading blanks); false with `error` set when it does
// not parse or overflows.
bool parseDouble(const std::string& text, double* value, std::string* error);

}  // namespace icdhost_text
