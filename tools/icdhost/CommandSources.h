// Where commands come from: a file or standard input read line by line, the text of -c, or the
// interactive prompt.
#pragma once

#include <istream>
#include <string>

#include "CommandRunner.h"

namespace icdhost {

// Runs every line of `in` until its end or `quit`.
void runStream(CommandRunner& runner, std::istream& in);
// Runs the text of -c: commands separated by line feeds or ";", numbered from 1.
void runText(CommandRunner& runner, const std::string& text);
// The interactive prompt, with line editing, history and completion of command names and of
// MSG.FIELD; until Ctrl-D or `quit`. Precondition: standard input is a terminal.
void runPrompt(CommandRunner& runner);

}  // namespace icdhost
