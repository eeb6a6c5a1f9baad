// How icdhost writes values and reads numbers and dictionary inputs.
#include "ValueText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <variant>

#include "hostlib/icdhandler/TextFormat.h"

namespace icdhost {

// The host library's text forms are compiled into icdhost too (tools/icdhost/CMakeLists.txt), so
// that what icdhost reads and prints is written exactly as the library's own trace and printers.
std::string quoteText(const std::string& text) {
    return icdhost_text::quote(text);
}

namespace {

struct ValuePrinter {
    std::string operator()(bool value) const { return value ? "true" : "false"; }
    std::string operator()(long value) const { return std::to_string(value); }
    std::string operator()(double value) const { return icdhost_text::formatDouble(value); }
    std::string operator()(const std::string& value) const { return quoteText(value); }
};

// Splits an optional sign and a decimal or 0x hexadecimal magnitude of at most 64 bits.
bool parseMagnitude(const std::string& text, bool* negative, std::uint64_t* magnitude) {
    std::string error;
    return icdhost_text::parseInteger(text, negative, magnitude, &error);
}

}  // namespace

std::string dictionaryValueText(const ICDDictionary::Value& value) {
    return std::visit(ValuePrinter(), value);
}

std::optional<long long> parseSigned(const std::string& text, long long min, long long max) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    std::int64_t value = 0;
    if (!parseMagnitude(text, &negative, &magnitude) ||
        !icdhost_text::fitsSigned(negative, magnitude, 64, &value) || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<unsigned long long> parseUnsigned(const std::string& text, unsigned long long max) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    std::uint64_t value = 0;
    if (!parseMagnitude(text, &negative, &magnitude) ||
        !icdhost_text::fitsUnsigned(negative, magnitude, 64, &value) || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<unsigned long long> parseRawWord(const std::string& text) {
    if (auto value = parseUnsigned(text, ULLONG_MAX)) {
        return value;
    }
    if (auto value = parseSigned(text, LLONG_MIN, -1)) {
        return static_cast<unsigned long long>(*value);
    }
    return std::nullopt;
}

std::vector<std::string> helpLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    auto indentation = [](const std::string& line) { return line.find_first_not_of(" \t"); };
    std::size_t margin = std::string::npos;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::size_t indent = indentation(lines[i]);
        if (indent != std::string::npos) {
            margin = std::min(margin, indent);
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string& line = lines[i];
        std::size_t indent = indentation(line);
        if (indent == std::string::npos) {
            line.clear();
        } else {
            line.erase(0, i == 0 ? indent : margin);
        }
    }
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    while (!lines.empty() && lines.front().empty()) {
        lines.erase(lines.begin());
    }
    return lines;
}

void addInput(ICDDictionary& inputs, const std::string& key, const std::string& value,
              bool valueQuoted) {
    static const std::regex integerLiteral("[+-]?[0-9]+");
    static const std::regex decimalNumber("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?");
    static const std::regex hexadecimalLiteral("[+-]?0x[0-9a-fA-F]+");
    std::optional<long long> hexadecimal;
    if (!valueQuoted && std::regex_match(value, hexadecimalLiteral)) {
        hexadecimal = parseSigned(value, LONG_MIN, LONG_MAX);
    }
    if (valueQuoted) {
        inputs.setString(key, value);
    } else if (value == "true" || value == "false") {
        inputs.setBoolean(key, value == "true");
    } else if (hexadecimal) {
        inputs.setLong(key, static_cast<long>(*hexadecimal));
    } else if (std::regex_match(value, integerLiteral)) {
        errno = 0;
        long parsed = std::strtol(value.c_str(), nullptr, 10);
        if (errno == ERANGE) {
            inputs.setDouble(key, std::strtod(value.c_str(), nullptr));
        } else {
            inputs.setLong(key, parsed);
        }
    } else if (std::regex_match(value, decimalNumber)) {
        inputs.setDouble(key, std::strtod(value.c_str(), nullptr));
    } else {
        inputs.setString(key, value);
    }
}

}  // namespace icdhost
