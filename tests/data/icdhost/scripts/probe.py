# A plug-in that reports everything it is asked to do. It runs once per ICD handler; the module
# globals of earlier runs stay, so menus and callables are registered on the first run only.
import proxyplugin as pp

PLUGIN, ICD = pp.__proxy_plugin_identifier__, pp.__proxy_plugin_icd_identifier__
ICD_NAME = pp.__proxy_plugin_icd_interface__
handler_keys = globals().get("handler_keys", {})
handler_keys[ICD_NAME] = ICD
print("probe: loaded on", ICD_NAME, "clock", pp.__proxy_plugin_icd_us_busclock__, "file",
      pp.__proxy_plugin_icd_filename__)


def event_callable(icd_name):
    def on_event(event):
        print("probe: %s event %d" % (icd_name, event))
        if event == 7:
            raise ValueError("event 7 is refused")
    return on_event


class Scale10:
    name = "SCALE10"
    def encode(self, value): return value * 10
    def decode(self, raw): return raw // 10


class Shout:
    def encode(self, text): return text.upper()
    def decode(self, raw): return raw.lower()


def on_action(action_id):
    print("probe: action", action_id)
    if action_id == 2:
        pp.setChecked(PLUGIN, 2, not pp.getChecked(PLUGIN, 2))
    elif action_id in (4, 5):
        pp.setChecked(PLUGIN, action_id, 1)
    elif action_id == 9:
        pp.sendICDEvent(PLUGIN, handler_keys["BUS_A"], 42)
    elif action_id == 10:
        raise RuntimeError("action 10 fails")


def echo(**inputs):
    """Returns its inputs and their Python types.

    Takes any keyword."""
    types = ",".join("%s:%s" % (key, type(value).__name__) for key, value in sorted(inputs.items()))
    return dict(inputs, types=types)


def fail(**inputs):
    raise ValueError("fail always fails")


pp.setConsumeICDEventCallback(PLUGIN, ICD, event_callable(ICD_NAME))
if ICD_NAME == "BUS_A":
    pp.setEncodingFrom(PLUGIN, ICD, "STATUS", "count", Scale10())
    pp.setEncodingFrom(PLUGIN, ICD, "STATUS", "name", Shout())
if len(handler_keys) == 1:
    pp.setName(PLUGIN, "PROBE")
    pp.setStartCallback(PLUGIN, lambda: print("probe: start") or True)
    pp.setStopCallback(PLUGIN, lambda: print("probe: stop") or True)
    pp.setOnPluginActionCallback(PLUGIN, on_action)
    for action in [(1, "Tools", pp.ACTION_TYPE_MENU), (2, "Verbose", pp.ACTION_TYPE_CHECKABLE, 1),
                   (3, "Speed", pp.ACTION_TYPE_EX_GROUP, 1), (4, "Fast", pp.ACTION_TYPE_CHECKABLE, 3),
                   (5, "Slow", pp.ACTION_TYPE_CHECKABLE, 3), (6, "Echo", echo, 1), (7, "Fail", fail),
                   (8, "Nothing", lambda **inputs: None), (9, "Send 42 on BUS_A", 1),
                   (10, "Raise", 1), (-1, "Minus one", 1)]:
        add = pp.addCallableAction if callable(action[2]) else pp.addSimpleAction
        add(PLUGIN, *action)


class ProxyPluginObject:
    """The probe plug-in of icdhost's tests."""
