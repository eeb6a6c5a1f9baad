// Extension modules without multi-phase initialisation in an interpreter with a lock of its own.
// CPython can only tell such a module by running its initialisation function, and refuses it
// afterwards: the function has then run in an interpreter that does not own the module's
// process-wide state, which some of the standard library's corrupt when a second interpreter does
// it (_decimal and _datetime abort the process on CPython 3.12). So each such interpreter refuses
// the standard library's single-phase modules before their initialisation runs, with the words
// and the ImportError CPython uses, and the standard library falls back on its pure-Python
// modules where it has them (decimal, datetime, zoneinfo).
#pragma once

namespace interpreter_detail {

// Puts the refusing finder at the head of sys.meta_path. Precondition: the interpreter is held
// and has a lock of its own.
void refuseSinglePhaseModules();

}  // namespace interpreter_detail
