# Opens one kind of dialog per action and prints what it got back.
import time

import proxyplugin as pp

PLUGIN = pp.__proxy_plugin_identifier__
CALLS = [("messageBox", "Proceed?"), ("inputBox", "Name", "Who are you?"), ("openFileDialog",),
         ("saveFileDialog",), ("openDirDialog",), ("messageBox",),
         ("messageBox", "Really?", "Confirm", 3, 2)]


def on_action(action_id):
    name, *args = CALLS[action_id - 1]
    print("dialogs:", name, "->", repr(getattr(pp, name)(PLUGIN, *args)))


def on_event(event):
    # Runs on the bridge's thread: at the prompt, the answer is typed while the prompt waits (for
    # event 6, after the prompt has been waiting a while).
    if event == 6:
        time.sleep(0.5)
    print("dialogs: event", event, "->", repr(pp.inputBox(PLUGIN, "Event", "Name for event")))


pp.setName(PLUGIN, "DIALOGS")
pp.setConsumeICDEventCallback(PLUGIN, pp.__proxy_plugin_icd_identifier__, on_event)
pp.setOnPluginActionCallback(PLUGIN, on_action)
for number, (name, *args) in enumerate(CALLS, 1):
    pp.addSimpleAction(PLUGIN, number, name, pp.ACTION_TYPE_NORMAL)


class ProxyPluginObject:
    """Dialogs of icdhost's tests."""
