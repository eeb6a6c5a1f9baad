"""Prints the module proxyplugin as the script sees it, names the plug-in, prints its stop."""
import sys

import proxyplugin as pp

names = [n for n in vars(pp) if n.startswith(("proxy_plugin", "__proxy_plugin", "ACTION_TYPE"))]
print(pp is sys.modules["proxyplugin"], sys.argv, *("%s=%r" % (n, getattr(pp, n)) for n in names))
pp.setName(pp.__proxy_plugin_identifier__, "Constants")
pp.setStopCallback(pp.__proxy_plugin_identifier__, lambda: print("script stop"))


class ProxyPluginObject:
    """Help page of the constants test plug-in."""
