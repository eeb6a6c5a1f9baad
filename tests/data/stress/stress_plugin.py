# The body of the stress test's plug-ins. Plug-ins 0 and 1 are each the first on one ICD: the
# handler key reaches their bridge, so they register the event callable and encoders there
# (attach). Plug-in 2 comes second on both ICDs, so it registers nothing there; it sends events to
# both from its action callable, a fifth source for the owners' event callables (attach_guest).
# Event callables check delivery as they go, so that nothing grows with the number of events:
# per ICD and source they keep the next expected sequence number; anything else goes to `faults`.
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
    if len(faults) < 50:
        faults.append(text)


class Scale:
    """Integer fields: raw = value * factor + 1."""

    def __init__(self, factor):
        self.factor = factor

    def encode(self, value):
        return value * self.factor + 1

    def decode(self, raw):
        return (raw - 1) // self.factor


class Label:
    """Text fields: the raw text carries the factor; decoding drops it and upper-cases."""

    def __init__(self, factor):
        self.factor = factor

    def encode(self, text):
        return "%s|%d" % (text, self.factor)

    def decode(self, raw):
        return raw.split("|")[0].upper()


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
        if sequence % 50 == 0 and pp.setChecked(ID, CHECKED_BY_EVENTS, sequence % 100 == 0) is not True:
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
    start, stop = (lambda: True), (lambda: True)
    tracked.extend([start, stop, on_action])
    pp.setName(ID, "STRESS_x%d" % factor)
    pp.setStartCallback(ID, start)
    pp.setStopCallback(ID, stop)
    pp.setOnPluginActionCallback(ID, on_action)
    pp.addSimpleAction(ID, MENU, "Stress", pp.ACTION_TYPE_MENU)
    pp.addSimpleAction(ID, CHECKED_BY_EVENTS, "By events", pp.ACTION_TYPE_CHECKABLE, MENU)
    pp.addSimpleAction(ID, CHECKED_BY_ACTIONS, "By actions", pp.ACTION_TYPE_CHECKABLE, MENU)


def install(message, field, coder):
    tracked.append(coder)
    if pp.setEncodingFrom(ID, pp.__proxy_plugin_icd_identifier__, message, field, coder) is not True:
        fault("encoder refused on %s.%s" % (message, field))


def attach(plugin_factor):
    """The owner of the ICD handler just given: its event callable and HOST encoders."""
    register(plugin_factor)
    on_event = event_callable(pp.__proxy_plugin_icd_interface__)
    tracked.append(on_event)
    pp.setConsumeICDEventCallback(ID, pp.__proxy_plugin_icd_identifier__, on_event)
    for suffix in "01":
        install("HOST", "count" + suffix, Scale(factor))
        install("HOST", "label" + suffix, Label(factor))


def attach_guest():
    """A guest of the ICD handler just given: it only sends events there."""
    if factor is None:
        register(7)
    keys[pp.__proxy_plugin_icd_interface__] = pp.__proxy_plugin_icd_identifier__


def attach_driver():
    """Encoders of the DRIVER fields of the ICD handler just given, driven by a Python bus driver."""
    for name in ("level0", "level1"):
        install("DRIVER", name, Scale(factor))


def drive(field, first, count):
    """Sets and encodes `field` through the host (encode() is the test's), as a Python bus driver
    does; counts wrong raw words."""
    return sum(encode(field, value) != value * factor + 1
               for value in range(first, first + count))


def run_driver(first, count):
    """The bus driver: a Python thread of the script drives level1 while the calling thread, which
    holds the interpreter through the plug-in's session, drives level0."""
    results = {}
    worker = threading.Thread(
        target=lambda: results.__setitem__("level1", drive("level1", first, count)))
    worker.start()
    results["level0"] = drive("level0", first, count)
    worker.join()
    for name, wrong in results.items():
        driver_wrong[name] = driver_wrong.get(name, 0) + wrong
