// _thread.interrupt_main() made harmless in a process whose Python started without signal
// handlers.
#pragma once

namespace interpreter_detail {

// Sets the main interpreter's Python handler of SIGINT to SIG_DFL, so that interrupt_main(), from
// any thread and interpreter, does nothing. Left empty, that entry makes it fault in CPython
// 3.11.0 to 3.11.2 (no check for an empty entry) and, from 3.10, print "Signal 2 ignored due to
// race condition" in whatever thread next runs the main interpreter. The host's own disposition
// of SIGINT is put back at once: Python's table changes, the process's handling does not.
// Precondition: the calling thread holds the main interpreter, which it initialised.
void quietInterruptMain();

}  // namespace interpreter_detail
