// Text forms shared by the field printers, the ICD loader and the trace.
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

std::size_t decodeUtf8(const char* text, std::size_t size, char32_t* codePoint) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (size == 0) {
        return 0;
    }
    const unsigned char lead = bytes[0];
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (size < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (bytes[i] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return length;
}

bool isControl(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

namespace {

void appendEscaped(std::string& out, const std::string& text, bool quoting) {
    static const char hex[] = "0123456789abcdef";
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text.data() + pos, text.size() - pos, &codePoint);
        if (length == 0 || (isControl(codePoint) && codePoint >= 0x80)) {
            // A byte that is not UTF-8, or a C1 control (two bytes, one code point).
            const unsigned value = length == 0 ? static_cast<unsigned char>(text[pos]) : codePoint;
            out += length == 0 ? "\\x" : "\\u00";
            out += hex[value >> 4];
            out += hex[value & 0xF];
            pos += length == 0 ? 1 : length;
            continue;
        }
        const char c = text[pos];
        if (quoting && (c == '"' || c == '\\')) {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (length == 1 && isControl(codePoint)) {
            out += "\\x";
            out += hex[codePoint >> 4];
            out += hex[codePoint & 0xF];
        } else {
            out.append(text, pos, length);
        }
        pos += length;
    }
}

}  // namespace

std::string escapeControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text, false);
    return out;
}

std::string quoteEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    appendEscaped(out, text, true);
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
