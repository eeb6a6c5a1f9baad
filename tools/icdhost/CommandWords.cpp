// The lexical rules of the command language: splitting a line into words.
#include "CommandWords.h"

#include <algorithm>

namespace icdhost {

bool Word::anyQuoted(std::size_t from) const {
    return std::any_of(quoted.begin() + static_cast<std::ptrdiff_t>(std::min(from, quoted.size())),
                       quoted.end(), [](bool q) { return q; });
}

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

SplitResult splitWords(const std::string& line) {
    SplitResult result;
    Word current;
    bool inWord = false;
    bool inQuotes = false;
    auto append = [&current](char c, bool quoted) {
        current.text.push_back(c);
        current.quoted.push_back(quoted);
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (inQuotes) {
            if (c == '"') {
                inQuotes = false;
            } else if (c == '\\' && i + 1 < line.size()) {
                char next = line[i + 1];
                if (next == '"' || next == '\\') {
                    append(next, true);
                    ++i;
                } else if (next == 'n') {
                    append('\n', true);
                    ++i;
                } else {
                    append('\\', true);
                }
            } else {
                append(c, true);
            }
            continue;
        }
        if (isBlank(c)) {
            if (inWord) {
                result.words.push_back(std::move(current));
                current = Word();
                inWord = false;
            }
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == '"') {
            inQuotes = true;
            inWord = true;
        } else {
            append(c, false);
            inWord = true;
        }
    }
    if (inQuotes) {
        result.words.clear();
        result.error = "unterminated quote";
        return result;
    }
    if (inWord) {
        result.words.push_back(std::move(current));
    }
    return result;
}

std::vector<std::string> splitCommandText(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    bool inQuotes = false;
    bool inComment = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            inQuotes = false;
            inComment = false;
            continue;
        }
        if (inComment) {
            continue;
        }
        if (inQuotes && c == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
            current.push_back(c);
            current.push_back(text[++i]);
            continue;
        }
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && c == '#' && (current.empty() || isBlank(current.back()))) {
            // A comment runs to the end of the line, over any ";".
            inComment = true;
            continue;
        } else if (!inQuotes && c == ';') {
            lines.push_back(std::move(current));
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    lines.push_back(std::move(current));
    return lines;
}

}  // namespace icdhost
