# Registers a little, then fails while loading. Its callables fail too: none of it may take the
# host down.
import sys

import proxyplugin as pp

PLUGIN = pp.__proxy_plugin_identifier__


def start():
    raise RuntimeError("start fails")


pp.setName(PLUGIN, "HALF")
pp.setStartCallback(PLUGIN, start)
pp.setStopCallback(PLUGIN, lambda: sys.exit(5))
pp.setOnPluginActionCallback(PLUGIN, lambda action_id: sys.exit(3))
pp.addSimpleAction(PLUGIN, 1, "Registered before the failure", pp.ACTION_TYPE_NORMAL)
pp.setName(PLUGIN)
print("raises: about to fail")
raise RuntimeError("the script fails while loading")
