# Every kind of callable the plug-in calls fails in the way `failure["how"]` names: "raise" raises
# an exception, "exit" calls sys.exit(), "SystemExit" raises SystemExit, "interrupt" raises
# KeyboardInterrupt. Actions 11 to 14 switch the way (for icdhost scenarios); the in-process tests
# set it directly.
import sys

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
failure = {"how": "raise"}
WAYS = {11: "raise", 12: "exit", 13: "SystemExit", 14: "interrupt"}


class HostileError(Exception):
    pass


def fail(where):
    how = failure["how"]
    if how == "raise":
        raise HostileError(where)
    if how == "exit":
        sys.exit(where)
    if how == "SystemExit":
        raise SystemExit(where)
    raise KeyboardInterrupt(where)


def start():
    fail("start")


def stop():
    fail("stop")


def on_action(action_id):
    if action_id in WAYS:
        failure["how"] = WAYS[action_id]
        print("fails_everywhere: now failing with", WAYS[action_id])
        return
    fail("action")


def on_event(event):
    fail("event")


def dictionary_action(**inputs):
    fail("dictionary action")


class Coder:
    name = "FAILING"

    def encode(self, value):
        fail("encode")

    def decode(self, raw):
        fail("decode")


pp.setName(ID, "FAILING")
pp.setStartCallback(ID, start)
pp.setStopCallback(ID, stop)
pp.setOnPluginActionCallback(ID, on_action)
pp.setConsumeICDEventCallback(ID, KEY, on_event)
pp.addCallableAction(ID, 7, "Dictionary", dictionary_action)
pp.addSimpleAction(ID, 8, "Checkable", pp.ACTION_TYPE_CHECKABLE)
pp.addSimpleAction(ID, 1, "Fails", pp.ACTION_TYPE_NORMAL)
for number, way in sorted(WAYS.items()):
    pp.addSimpleAction(ID, number, "Fail with " + way, pp.ACTION_TYPE_NORMAL)
pp.setEncodingFrom(ID, KEY, "STATUS", "int", Coder())
pp.setEncodingFrom(ID, KEY, "STATUS", "text", Coder())


class ProxyPluginObject:
    """Fails everywhere."""
