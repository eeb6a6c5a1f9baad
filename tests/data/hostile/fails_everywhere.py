# Every callable the plug-in calls fails in the way failure["how"] names: "raise" raises an
# exception, "exit" calls sys.exit(), "SystemExit" raises SystemExit, "interrupt" raises
# KeyboardInterrupt. Actions 11 to 14 switch the way (for icdhost scenarios).
import sys

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
failure = {"how": "raise"}
WAYS = {11: "raise", 12: "exit", 13: "SystemExit", 14: "interrupt"}


class HostileError(Exception):
    pass


def fail(where):
    if failure["how"] == "exit":
        sys.exit(where)
    kinds = {"raise": HostileError, "SystemExit": SystemExit, "interrupt": KeyboardInterrupt}
    raise kinds[failure["how"]](where)


def on_action(action_id):
    if action_id not in WAYS:
        fail("action")
    failure["how"] = WAYS[action_id]


class Coder:
    def encode(self, value):
        fail("encode")

    def decode(self, raw):
        fail("decode")


pp.setName(ID, "FAILING")
pp.setStartCallback(ID, lambda: fail("start"))
pp.setStopCallback(ID, lambda: fail("stop"))
pp.setOnPluginActionCallback(ID, on_action)
pp.setConsumeICDEventCallback(ID, KEY, lambda event: fail("event"))
pp.addCallableAction(ID, 7, "Dictionary", lambda **inputs: fail("dictionary action"))
pp.addSimpleAction(ID, 8, "Checkable", pp.ACTION_TYPE_CHECKABLE)
for number in [1] + sorted(WAYS):
    pp.addSimpleAction(ID, number, "Fails", pp.ACTION_TYPE_NORMAL)
pp.setEncodingFrom(ID, KEY, "STATUS", "int", Coder())
pp.setEncodingFrom(ID, KEY, "STATUS", "text", Coder())


class ProxyPluginObject:
    """Fails everywhere."""
