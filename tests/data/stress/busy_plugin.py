# The body of the busy plug-ins' stress test: four plug-ins, two on each ICD, each with a lock of
# its own. Each registers its event callable on its own bridge and encoders on two HOST fields of
# its ICD, and spins in a thread of its own in pure Python. Event callables check delivery as they
# go: per source the next expected sequence number; anything else goes to `faults`.
import threading

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
BASE = 1000000  # event = (source + 1) * BASE + sequence number
SOURCES = 4  # the raising host threads
faults = []
nexts = [0] * SOURCES
spins = [0]
running = [True]
tracked = []  # every callable and encoder handed to the plug-in, for the reference counts


def fault(text):
    if len(faults) < 5:
        faults.append(text)


def on_event(event):
    source, sequence = event // BASE - 1, event % BASE
    if not 0 <= source < SOURCES or sequence != nexts[source]:
        return fault("event %d, expected %s" % (event, nexts))
    nexts[source] = sequence + 1


# raw = value * factor + 1
class Coder:
    def __init__(self, factor):
        self.factor = factor

    def encode(self, value):
        return value * self.factor + 1

    def decode(self, raw):
        return (raw - 1) // self.factor


def spin():
    count = 0
    while running[0]:
        count += 1
    spins[0] = count


def attach(fields, factor):
    tracked.append(on_event)
    pp.setConsumeICDEventCallback(ID, KEY, on_event)
    for field in fields:
        tracked.append(Coder(factor))
        if not pp.setEncodingFrom(ID, KEY, "HOST", field, tracked[-1]):
            fault("encoder refused on HOST." + field)
    threading.Thread(target=spin, daemon=True).start()


class ProxyPluginObject:
    """A plug-in that keeps one core busy in Python."""
