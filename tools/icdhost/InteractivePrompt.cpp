// The prompt uses libedit through its readline interface.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <editline/readline.h>

#include "CommandSources.h"
#include "CommandWords.h"

namespace icdhost {

namespace {

// libedit calls the completion functions without a context: the runner of the prompt that is
// running, and the candidates of the word being completed.
CommandRunner* promptRunner = nullptr;
std::vector<std::string> candidates;

char* nextCandidate(const char* text, int state) {
    static std::size_t index;
    if (state == 0) {
        index = 0;
    }
    std::size_t length = std::strlen(text);
    while (index < candidates.size()) {
        const std::string& candidate = candidates[index++];
        if (candidate.compare(0, length, text) == 0) {
            return strdup(candidate.c_str());  // freed by libedit
        }
    }
    return nullptr;
}

char** complete(const char* text, int start, int end) {
    (void)end;
    rl_attempted_completion_over = 1;  // never fall back to file names
    std::vector<Word> before = splitWords(std::string(rl_line_buffer, start)).words;
    if (before.empty()) {
        candidates = CommandRunner::commandNames();
    } else if (before.size() == 1 && CommandRunner::takesField(before.front().text) &&
               promptRunner != nullptr) {
        candidates = promptRunner->fieldNames();
    } else {
        return nullptr;
    }
    return rl_completion_matches(text, nextCandidate);
}

bool isBlankLine(const char* line) {
    for (const char* c = line; *c != '\0'; ++c) {
        if (*c != ' ' && *c != '\t') {
            return false;
        }
    }
    return true;
}

// The history file: ICDHOST_HISTORY when set (empty: no file), else ~/.icdhost_history; empty
// when there is no home folder. Kept across sessions like a shell's, trimmed to kHistoryLines.
constexpr int kHistoryLines = 1000;

std::string historyPath() {
    if (const char* path = std::getenv("ICDHOST_HISTORY")) {
        return path;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::string(home) + "/.icdhost_history" : "";
}

}  // namespace

void runPrompt(CommandRunner& runner) {
    promptRunner = &runner;
    // Standard input alone decides whether there is a prompt. With standard output going to a
    // pipe or a file, the line editor draws the prompt and the typed line on the terminal itself
    // (it would not edit at all on a pipe), and the commands' output still goes where it was sent.
    FILE* terminal = nullptr;
    if (::isatty(STDOUT_FILENO) == 0) {
        const char* name = ::ttyname(STDIN_FILENO);
        terminal = name != nullptr ? std::fopen(name, "w") : nullptr;
        if (terminal != nullptr) {
            rl_outstream = terminal;
        }
    }
    rl_readline_name = "icdhost";
    rl_attempted_completion_function = complete;
    using_history();
    stifle_history(kHistoryLines);
    const std::string history = historyPath();
    if (!history.empty()) {
        read_history(history.c_str());  // a missing or unreadable file starts an empty history
    }
    unsigned long number = 0;
    for (;;) {
        std::cout.flush();
        std::fflush(stdout);
        char* line = readline("icdhost> ");
        if (line == nullptr) {
            // Ctrl-D: leave the terminal on a fresh line.
            if (terminal != nullptr) {
                std::fputs("\n", terminal);
                std::fflush(terminal);
            } else {
                std::cout << std::endl;
            }
            break;
        }
        if (!isBlankLine(line)) {
            add_history(line);
        }
        CommandRunner::Outcome outcome = runner.run(line, ++number);
        std::free(line);
        if (outcome == CommandRunner::Outcome::Quit) {
            break;
        }
    }
    if (!history.empty()) {
        write_history(history.c_str());  // a history that cannot be saved is only lost
    }
    promptRunner = nullptr;
    if (terminal != nullptr) {
        rl_outstream = stdout;
        std::fclose(terminal);
    }
}

}  // namespace icdhost
