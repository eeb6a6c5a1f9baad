# Registers a little, then raises SystemExit while loading: the host goes on.
import sys

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__


class ProxyPluginObject:
    """Fails while loading."""


def start():
    print("raises_systemexit_at_load: started")
    return True


pp.setName(ID, "RAISES_SYSTEMEXIT_AT_LOAD")
pp.setStartCallback(ID, start)
pp.addSimpleAction(ID, 1, "Registered before the failure", pp.ACTION_TYPE_NORMAL)
raise SystemExit("load")
print("raises_systemexit_at_load: never printed")
