# Action 1 starts a daemon thread spinning in a pure-Python loop that never blocks, so it keeps
# the interpreter lock until another thread is given it; action 2 only counts. stop_spinning()
# ends the thread and gives its count of rounds.
import threading

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
state = {"stop": False, "rounds": 0}
answered = [0]
spinner = threading.Thread(target=lambda: spin(), daemon=True)


class ProxyPluginObject:
    """Spins in a thread of its own."""


def spin():
    n = 0
    while not state["stop"]:
        n += 1
    state["rounds"] = n


def on_action(action):
    if action == 1:
        spinner.start()
    else:
        answered[0] += 1


def stop_spinning():
    state["stop"] = True
    spinner.join()
    return state["rounds"]


pp.setOnPluginActionCallback(ID, on_action)
pp.addSimpleAction(ID, 1, "Spin", pp.ACTION_TYPE_NORMAL)
pp.addSimpleAction(ID, 2, "Answer", pp.ACTION_TYPE_NORMAL)
