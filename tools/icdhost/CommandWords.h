// The lexical rules of the command language: words separated by blanks, double-quoted words with
// \" \\ and \n escapes, "#" beginning a comment, and the ";" separator of -c.
#pragma once

#include <string>
#include <vector>

namespace icdhost {

struct Word {
    std::string text;
    // One flag per character of text: true when it was written inside double quotes.
    std::vector<bool> quoted;

    bool anyQuoted(std::size_t from = 0) const;
};

struct SplitResult {
    std::vector<Word> words;  // empty for a blank or comment-only line
    std::string error;        // set when the line cannot be split; words are then empty
};

// Splits one command line into words. Outside quotes a blank (space or tab) ends a word and a
// "#" at the start of a word begins a comment that runs to the end of the line. Inside quotes
// \" gives ", \\ gives \, \n gives a line feed; any other backslash stays as written. Quotes may
// stand anywhere in a word (key="a b" is one word); "" alone is an empty word.
SplitResult splitWords(const std::string& line);

// Splits the text of -c into command lines: at line feeds, and at ";" outside double quotes and
// outside a comment (a comment runs to the end of its line).
std::vector<std::string> splitCommandText(const std::string& text);

}  // namespace icdhost
