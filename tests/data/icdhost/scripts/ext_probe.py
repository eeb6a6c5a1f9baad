# Module proxyplugin_ext and the guide's statements about callables: the event data, field values
# read without an encoder, a numeric encoder that has failed once, setChecked and the running
# plug-in, dialogs from an event callable and from a thread of the script.
import threading

import proxyplugin as pp
import proxyplugin_ext as ext

PLUGIN = pp.__proxy_plugin_identifier__
ICD = pp.__proxy_plugin_icd_identifier__


class FailsOnThirteen:
    """STATUS.count: the value itself on the bus, except that encoding 13 raises."""

    def encode(self, value):
        if value == 13:
            raise ValueError("thirteen")
        return value

    def decode(self, raw):
        return raw


def on_action(action_id):
    if action_id == 1:
        print("ext_probe: values", [ext.getAsUInt(PLUGIN, ICD, "STATUS", field)
                                    for field in ("count", "level", "name", "big", "nope")])
    elif action_id == 2:
        print("ext_probe: setChecked ->", pp.setChecked(PLUGIN, 2, 1))
    elif action_id == 3:
        worker = threading.Thread(target=lambda: print(
            "ext_probe: dialog from a script thread ->", pp.inputBox(PLUGIN, "Thread", "Name?")))
        worker.start()
        worker.join()


def on_event(event, data):
    print("ext_probe: event", event, "data", data)
    if event == 50:
        print("ext_probe: dialog from the bridge's thread ->",
              pp.messageBox(PLUGIN, "Event 50", "Bridge", ext.BUTTONS_YES_NO, ext.ICON_QUESTION))


pp.setName(PLUGIN, "EXT_PROBE")
pp.setConsumeICDEventCallback(PLUGIN, ICD, lambda event: print("ext_probe: event", event))
ext.setConsumeICDEventDataCallback(PLUGIN, ICD, on_event)
pp.setStartCallback(PLUGIN, lambda: print("ext_probe: start") or True)
pp.setStopCallback(PLUGIN, lambda: print("ext_probe: stop") or True)
pp.setOnPluginActionCallback(PLUGIN, on_action)
pp.addSimpleAction(PLUGIN, 1, "Values", pp.ACTION_TYPE_NORMAL)
pp.addSimpleAction(PLUGIN, 2, "Checkable", pp.ACTION_TYPE_CHECKABLE)
pp.addSimpleAction(PLUGIN, 3, "Dialog from a thread", pp.ACTION_TYPE_NORMAL)
pp.setEncodingFrom(PLUGIN, ICD, "STATUS", "count", FailsOnThirteen())


class ProxyPluginObject:
    """The proxyplugin_ext probe of icdhost's tests."""
