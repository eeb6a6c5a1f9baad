"""Navigation display: an example plug-in script for ProxyPythonPlugin.

It uses every function of module proxyplugin. Run it with its ICD and scenario:

    scripts/example.sh --icd examples/nav_bus.xml --script examples/nav_plugin.py \
        --run examples/nav_scenario.icdhost

or interactively with build/bin/icdhost and the same --icd and --script. It is fully typed:
`MYPYPATH=pymodule mypy --strict examples/nav_plugin.py` checks it against the modules' stubs.
"""
from typing import Any, Dict

import proxyplugin as pp
import proxyplugin_ext as ext

# Every module function takes the script identifier first; those that act on an ICD take the
# handler key second. Both are published by the plug-in before the script runs.
PLUGIN = pp.__proxy_plugin_identifier__
ICD = pp.__proxy_plugin_icd_identifier__

# Menu action ids.
MENU_NAV = 1
ACT_RESET = 2
ACT_LOG = 3
GROUP_UNITS = 10
ACT_FEET = 11
ACT_METRES = 12
ACT_CONVERT = 20
ACT_HOLD_HEADING = 30
ACT_RELEASE_HEADING = 31
ACT_ASK_CALLSIGN = 32
ACT_REPORT_FAULT = 33
ACT_PING = 34
ACT_LOAD_ROUTE = 35

# Event numbers this plug-in understands.
EVENT_POSITION = 100
EVENT_PING = 200
EVENT_PONG = 201



class AltitudeEncoder:
    """NAV_STATUS.altitude: feet (a float field) on the bus as a signed 32-bit count of quarter
    feet. encode returns the raw word as an unsigned int (two's complement for negative
    altitudes); decode gets the raw word and returns feet."""

    name = "ALT_QUARTER_FT"

    def encode(self, feet: float) -> int:
        return int(round(feet * 4)) & 0xFFFFFFFF

    def decode(self, raw: int) -> float:
        raw &= 0xFFFFFFFF
        if raw >= 0x80000000:
            raw -= 0x100000000
        return raw / 4.0


class ModeEncoder:
    """NAV_STATUS.mode: a string field that shows the mode's name; on the bus its code, written in
    decimal. An unknown name or code raises, and the encode or decode fails."""

    CODES = {"STANDBY": 0, "TAKEOFF": 1, "CRUISE": 2, "APPROACH": 3, "LANDED": 4}
    NAMES = {str(code): name for name, code in CODES.items()}

    def encode(self, name: str) -> str:
        return str(self.CODES[name])

    def decode(self, code: str) -> str:
        return self.NAMES[code]


