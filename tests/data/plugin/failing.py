"""Plug-in script that names itself and registers a start callable, then fails."""
import proxyplugin as pp

ident = pp.__proxy_plugin_identifier__
pp.setName(ident, "Failing")
pp.setStartCallback(ident, lambda: True)


class ProxyPluginObject:
    """Help page of the failing test plug-in."""


raise ValueError("the script fails on purpose")
