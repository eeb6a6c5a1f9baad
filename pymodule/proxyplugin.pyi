# Type stub of module proxyplugin, the module a plug-in script imports. The module exists only
# inside a plug-in's sub-interpreter; this file is for editors and type checkers (scripts pass
# `mypy --strict` against it). Functions are listed in the order of the module's method table,
# and each docstring begins with the module's own documentation text (a test keeps both in step).
# docs/scripting.md is the full guide; proxyplugin_ext.pyi types the second module.
#
# Every function takes positional arguments only: a keyword argument raises TypeError into the
# script. Any other wrong call (argument count or types, an unknown identifier or handler key)
# raises nothing: it prints a Python error (with its traceback when there is one) on standard
# error and returns None.

from typing import Any, Callable, Dict, Final, Literal, NewType, Optional, Protocol, Union

# The script identifier and the handler key are both str at run time. For the type checker they
# are two types, so that passing one where the other goes is an error. Neither name exists in the
# module at run time: use them in annotations only (quoted, or after
# `from __future__ import annotations`), and cast("proxyplugin.HandlerKey", text) for a key
# obtained as plain text.
ScriptIdentifier = NewType("ScriptIdentifier", str)
HandlerKey = NewType("HandlerKey", str)

# Action types (addSimpleAction). An unknown number is taken as ACTION_TYPE_NORMAL.
ACTION_TYPE_NORMAL: Final = 1
ACTION_TYPE_MENU: Final = 2
ACTION_TYPE_EX_GROUP: Final = 3
ACTION_TYPE_CHECKABLE: Final = 4

# Message box numbers, as the dialog library numbers them. Module proxyplugin has no names for
# them at run time; module proxyplugin_ext has (proxyplugin_ext.pyi), or write the values:
#   button_flags  0 BUTTONS_OK, 1 BUTTONS_OK_CANCEL, 2 BUTTONS_YES_NO_CANCEL, 3 BUTTONS_YES_NO
#   icon_flags    0 ICON_NONE, 1 ICON_INFORMATION, 2 ICON_QUESTION, 3 ICON_WARNING,
#                 4 ICON_CRITICAL
#   result        0 ANSWER_NONE (cancelled, closed or unanswered), 1 ANSWER_OK, 1 ANSWER_YES,
#                 2 ANSWER_NO
_ButtonFlags = Literal[0, 1, 2, 3]
_IconFlags = Literal[0, 1, 2, 3, 4]

# Published by the plug-in before the script runs.
proxy_plugin_handlers_dict: Dict[Any, Any]
# The script identifier: first argument of every function.
__proxy_plugin_identifier__: ScriptIdentifier
# The ICD handler set last (the script runs once per handler): its key, the second argument of
# the ICD functions; its name; its file; its bus clock period in microseconds, in decimal.
__proxy_plugin_icd_identifier__: HandlerKey
__proxy_plugin_icd_interface__: str
__proxy_plugin_icd_filename__: str
__proxy_plugin_icd_us_busclock__: str

# Encoders, one protocol per kind of field. Parameters are positional: name them as you like.
# Any encoder may also have a `name` attribute (a str), the transcoder's name on numeric fields.

class IntEncoder(Protocol):
    """An encoder of an integer field (bits, short, int, long, longlong and their unsigned
    forms): encode(value) returns the raw word as an int from 0 to 2**64 - 2 (negative values in
    two's complement); decode(raw) gets the raw word and returns the value, an int."""

    def encode(self, value: int, /) -> int: ...
    def decode(self, raw: int, /) -> int: ...

class FloatEncoder(Protocol):
    """An encoder of a float or double field: encode(value) returns the raw word as an int from 0
    to 2**64 - 2; decode(raw) gets the raw word and returns the value (an int is taken too)."""

    def encode(self, value: float, /) -> int: ...
    def decode(self, raw: int, /) -> float: ...

class TextEncoder(Protocol):
    """An encoder of a string field: encode(text) returns the raw text, decode(raw) the text."""

    def encode(self, value: str, /) -> str: ...
    def decode(self, raw: str, /) -> str: ...

# A dictionary action: called with one keyword argument per input key; the dict it returns is the
# output (bool, int, float and str values keep their type). Anything but a dict fails the run.
_DictionaryAction = Callable[..., Dict[str, Any]]

def setStartCallback(identifier: ScriptIdentifier, callback: Callable[[], bool], /) -> None:
    """Assign the python method on bus Start event

    callback() runs on the host's thread when the host starts the plug-in; the plug-in counts as
    running only when it returns True. A non-callable is refused (ReferenceError printed)."""

def setStopCallback(identifier: ScriptIdentifier, callback: Callable[[], bool], /) -> None:
    """Assign the python method on bus Stop event

    callback() runs on the host's thread when the host stops the plug-in, and before every
    setChecked of a checkable action. Returning True marks the plug-in stopped."""

def setOnPluginActionCallback(identifier: ScriptIdentifier, callback: Callable[[int], object],
                              /) -> None:
    """Assign the python method to manage a request of plugin action based on identifier

    callback(action_id) runs on the host's thread when the user picks a menu action; the id
    arrives as a signed 32-bit int."""

