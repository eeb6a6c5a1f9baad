# Type stub of module proxyplugin_ext, the second module a plug-in script can import beside
# proxyplugin. Like proxyplugin it exists only inside a plug-in's sub-interpreter, and its
# functions follow proxyplugin's rules: positional arguments only (a keyword argument raises
# TypeError into the script), the script identifier first and the handler key second, and any
# other wrong call prints a Python error on standard error and returns None. Functions are listed
# in the order of the module's method table, each docstring beginning with the module's own.

from typing import Callable, Final, Optional

from proxyplugin import HandlerKey, ScriptIdentifier

# Message box numbers, as the dialog library numbers them: pass them to proxyplugin.messageBox
# and compare its result with them.
BUTTONS_OK: Final = 0
BUTTONS_OK_CANCEL: Final = 1
BUTTONS_YES_NO_CANCEL: Final = 2
BUTTONS_YES_NO: Final = 3
ICON_NONE: Final = 0
ICON_INFORMATION: Final = 1
ICON_QUESTION: Final = 2
ICON_WARNING: Final = 3
ICON_CRITICAL: Final = 4
# Cancelling or closing the box, and a box nobody answers, give ANSWER_NONE.
ANSWER_NONE: Final = 0
ANSWER_OK: Final = 1
ANSWER_YES: Final = 1
ANSWER_NO: Final = 2

def getAsUInt(identifier: ScriptIdentifier, handler_key: HandlerKey, message: str, field: str,
              /) -> Optional[int]:
    """Get the value of an integer message field as an unsigned 32-bit int

    The field's current engineering value, as the host holds it; None for an unknown message or
    field, a field that is not an integer, or a value below 0 or above 2**32 - 1. Calls no
    encoder."""

def setConsumeICDEventDataCallback(identifier: ScriptIdentifier, handler_key: HandlerKey,
                                   callback: Callable[[int, int], object], /) -> None:
    """Assign the python method to manage events provided by ICD environment, with their data

    callback(event, data) runs on the handler bridge's background thread for every event that
    reaches proxyplugin's event callback, right after that one: the event number as it gets it,
    and the host's data word (an unsigned int). Events that arrived before the first such
    callback was registered never reach it. Each registration replaces the previous one."""
