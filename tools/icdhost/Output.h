// What icdhost itself prints. Every line is flushed as soon as it is complete, so that it keeps its
// place among the lines the plug-in and its Python scripts write to the same descriptors, also
// through a pipe or into a file.
#pragma once

#include <string>

namespace icdhost {

// One line on standard output ("\n" is added), flushed.
void printLine(const std::string& text);
// One whole line on standard error ("\n" is added), written at once.
void printError(const std::string& text);
// "icdhost: line N: REASON" on standard error.
void printCommandError(unsigned long lineNumber, const std::string& reason);

}  // namespace icdhost
