"""Globals named like those of the help page's generation lines."""
import proxyplugin as pp

cur = "the script's own"
pp.setName(pp.__proxy_plugin_identifier__, "HelpNames")


class ProxyPluginObject:
    """HelpOfTheNamesScript: the help page of the names test plug-in."""
