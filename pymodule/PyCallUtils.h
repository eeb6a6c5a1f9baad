// Python call utilities shared by the registry, the module, the bridges, the actions and the
// transcoders. Every function but ReplaceAll requires the caller to hold the interpreter.
#pragma once

#include <Python.h>

#include <string>
#include <vector>

#include "ICDPlatform.h"

class PySession;

// Stores `candidate` (borrowed, may be null) in `*slot`, which is null or owns one reference.
// Returns a new reference to None when stored; null when refused (not callable), after printing a
// ReferenceError and the " Failed to setCallbackByRef. " line; the slot is then unchanged.
PPP_API PyObject* setCallbackByRef(PyObject** slot, PyObject* candidate);
// The same for a slot that keeps the registering session beside the object (see
// PySession::current): the candidate is stored with the calling thread's session, and the
// previous object is released inside its own session. The refusal is the same.
PPP_API PyObject* setCallbackByRef(PyObject** slot, PySession** sessionSlot, PyObject* candidate);
// Releases `object` (owned, may be null) inside `session`, the session that registered it.
// Precondition: the calling thread holds an interpreter or may enter one (it waits for none of
// its own locks meanwhile).
PPP_API void releaseInSession(PySession* session, PyObject* object);
// Calls `callable` with `args` (both borrowed; args may be null). Returns a new reference, or
// null after printing the Python error; never leaves an error pending.
PPP_API PyObject* evalCallback(PyObject* callable, PyObject* args);
// Takes the pending error out of the interpreter and returns it as
// File "FILE", line N, in FUNC\nTYPE: VALUE. `type` is what PyErr_Occurred returned (borrowed);
// null returns the empty text and touches nothing.
PPP_API std::string PyError2StdString(PyObject* type);
// A new tuple of str made from UTF-8 texts (each cut at its first NUL). An element that is not
// valid UTF-8 becomes a str with its bad bytes replaced (U+FFFD); never fails for that.
PPP_API PyObject* stringListToPyTuple(std::vector<std::string> list);
// Replaces every occurrence of `search` present beforehand; an empty `search` returns `subject`
// unchanged.
PPP_API std::string ReplaceAll(std::string subject, const std::string& search,
                               const std::string& replacement);
