// Text of a Python exception as the interpreter itself would print it.
#pragma once

#include <Python.h>

#include <string>

namespace interpreter_detail {

// Takes the pending exception out of the interpreter and returns it with its traceback, formatted
// by traceback.format_exception and joined, without the final line end; the empty text when no
// error is pending. Never leaves an error pending. SystemExit and KeyboardInterrupt are formatted
// like any other exception. Precondition: the interpreter lock is held.
std::string takePendingErrorText();

}  // namespace interpreter_detail
