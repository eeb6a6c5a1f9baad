"""A script that uses both modules as their stubs type them; mypy --strict finds nothing here.

Encoders annotated the way their fields are typed, a dictionary action, callbacks, the message
box numbers of proxyplugin_ext, a field value and the event data."""
from typing import Any, Dict, Optional

import proxyplugin as pp
import proxyplugin_ext as ext

PLUGIN = pp.__proxy_plugin_identifier__
ICD = pp.__proxy_plugin_icd_identifier__


class CountEncoder:
    """An int field: the parameter's name and an int-only signature are the script's choice."""

    name = "COUNT_X2"

    def encode(self, v: int) -> int:
        return (v * 2) & 0xFFFFFFFF

    def decode(self, raw: int) -> int:
        return raw // 2


class FeetEncoder:
    def encode(self, feet: float) -> int:
        return int(round(feet * 4)) & 0xFFFFFFFF

    def decode(self, raw: int) -> float:
        return raw / 4.0


class ModeEncoder:
    def encode(self, text: str) -> str:
        return text.upper()

    def decode(self, raw: str) -> str:
        return raw.lower()


def start() -> bool:
    return True


def on_action(action_id: int) -> None:
    if pp.messageBox(PLUGIN, "Reset?", "Trip", ext.BUTTONS_YES_NO, ext.ICON_QUESTION) == \
            ext.ANSWER_YES:
        value: Optional[int] = ext.getAsUInt(PLUGIN, ICD, "ENGINE", "rpm")
        print("rpm", value if value is not None else "unknown")


def on_event(event: int, data: int) -> None:
    print("event", event, "data", data)


def convert(feet: float = 0.0) -> Dict[str, Any]:
    return {"metres": feet * 0.3048, "above": feet > 6000}


def route_key(keys: "Dict[str, pp.HandlerKey]", name: str) -> "Optional[pp.HandlerKey]":
    return keys.get(name)


pp.setName(PLUGIN, "TYPED")
pp.setStartCallback(PLUGIN, start)
pp.setStopCallback(PLUGIN, lambda: True)
pp.setOnPluginActionCallback(PLUGIN, on_action)
pp.setConsumeICDEventCallback(PLUGIN, ICD, print)
ext.setConsumeICDEventDataCallback(PLUGIN, ICD, on_event)
pp.addSimpleAction(PLUGIN, 1, "Menu", pp.ACTION_TYPE_MENU)
pp.addCallableAction(PLUGIN, 2, "Convert", convert, 1)
pp.setEncodingFrom(PLUGIN, ICD, "ENGINE", "rpm", CountEncoder())
pp.setEncodingFrom(PLUGIN, ICD, "NAV", "altitude", FeetEncoder())
pp.setEncodingFrom(PLUGIN, ICD, "NAV", "mode", ModeEncoder())
pp.messageBox(PLUGIN, "Plain text only")
print(route_key({pp.__proxy_plugin_icd_interface__: ICD}, "bus"))
