// Whole-line standard output and error for scripts. print() writes each argument, separator and
// line end separately; on an unbuffered stream each piece is a write of its own, so lines of two
// threads, or a script thread's and the host's, tear. Each sub-interpreter's sys.stdout and
// sys.stderr (and __stdout__, __stderr__) write instead into a buffer of the calling thread, which
// goes to the file descriptor a whole line (or several) in one write as soon as a line end arrives.
// The rest of a line goes out when the thread flushes the stream, leaves a session (so text a
// script printed before returning to the host precedes what the host prints next), writes to the
// other stream, or ends. Nothing waits for a buffer to fill.
//
// Lock rules: one process-wide mutex orders the writes of these streams; it is taken only with the
// interpreter lock released and is held for the write alone.
#pragma once

#include <Python.h>

namespace interpreter_detail {

// Replaces sys.stdout, sys.stderr, sys.__stdout__ and sys.__stderr__ of the current interpreter
// with line-writing streams of the same encoding and error handler. A stream that is None (no
// descriptor at start-up) stays None. Prints and clears any error. Precondition: the session is
// held (a new session's, before any script code runs in it).
void installLineStreams();

// True when the calling thread has the start of a line waiting (thread-local, lock free).
bool linePending();
// Writes the calling thread's waiting line starts. Takes the output mutex; needs no interpreter.
// A caller that still holds an interpreter (a nested session left) holds it during the write.
void writePendingLines();

// Declared first in a scope that releases an interpreter, so that it runs last: writes what the
// thread left waiting once the interpreter is released.
class PendingLinesAtExit {
public:
    PendingLinesAtExit() = default;
    ~PendingLinesAtExit() {
        if (linePending()) {
            writePendingLines();
        }
    }
    PendingLinesAtExit(const PendingLinesAtExit&) = delete;
    PendingLinesAtExit& operator=(const PendingLinesAtExit&) = delete;
};

}  // namespace interpreter_detail
