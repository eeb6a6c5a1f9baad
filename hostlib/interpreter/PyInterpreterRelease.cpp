// Releases the interpreter the calling thread holds around a wait, and takes it back after.
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "ThreadStates.h"

PyInterpreterRelease::PyInterpreterRelease()
    : _saved(nullptr), _savedKind(interpreter_detail::kKindUntouched) {
    if (interpreter_detail::heldState() != nullptr) {
        _savedKind = interpreter_detail::heldKind();
        interpreter_detail::recordHeld(nullptr, interpreter_detail::kKindNone);
        _saved = PyEval_SaveThread();
    } else if (pycompat::callingThreadState() != nullptr) {
        _saved = PyEval_SaveThread();
        _savedKind = interpreter_detail::kKindForeign;
    }
}

PyInterpreterRelease::~PyInterpreterRelease() {
    if (_saved == nullptr) {
        return;
    }
    interpreter_detail::takeLockOnThisThread(_saved);
    if (_savedKind != interpreter_detail::kKindForeign) {
        interpreter_detail::recordHeld(_saved, _savedKind);
    }
}

bool PyInterpreterRelease::threadHoldsInterpreter() {
    return interpreter_detail::heldState() != nullptr;
}
