# The body of the stress test's plug-ins, shared by plugin0.py, plugin1.py and plugin2.py. A
# plug-in script calls attach() or attach_guest() once per ICD handler it is given.
#
# Plug-ins 0 and 1 are each the first on one ICD: the handler key reaches their bridge, so they
# register the event callable and the encoders there. Plug-in 2 comes second on both ICDs: a key
# reaches the first bridge registered under it, so plug-in 2 registers nothing there (its own
# bridges consume and drop every event) and instead sends events to both ICDs from its action
# callable, which the owners' event callables receive as a fifth source.
#
# Event callables check delivery as they go, so that nothing here grows with the number of events:
# per ICD and per raising host thread they keep the next expected sequence number, and anything
# else (a gap, a repeat, a filtered or unknown event) goes to `faults`.
import threading

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__

SOURCE_BASE = 1000000  # event = (source + 1) * SOURCE_BASE + sequence number
HOST_THREADS = 4
SOURCES = HOST_THREADS + 1  # the raising host threads, then plug-in 2's action callable
FILTERED = (3000, 4000, 4001, 4002)
MAX_FAULTS = 50

MENU = 1
CHECKED_BY_EVENTS = 2
CHECKED_BY_ACTIONS = 3

faults = []
expected = {}  # ICD name -> next sequence number per raising host thread
stops = [0]
actions_run = [0]
added = [0]
driver_wrong = {}
keys = {}  # ICD name -> handler key, for plug-in 2
sent = {}  # ICD name -> events plug-in 2 sent there
# Every callable and encoder object handed to the plug-in, for the test's reference counts.
tracked = []
factor = None


def fault(text):
    if len(faults) < MAX_FAULTS:
        faults.append(text)


class Scale:
    """Integer fields: raw = value * factor + 1."""

    name = "SCALE"

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


class Ratio:
    """Double fields holding multiples of 0.25: raw = value * 4 * factor."""

    def __init__(self, factor):
        self.factor = factor

    def encode(self, value):
        return int(value * 4) * self.factor

    def decode(self, raw):
        return raw / (4.0 * self.factor)


def add_action(name):
    added[0] += 1
    number = 10000 + added[0]
    if added[0] % 2:
        pp.addSimpleAction(ID, number, name, pp.ACTION_TYPE_NORMAL)
    else:
        pp.addSimpleAction(ID, number, name, pp.ACTION_TYPE_NORMAL, MENU)


def event_callable(icd):
    nexts = expected.setdefault(icd, [0] * SOURCES)

    def on_event(event):
        source = event // SOURCE_BASE - 1
        if event in FILTERED or not 0 <= source < SOURCES:
            fault("%s: unexpected event %d" % (icd, event))
            return
        sequence = event % SOURCE_BASE
        if sequence != nexts[source]:
            fault("%s: source %d raised %d, expected %d"
                  % (icd, source, sequence, nexts[source]))
        nexts[source] = sequence + 1
        if sequence % 50 == 0:
            if pp.setChecked(ID, CHECKED_BY_EVENTS, sequence % 100 == 0) is not True:
                fault("%s: setChecked refused" % icd)
        if sequence % 4000 == 0:
            add_action("added by an event of " + icd)

    return on_event


def start():
    return True


def stop():
    stops[0] += 1
    return True


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
        number = sent.get(icd, 0)
        sent[icd] = number + 1
        pp.sendICDEvent(ID, key, (HOST_THREADS + 1) * SOURCE_BASE + number)


def register(plugin_factor):
    global factor
    factor = plugin_factor
    pp.setName(ID, "STRESS_x%d" % factor)
    pp.setStartCallback(ID, start)
    pp.setStopCallback(ID, stop)
    pp.setOnPluginActionCallback(ID, on_action)
    tracked.extend([start, stop, on_action])
    pp.addSimpleAction(ID, MENU, "Stress", pp.ACTION_TYPE_MENU)
    pp.addSimpleAction(ID, CHECKED_BY_EVENTS, "Checked by events", pp.ACTION_TYPE_CHECKABLE, MENU)
    pp.addSimpleAction(ID, CHECKED_BY_ACTIONS, "Checked by actions", pp.ACTION_TYPE_CHECKABLE,
                       MENU)


def attach(plugin_factor):
    """Registers this plug-in as the owner of the ICD handler just given: the event callable and
    encoders of every HOST field."""
    register(plugin_factor)
    key = pp.__proxy_plugin_icd_identifier__
    icd = pp.__proxy_plugin_icd_interface__
    on_event = event_callable(icd)
    tracked.append(on_event)
    pp.setConsumeICDEventCallback(ID, key, on_event)
    for suffix in ("0", "1"):
        for name, coder in (("count", Scale(factor)), ("label", Label(factor)),
                            ("ratio", Ratio(factor))):
            tracked.append(coder)
            if pp.setEncodingFrom(ID, key, "HOST", name + suffix, coder) is not True:
                fault("encoder refused on HOST.%s%s" % (name, suffix))


def attach_guest():
    """Registers this plug-in as a guest of the ICD handler just given: it only sends events there
    from its action callable."""
    if factor is None:
        register(7)
    keys[pp.__proxy_plugin_icd_interface__] = pp.__proxy_plugin_icd_identifier__


def attach_driver():
    """Encoders of the DRIVER fields of the ICD handler just given, which a Python bus driver
    drives."""
    key = pp.__proxy_plugin_icd_identifier__
    for name in ("level0", "level1"):
        coder = Scale(factor)
        tracked.append(coder)
        if pp.setEncodingFrom(ID, key, "DRIVER", name, coder) is not True:
            fault("encoder refused on DRIVER." + name)


def drive(field, first, count):
    """Sets and encodes `field` through the host, as a Python bus driver does; counts wrong raw
    words."""
    import stressdriver

    wrong = 0
    for value in range(first, first + count):
        if stressdriver.encode(field, value) != value * factor + 1:
            wrong += 1
    return wrong


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
