# Threads of the script print long lines of many pieces while icdhost prints its own lines; action
# 1 starts them, action 2 lets each print its last lines and joins them, action 3 prints the start
# of a line and returns to the host.
import threading

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
LINES = 150
stop = threading.Event()
threads = []


def printer(n):
    i = 0
    while i < LINES or not stop.is_set():
        # Seven pieces: six words, separators and the line end, each written on its own.
        print("t%d" % n, i, "x" * (1000 * n + 10), "-", "y" * 5000, "end")
        i += 1


def on_action(action):
    if action == 1:
        threads.extend(threading.Thread(target=printer, args=(n,)) for n in range(3))
        for thread in threads:
            thread.start()
    elif action == 2:
        stop.set()
        for thread in threads:
            thread.join()
    elif action == 3:
        print("start of a line", end=" ")


pp.setOnPluginActionCallback(ID, on_action)
for action in (1, 2, 3):
    pp.addSimpleAction(ID, action, "action %d" % action, pp.ACTION_TYPE_NORMAL)


class ProxyPluginObject:
    """Prints from threads."""