class ProxyPluginObject:
    """Navigation display plug-in.

    Menu "Navigation": reset the trip counters, log position events (checkable), display units
    (an exclusive group: feet or metres), hold the heading field and commit it alone, release it,
    ask the operator for the callsign, report a GPS fault, ping the bus, load a route file.

    Action 20, "Convert altitude", takes and returns dictionaries (see convert_altitude).

    Events: 100 a position update, 200 a ping (answered with 201), 201 the pong.
    """

    def __init__(self) -> None:
        self.positions = 0
        self.units = "ft"

    def start(self) -> bool:
        """Bus start: the plug-in runs from now on (returns True)."""
        print("nav: bus started, clock period", pp.__proxy_plugin_icd_us_busclock__, "us")
        return True

    def stop(self) -> bool:
        """Bus stop; also called before each change of a checkable action."""
        print("nav: stop requested")
        return True

    def on_action(self, action_id: int) -> None:
        """Runs the menu action of that id."""
        if action_id == ACT_RESET:
            self.positions = 0
            print("nav: trip counters reset")
        elif action_id == ACT_LOG:
            logging = not pp.getChecked(PLUGIN, ACT_LOG)
            pp.setChecked(PLUGIN, ACT_LOG, logging)
            print("nav: position log", "on" if logging else "off")
        elif action_id in (ACT_FEET, ACT_METRES):
            pp.setChecked(PLUGIN, action_id, True)
            self.units = "ft" if action_id == ACT_FEET else "m"
            print("nav: units", self.units, "- feet checked:", pp.getChecked(PLUGIN, ACT_FEET),
                  "metres checked:", pp.getChecked(PLUGIN, ACT_METRES))
        elif action_id == ACT_HOLD_HEADING:
            reserved = pp.setMessageFieldReserved(PLUGIN, ICD, "NAV_STATUS", "heading", 1)
            committed = pp.commitSingleMessageField(PLUGIN, ICD, "NAV_STATUS", "heading")
            print("nav: heading reserved", reserved, "- committed alone", committed)
        elif action_id == ACT_RELEASE_HEADING:
            released = pp.setMessageFieldReserved(PLUGIN, ICD, "NAV_STATUS", "heading", 0)
            print("nav: heading released", released, "- committed alone",
                  pp.commitSingleMessageField(PLUGIN, ICD, "NAV_STATUS", "heading"))
        elif action_id == ACT_ASK_CALLSIGN:
            button = pp.messageBox(PLUGIN, "Change the callsign?", "Navigation",
                                   ext.BUTTONS_YES_NO, ext.ICON_QUESTION)
            if button == ext.ANSWER_YES:
                callsign = pp.inputBox(PLUGIN, "Callsign", "Enter the flight's callsign")
                print("nav: callsign", repr(callsign))
            else:
                print("nav: callsign unchanged (button %s)" % button)
        elif action_id == ACT_REPORT_FAULT:
            accepted = pp.raiseError(PLUGIN, ICD, "GPS receiver lost its fix", 2)
            print("nav: fault reported", accepted)
        elif action_id == ACT_PING:
            print("nav: sending ping")
            pp.sendICDEvent(PLUGIN, ICD, EVENT_PING)
        elif action_id == ACT_LOAD_ROUTE:
            path = pp.openFileDialog(PLUGIN, "Load route", ".", "Routes (*.rte)")
            print("nav: route file", repr(path))
            if path is not None:
                print("nav: route committed", pp.commitSingleMessage(PLUGIN, ICD, "ROUTE"))
        else:
            print("nav: action", action_id, "has no handler")

    def on_event(self, event: int) -> None:
        """Runs on the bridge's background thread, one event at a time."""
        if event == EVENT_POSITION:
            self.positions += 1
            if pp.getChecked(PLUGIN, ACT_LOG):
                print("nav: position update", self.positions)
        elif event == EVENT_PING:
            print("nav: ping received, answering")
            pp.sendICDEvent(PLUGIN, ICD, EVENT_PONG)
        elif event == EVENT_PONG:
            print("nav: pong received")
        else:
            print("nav: event", event, "ignored")

    def convert_altitude(self, feet: float = 0.0, qnh_hpa: float = 1013.25) -> Dict[str, Any]:
        """Converts an altitude to metres and a flight level.

        inputs:  feet (number), qnh_hpa (number, default 1013.25)
        outputs: metres (double), flight_level (long), above_transition (bool), units (string)
        """
        for name, value in (("feet", feet), ("qnh_hpa", qnh_hpa)):
            if isinstance(value, bool) or not isinstance(value, (int, float)):
                raise ValueError("%s must be a number, not %r" % (name, value))
        pressure_altitude = feet + (1013.25 - qnh_hpa) * 27
        return {
            "metres": feet * 0.3048,
            "flight_level": int(pressure_altitude // 100),
            "above_transition": pressure_altitude >= 6000,
            "units": self.units,
        }


nav = ProxyPluginObject()
pp.setName(PLUGIN, "NAV")
pp.setStartCallback(PLUGIN, nav.start)
pp.setStopCallback(PLUGIN, nav.stop)
pp.setOnPluginActionCallback(PLUGIN, nav.on_action)
pp.setConsumeICDEventCallback(PLUGIN, ICD, nav.on_event)

pp.addSimpleAction(PLUGIN, MENU_NAV, "Navigation", pp.ACTION_TYPE_MENU)
pp.addSimpleAction(PLUGIN, ACT_RESET, "Reset trip", pp.ACTION_TYPE_NORMAL, MENU_NAV)
pp.addSimpleAction(PLUGIN, ACT_LOG, "Log positions", pp.ACTION_TYPE_CHECKABLE, MENU_NAV)
pp.addSimpleAction(PLUGIN, GROUP_UNITS, "Units", pp.ACTION_TYPE_EX_GROUP, MENU_NAV)
pp.addSimpleAction(PLUGIN, ACT_FEET, "Feet", pp.ACTION_TYPE_CHECKABLE, GROUP_UNITS)
pp.addSimpleAction(PLUGIN, ACT_METRES, "Metres", pp.ACTION_TYPE_CHECKABLE, GROUP_UNITS)
pp.addSimpleAction(PLUGIN, ACT_HOLD_HEADING, "Hold heading", pp.ACTION_TYPE_NORMAL, MENU_NAV)
pp.addSimpleAction(PLUGIN, ACT_RELEASE_HEADING, "Release heading", pp.ACTION_TYPE_NORMAL, MENU_NAV)
pp.addSimpleAction(PLUGIN, ACT_ASK_CALLSIGN, "Callsign...", pp.ACTION_TYPE_NORMAL, MENU_NAV)
pp.addSimpleAction(PLUGIN, ACT_REPORT_FAULT, "Report GPS fault", pp.ACTION_TYPE_NORMAL, MENU_NAV)
pp.addSimpleAction(PLUGIN, ACT_PING, "Ping", pp.ACTION_TYPE_NORMAL, MENU_NAV)
pp.addSimpleAction(PLUGIN, ACT_LOAD_ROUTE, "Load route...", pp.ACTION_TYPE_NORMAL, MENU_NAV)
pp.addCallableAction(PLUGIN, ACT_CONVERT, "Convert altitude", nav.convert_altitude)
pp.setChecked(PLUGIN, ACT_FEET, True)

pp.setEncodingFrom(PLUGIN, ICD, "NAV_STATUS", "altitude", AltitudeEncoder())
pp.setEncodingFrom(PLUGIN, ICD, "NAV_STATUS", "mode", ModeEncoder())
print("nav: loaded on", pp.__proxy_plugin_icd_interface__, "- encoders",
      pp.getEncoderName(PLUGIN, ICD, "NAV_STATUS", "altitude"), "and",
      pp.getEncoderName(PLUGIN, ICD, "NAV_STATUS", "mode"))
