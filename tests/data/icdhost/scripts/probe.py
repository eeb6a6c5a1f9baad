# A plug-in that reports everything it is asked to do. It runs once per ICD handler; the module
# globals of earlier runs stay, so menus and callables are registered on the first run only.
import proxyplugin as pp

PLUGIN = pp.__proxy_plugin_identifier__
ICD = pp.__proxy_plugin_icd_identifier__
ICD_NAME = pp.__proxy_plugin_icd_interface__

if "handler_keys" not in globals():
    handler_keys = {}
handler_keys[ICD_NAME] = ICD
print("probe: loaded on", ICD_NAME, "clock", pp.__proxy_plugin_icd_us_busclock__, "file",
      pp.__proxy_plugin_icd_filename__)


def event_callable(icd_name):
    def on_event(event):
        print("probe: %s event %d" % (icd_name, event))
        if event == 7:
            raise ValueError("event 7 is refused")
    return on_event


pp.setConsumeICDEventCallback(PLUGIN, ICD, event_callable(ICD_NAME))


class Scale10:
    name = "SCALE10"

    def encode(self, value):
        return value * 10

    def decode(self, raw):
        return raw // 10


class Shout:
    def encode(self, text):
        return text.upper()

    def decode(self, raw):
        return raw.lower()


def start():
    print("probe: start")
    return True


def stop():
    print("probe: stop")
    return True


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
    outputs = dict(inputs)
    outputs["types"] = ",".join("%s:%s" % (key, type(value).__name__)
                                for key, value in sorted(inputs.items()))
    return outputs


def fail(**inputs):
    raise ValueError("fail always fails")


def nothing(**inputs):
    return None


if ICD_NAME == "BUS_A":
    pp.setEncodingFrom(PLUGIN, ICD, "STATUS", "count", Scale10())
    pp.setEncodingFrom(PLUGIN, ICD, "STATUS", "name", Shout())

if len(handler_keys) == 1:
    pp.setName(PLUGIN, "PROBE")
    pp.setStartCallback(PLUGIN, start)
    pp.setStopCallback(PLUGIN, stop)
    pp.setOnPluginActionCallback(PLUGIN, on_action)
    pp.addSimpleAction(PLUGIN, 1, "Tools", pp.ACTION_TYPE_MENU)
    pp.addSimpleAction(PLUGIN, 2, "Verbose", pp.ACTION_TYPE_CHECKABLE, 1)
    pp.addSimpleAction(PLUGIN, 3, "Speed", pp.ACTION_TYPE_EX_GROUP, 1)
    pp.addSimpleAction(PLUGIN, 4, "Fast", pp.ACTION_TYPE_CHECKABLE, 3)
    pp.addSimpleAction(PLUGIN, 5, "Slow", pp.ACTION_TYPE_CHECKABLE, 3)
    pp.addCallableAction(PLUGIN, 6, "Echo", echo, 1)
    pp.addCallableAction(PLUGIN, 7, "Fail", fail)
    pp.addCallableAction(PLUGIN, 8, "Nothing", nothing)
    pp.addSimpleAction(PLUGIN, 9, "Send 42 on BUS_A", pp.ACTION_TYPE_NORMAL)
    pp.addSimpleAction(PLUGIN, 10, "Raise", pp.ACTION_TYPE_NORMAL)
    pp.addSimpleAction(PLUGIN, -1, "Minus one", pp.ACTION_TYPE_NORMAL)


class ProxyPluginObject:
    """The probe plug-in of icdhost's tests."""
