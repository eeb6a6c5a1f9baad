// Where the dialogs get their answers: the process-wide queue first, then the terminal.
#pragma once

#include <optional>
#include <string>

#include "QtInterpreter.h"

namespace qtinterpreter_detail {

struct DialogAnswer {
    bool cancelled = false;
    std::string text;
};

// The next queued answer; else, when interactive, a line typed at the terminal (end of input
// cancels), read with the interpreter released, through the host's terminal asker when it set
// one; else nothing. Precondition: no lock of this library is held.
std::optional<DialogAnswer> obtainAnswer(const QtInterpreterDialogs::DialogRequest& request);

// Writes one whole line on standard output and flushes it.
void printLine(const std::string& line);

}  // namespace qtinterpreter_detail
