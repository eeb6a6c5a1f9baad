# The body of the stress test's plug-ins. Plug-ins 0 and 1 are each the first on one ICD: the
# handler key reaches their bridge, so they register the event callable and encoders there
# (attach). Plug-in 2 comes second on both ICDs, so it registers nothing there; it sends events to
# both from its action callable, a fifth source for the owners' event callables (attach_guest).
# Event callables check delivery as they go, so that nothing grows with the number of events:
# per ICD and source they keep the next expected sequence number; anything else goes to `faults`.
import sys
import threading

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
BASE = 1000000  # event = (source + 1) * BASE + sequence number
SOURCES = 5  # the four raising host threads, then plug-in 2's action callable
MENU, CHECKED_BY_EVENTS, CHECKED_BY_ACTIONS = 1, 2, 3
faults = []
expected = {}  # ICD name -> next sequence number per source
actions_run = [0]
added = [0]
driver_wrong = {}
keys = {}  # ICD name -> handler key, for plug-in 2
sent = {}  # ICD name -> events plug-in 2 sent there
tracked = []  # every callable and encoder handed to the plug-in, for the reference counts
factor = None


def fault(text):
    if len(faults) < 5:
        faults.append(text)


# Integer fields: raw = value * factor + 1. Text fields: the raw text carries the factor; decoding
# drops it and upper-cases.
class Coder:
    def __init__(self, factor):
        self.factor = factor

    def encode(self, value):
        return "%s|%d" % (value, self.factor) if isinstance(value, str) else value * self.factor + 1

    def decode(self, raw):
        return raw.split("|")[0].upper() if isinstance(raw, str) else (raw - 1) // self.factor


def add_action(name):
    added[0] += 1
    pp.addSimpleAction(ID, 10000 + added[0], name, pp.ACTION_TYPE_NORMAL, *[MENU][:added[0] % 2])


def event_callable(icd):
    nexts = expected.setdefault(icd, [0] * SOURCES)

    def on_event(event):
        source, sequence = event // BASE - 1, event % BASE
        if not 0 <= source < SOURCES or sequence != nexts[source]:
            return fault("%s: event %d, expected %s" % (icd, event, nexts))
        nexts[source] = sequence + 1
        checked = sequence % 50 or pp.setChecked(ID, CHECKED_BY_EVENTS, sequence % 100 == 0)
        if checked is not True and not sequence % 50:
            fault("%s: setChecked refused" % icd)
        if sequence % 4000 == 0:
            add_action("added by an event of " + icd)

    return on_event


def on_action(action_id):
    actions_run[0] += 1
    if pp.setChecked(ID, CHECKED_BY_ACTIONS, actions_run[0] % 2) is not True:
        fault("action %d: setChecked refused" % action_id)
    if actions_run[0] % 200 == 0:
        add_action("added by action %d" % action_id)
        body = lambda **inputs: {"run": actions_run[0]}
        if pp.addCallableAction(ID, 20000 + actions_run[0], "callable", body, MENU) is not True:
            fault("addCallableAction refused")
    for icd, key in keys.items():
        sent[icd] = sent.get(icd, 0) + 1
        pp.sendICDEvent(ID, key, SOURCES * BASE + sent[icd] - 1)


def register(plugin_factor):
    global factor
    factor = plugin_factor
    tracked.extend([lambda: True, lambda: True, on_action])
    for set_callback, callable_ in zip(
            (pp.setStartCallback, pp.setStopCallback, pp.setOnPluginActionCallback), tracked):
        set_callback(ID, callable_)
    pp.addSimpleAction(ID, MENU, "Stress", pp.ACTION_TYPE_MENU)
    pp.addSimpleAction(ID, CHECKED_BY_EVENTS, "By events", pp.ACTION_TYPE_CHECKABLE, MENU)
    pp.addSimpleAction(ID, CHECKED_BY_ACTIONS, "By actions", pp.ACTION_TYPE_CHECKABLE, MENU)


def install(message, fields):
    for field in fields:
        tracked.append(Coder(factor))
        if not pp.setEncodingFrom(ID, pp.__proxy_plugin_icd_identifier__, message, field,
                                  tracked[-1]):
            fault("encoder refused on %s.%s" % (message, field))


# The owner of the ICD handler just given: its event callable and HOST encoders.
def attach(plugin_factor):
    register(plugin_factor)
    tracked.append(event_callable(pp.__proxy_plugin_icd_interface__))
    pp.setConsumeICDEventCallback(ID, pp.__proxy_plugin_icd_identifier__, tracked[-1])
    install("HOST", ["count0", "count1", "label0", "label1"])


# A guest of the ICD handler just given: it only sends events there.
def attach_guest():
    if factor is None:
        register(7)
    keys[pp.__proxy_plugin_icd_interface__] = pp.__proxy_plugin_icd_identifier__


# The Python bus driver: a Python thread of the script drives DRIVER.level1 while the calling
# thread, which holds the interpreter through the plug-in's session, drives level0. encode() is the
# test's: it sets and encodes a DRIVER field through the host and returns the raw word.
def run_driver(first, count):
    def drive(field):
        driver_wrong[field] = driver_wrong.get(field, 0) + sum(
            encode(field, value) != value * factor + 1 for value in range(first, first + count))

    worker = threading.Thread(target=drive, args=("level1",))
    worker.start()
    drive("level0")
    worker.join()
