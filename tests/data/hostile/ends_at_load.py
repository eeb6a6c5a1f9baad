# Registers a little, then ends itself while loading in the way of the line the test appends.
import sys

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__


class ProxyPluginObject:
    """Ends itself while loading."""


pp.setName(ID, "ENDS_AT_LOAD")
pp.setStartCallback(ID, lambda: print("ends_at_load: started") or True)
pp.addSimpleAction(ID, 1, "Registered before the failure", pp.ACTION_TYPE_NORMAL)
