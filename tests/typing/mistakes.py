"""Mistakes script authors make, each of which the stubs must report (see check_stubs.py)."""
from typing import Any, Dict, List

import proxyplugin as pp
import proxyplugin_ext as ext

PLUGIN = pp.__proxy_plugin_identifier__
ICD = pp.__proxy_plugin_icd_identifier__

# Identifier and handler key swapped, or one given where the other goes.
pp.sendICDEvent(ICD, PLUGIN, 5)  # error: Argument 1 to "sendICDEvent" has incompatible type "HandlerKey"
pp.commitSingleMessage(PLUGIN, PLUGIN, "ROUTE")  # error: Argument 2 to "commitSingleMessage" has incompatible type "ScriptIdentifier"
pp.setName(ICD, "NAV")  # error: Argument 1 to "setName" has incompatible type "HandlerKey"
ext.getAsUInt(ICD, PLUGIN, "ENGINE", "rpm")  # error: Argument 1 to "getAsUInt" has incompatible type "HandlerKey"
# A plain text where the identifier goes, or the identifier left out.
pp.getChecked("proxyplugin#0@0000", 3)  # error: Argument 1 to "getChecked" has incompatible type "str"
pp.setName("NAV")  # error: Too few arguments for "setName"
# Keyword arguments: the functions take positional arguments only.
pp.setName(PLUGIN, name="NAV")  # error: Unexpected keyword argument "name" for "setName"


# Encoders whose methods do not fit any kind of field.
class FloatWord:
    def encode(self, v: int) -> float:
        return v * 0.5

    def decode(self, raw: int) -> int:
        return raw


class TextCounter:
    def encode(self, text: str) -> str:
        return text

    def decode(self, raw: str) -> int:
        return len(raw)


class EncodeOnly:
    def encode(self, v: int) -> int:
        return v


pp.setEncodingFrom(PLUGIN, ICD, "ENGINE", "rpm", FloatWord())  # error: Argument 5 to "setEncodingFrom" has incompatible type "FloatWord"
pp.setEncodingFrom(PLUGIN, ICD, "NAV", "mode", TextCounter())  # error: Argument 5 to "setEncodingFrom" has incompatible type "TextCounter"
pp.setEncodingFrom(PLUGIN, ICD, "ENGINE", "rpm", EncodeOnly())  # error: Argument 5 to "setEncodingFrom" has incompatible type "EncodeOnly"


# Dictionary actions that do not return a dict.
def returns_nothing(feet: float = 0.0) -> None:
    print(feet)


def returns_list() -> List[str]:
    return ["metres"]


pp.addCallableAction(PLUGIN, 20, "Convert", returns_nothing)  # error: Argument 4 to "addCallableAction" has incompatible type
pp.addCallableAction(PLUGIN, 21, "List", returns_list)  # error: Argument 4 to "addCallableAction" has incompatible type


# Callbacks of the wrong shape: a start callback that returns 1 never counts as running, the
# result of a call registered instead of the callable, event callables with the wrong parameters.
def start_with_one() -> int:
    return 1


def start() -> bool:
    return True


def on_event(event: int) -> None:
    print(event)


def on_name(name: str) -> None:
    print(name)


pp.setStartCallback(PLUGIN, start_with_one)  # error: Argument 2 to "setStartCallback" has incompatible type
pp.setStartCallback(PLUGIN, start())  # error: Argument 2 to "setStartCallback" has incompatible type "bool"
ext.setConsumeICDEventDataCallback(PLUGIN, ICD, on_event)  # error: Argument 3 to "setConsumeICDEventDataCallback" has incompatible type
pp.setConsumeICDEventCallback(PLUGIN, ICD, on_name)  # error: Argument 3 to "setConsumeICDEventCallback" has incompatible type

# Message boxes: an icon where the buttons go, a number no button set has, and names that module
# proxyplugin does not have at run time.
pp.messageBox(PLUGIN, "Sure?", "Quit", ext.ICON_CRITICAL)  # error: Argument 4 to "messageBox" has incompatible type "Literal[4]"
pp.messageBox(PLUGIN, "Sure?", "Quit", 0, 9)  # error: Argument 5 to "messageBox" has incompatible type "Literal[9]"
pp.messageBox(PLUGIN, "Sure?", "Quit", pp.BUTTONS_YES_NO)  # error: Module has no attribute "BUTTONS_YES_NO"

# Results that may be None used as if they could not.
rpm: int = ext.getAsUInt(PLUGIN, ICD, "ENGINE", "rpm")  # error: Incompatible types in assignment (expression has type "Optional[int]", variable has type "int")
name: str = pp.getEncoderName(PLUGIN, ICD, "NAV", "mode")  # error: Incompatible types in assignment
# The bus clock is published as text.
period: int = pp.__proxy_plugin_icd_us_busclock__  # error: Incompatible types in assignment (expression has type "str", variable has type "int")
settings: Dict[str, Any] = {}
