# A stop callable that checks a menu item, which runs the stop callable again: an endless
# recursion through the plug-in, on whichever thread calls it. The interpreter's recursion limit
# ends it with a RecursionError; the host goes on.
import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
depth = [0]


def stop():
    depth[0] += 1
    pp.setChecked(ID, 1, 1)
    return True


def on_event(event):
    pp.setChecked(ID, 1, 0)


pp.setName(ID, "RECURSIVE")
pp.addSimpleAction(ID, 1, "Checkable", pp.ACTION_TYPE_CHECKABLE)
pp.setStopCallback(ID, stop)
pp.setConsumeICDEventCallback(ID, KEY, on_event)


class ProxyPluginObject:
    """Recurses through the plug-in."""
