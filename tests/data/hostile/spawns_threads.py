# Starts Python threads that call the plug-in's module functions as fast as they can, among them
# message commits that run the encoders from a Python thread, while the host runs the plug-in;
# they go on after the plug-in object is deleted. join_threads() stops the workers; the daemon
# never stops, so it still runs when the process ends.
import threading
import time

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
stop_workers = threading.Event()
escaped = []  # exceptions that reached a thread: module functions never raise
rounds = [0, 0, 0]
events = [0]


class Doubler:
    def encode(self, value):
        return value.upper() if isinstance(value, str) else value * 2

    def decode(self, raw):
        return raw.lower() if isinstance(raw, str) else raw // 2


def on_event(event):
    events[0] += 1
    pp.setChecked(ID, 2, event % 2)


# Workers stop when told; the daemon (index None) never does.
def worker(index):
    n = 0
    while index is None or not stop_workers.is_set():
        n += 1
        try:
            pp.getEncoderName(ID, KEY, "STATUS", "int")
            pp.sendICDEvent(ID, KEY, 7 if index is None else 100 + index)
            if index is None:
                time.sleep(0.001)
                continue
            rounds[index] = n
            pp.setChecked(ID, 2, n % 2)
            pp.getChecked(ID, 2)
            pp.addSimpleAction(ID, 100000 * (index + 1) + n, "child", 1, 1)
            if n % 50 == 0:
                # Fails with a printed RuntimeError once the plug-in object is deleted.
                pp.addSimpleAction(ID, 10000 * (index + 1) + n, "top level", 1)
            pp.commitSingleMessage(ID, KEY, "CONTROL")
            pp.raiseError(ID, KEY, "worker %d" % index, 1)
        except BaseException as error:
            escaped.append(repr(error))


def join_threads():
    stop_workers.set()
    for thread in workers:
        thread.join()


pp.setName(ID, "THREADS")
pp.setStopCallback(ID, lambda: True)
pp.setConsumeICDEventCallback(ID, KEY, on_event)
pp.addSimpleAction(ID, 1, "Menu", pp.ACTION_TYPE_MENU)
pp.addSimpleAction(ID, 2, "Checkable", pp.ACTION_TYPE_CHECKABLE, 1)
for message, field in (("STATUS", "int"), ("STATUS", "longlong"), ("STATUS", "text"),
                       ("CONTROL", "target"), ("CONTROL", "label")):
    pp.setEncodingFrom(ID, KEY, message, field, Doubler())
workers = [threading.Thread(target=worker, args=(index,)) for index in range(3)]
for thread in workers + [threading.Thread(target=worker, args=(None,), daemon=True)]:
    thread.start()


class ProxyPluginObject:
    """Spawns threads."""
