#include "TextFormat.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace icdhost_text {

std::string quote(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    out += '"';
    return out;
}

std::string word(const std::string& text) {
    if (text.empty()) {
        return quote(text);
    }
    for (unsigned char c : text) {
        if (c <= ' ' || c == '"' || c == '\\' || c == 0x7f) {
            return quote(text);
        }
    }
    return text;
}

std::string formatFloat(float value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
    return buffer;
}

std::string formatDouble(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool parseInteger(const std::string& text, bool* negative, std::uint64_t* magnitude,
                  std::string* error) {
    std::size_t pos = 0;
    *negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        *negative = text[pos] == '-';
        ++pos;
    }
    unsigned base = 10;
    if (text.size() - pos > 2 && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= text.size()) {
        *error = "not an integer";
        return false;
    }
    std::uint64_t result = 0;
    for (; pos < text.size(); ++pos) {
        int digit = digitValue(text[pos]);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) {
            *error = "not an integer";
            return false;
        }
        if (result > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
            *error = "out of range";
            return false;
        }
        result = result * base + digit;
    }
    *magnitude = result;
    return true;
}

bool fitsSigned(bool negative, std::uint64_t magnitude, unsigned bits, std::int64_t* value) {
    const std::uint64_t maxPositive = (std::uint64_t{1} << (bits - 1)) - 1;
    if (negative) {
        if (magnitude > maxPositive + 1) {
            return false;
        }
        // Negating in unsigned arithmetic keeps -2^63 representable.
        *value = static_cast<std::int64_t>(std::uint64_t{0} - magnitude);
        return true;
    }
    if (magnitude > maxPositive) {
        return false;
    }
    *value = static_cast<std::int64_t>(magnitude);
    return true;
}

bool fitsUnsigned(bool negative, std::uint64_t magnitude, unsigned bits, std::uint64_t* value) {
    if (negative && magnitude != 0) {
        return false;
    }
    const std::uint64_t max =
        bits >= 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << bits) - 1;
    if (magnitude > max) {
        return false;
    }
    *value = magnitude;
    return true;
}

bool parseDouble(const std::string& text, double* value, std::string* error) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        *error = "not a number";
        return false;
    }
    char* end = nullptr;
    errno = 0;
    double result = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) {
        *error = "not a number";
        return false;
    }
    // Underflow to a denormal or zero is kept: the nearest value is still the intended one.
    if (errno == ERANGE && std::isinf(result)) {
        *error = "out of range";
        return false;
    }
    *value = result;
    return true;
}

}  // namespace icdhost_text