def setConsumeICDEventCallback(identifier: ScriptIdentifier, handler_key: HandlerKey,
                               callback: Callable[[int], object], /) -> None:
    """Assign the python method to manage events provided by ICD environment

    callback(event) runs on the handler bridge's background thread, one event at a time, in the
    order the host delivered them. Events 3000, 4000, 4001 and 4002 never arrive."""

def setName(identifier: ScriptIdentifier, name: str, /) -> None:
    """Assign the plugin name

    Read by the plug-in once, right after the script has run."""

def addSimpleAction(identifier: ScriptIdentifier, action_id: int, name: str, action_type: int,
                    parent_id: int = -1, /) -> None:
    """Append action to the plugin

    A menu action of type ACTION_TYPE_*; under the simple action parent_id when it is above 0,
    else top-level. An unknown parent prints RuntimeError "invalid parent id"."""

def addCallableAction(identifier: ScriptIdentifier, action_id: int, name: str,
                      callable: _DictionaryAction,
                      parent_id: int = -1, /) -> Optional[bool]:
    """Append callable action to the plugin

    An action run with a dictionary: each input key becomes a keyword argument, the returned
    dict is the output. Its help is the callable's docstring. False for an unknown parent."""

def setChecked(identifier: ScriptIdentifier, action_id: int, value: int, /) -> Optional[bool]:
    """Set checkable Action value

    Runs the stop callback first (the plug-in stays running whatever it returns), then checks or
    clears the checkable simple action (in an exclusive group, clears its siblings). False when
    the id is unknown or not checkable."""

def getChecked(identifier: ScriptIdentifier, action_id: int, /) -> Optional[bool]:
    """Get checkable Action value

    None when the id is unknown or not a checkable simple action."""

def raiseError(identifier: ScriptIdentifier, handler_key: HandlerKey, message: str, severity: int,
               /) -> Optional[bool]:
    """Raise an Error to the application based on message string and severity passed as arguments

    Severities above 3 are passed as 3."""

def messageBox(identifier: ScriptIdentifier, text: str, caption: str = "",
               button_flags: _ButtonFlags = 0, icon_flags: _IconFlags = 0, /) -> Optional[int]:
    """Utility to open a messageBox dialog

    Returns the number of the button chosen: 1 OK or Yes, 2 No, 0 when cancelled, closed or not
    answered (see the message box numbers above)."""

def inputBox(identifier: ScriptIdentifier, caption: str = "", text: str = "", /) -> Optional[str]:
    """Utility to open a inputBox dialog

    Returns the text entered, or None when cancelled."""

def openFileDialog(identifier: ScriptIdentifier, caption: str = "Open File", directory: str = ".",
                   filters: str = "All Files (*)", /) -> Optional[str]:
    """Utility to open a openFile dialog

    Returns the path chosen, or None when cancelled."""

def saveFileDialog(identifier: ScriptIdentifier, caption: str = "Save File", directory: str = ".",
                   filters: str = "All Files (*)", /) -> Optional[str]:
    """Utility to open a saveFile dialog

    Returns the path chosen, or None when cancelled."""

def openDirDialog(identifier: ScriptIdentifier, caption: str = "Open Dir", directory: str = ".",
                  /) -> Optional[str]:
    """Utility to open a openDir dialog

    Returns the directory chosen, or None when cancelled."""

def commitSingleMessageField(identifier: ScriptIdentifier, handler_key: HandlerKey, message: str,
                             field: str, /) -> Optional[bool]:
    """In case of reserved message field it performs an hidden message commitment (no events or sending operation are performed)

    True only for a field this script reserved with setMessageFieldReserved."""

def commitSingleMessage(identifier: ScriptIdentifier, handler_key: HandlerKey, message: str,
                        /) -> Optional[bool]:
    """It performs a single message commitment (no events or sending operation are performed)

    False when the ICD has no such message."""

def sendICDEvent(identifier: ScriptIdentifier, handler_key: HandlerKey, event: int, /) -> None:
    """Send event to the ICD

    Delivered at once to every UI object of the handler, this script's bridge included (its
    event callback then receives it on the background thread)."""

def setMessageFieldReserved(identifier: ScriptIdentifier, handler_key: HandlerKey, message: str,
                            field: str, flag: int, /) -> Optional[bool]:
    """Set reservation handle (for writing ) on message field

    flag non-zero reserves (False when anyone holds the field), zero releases this script's
    reservation (False when it holds none)."""

def setEncodingFrom(identifier: ScriptIdentifier, handler_key: HandlerKey, message: str, field: str,
                    encoder: Union[IntEncoder, FloatEncoder, TextEncoder], /) -> Optional[bool]:
    """Set encoder for message field

    Installs encoder (an object with encode and decode, optionally name) on the field; prints
    "INFO:: Encoder '...' on field '...' applied properly" or a failure line."""

def getEncoderName(identifier: ScriptIdentifier, handler_key: HandlerKey, message: str, field: str,
                   /) -> Optional[str]:
    """Get encoder name for message field

    None when the ICD has no such message or field."""
