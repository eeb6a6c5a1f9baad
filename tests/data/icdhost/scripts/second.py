# A second plug-in beside probe.py: its own name, start and stop, and one action; no events.
import proxyplugin as pp

PLUGIN = pp.__proxy_plugin_identifier__
runs = globals().get("runs", 0) + 1
print("second: run", runs, "on", pp.__proxy_plugin_icd_interface__)
pp.setName(PLUGIN, "SECOND")
pp.setStartCallback(PLUGIN, lambda: print("second: start") or True)
pp.setStopCallback(PLUGIN, lambda: print("second: stop") or True)
pp.setOnPluginActionCallback(PLUGIN, lambda action_id: print("second: action", action_id))
if runs == 1:
    pp.addSimpleAction(PLUGIN, 2, "Second's own", pp.ACTION_TYPE_NORMAL)


class ProxyPluginObject:
    """The second plug-in of icdhost's tests."""
