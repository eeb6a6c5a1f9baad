# Registers a little, then exits with status 3 while loading: the host goes on.
import sys

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__


class ProxyPluginObject:
    """Fails while loading."""


def start():
    print("exits_at_load: started")
    return True


pp.setName(ID, "EXITS_AT_LOAD")
pp.setStartCallback(ID, start)
pp.addSimpleAction(ID, 1, "Registered before the failure", pp.ACTION_TYPE_NORMAL)
sys.exit(3)
print("exits_at_load: never printed")
