// Where commands come from: a file or standard input read line by line, or the text of -c.
#include "CommandSources.h"

#include "CommandWords.h"

namespace icdhost {

void runStream(CommandRunner& runner, std::istream& in) {
    std::string line;
    unsigned long number = 0;
    while (std::getline(in, line)) {
        if (runner.run(line, ++number) == CommandRunner::Outcome::Quit) {
            return;
        }
    }
}

void runText(CommandRunner& runner, const std::string& text) {
    unsigned long number = 0;
    for (const std::string& line : splitCommandText(text)) {
        if (runner.run(line, ++number) == CommandRunner::Outcome::Quit) {
            return;
        }
    }
}

}  // namespace icdhost
