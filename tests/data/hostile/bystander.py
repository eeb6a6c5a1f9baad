# A plug-in that only exists: its identifier and handler key are another plug-in's to misuse.
import proxyplugin as pp

pp.setName(pp.__proxy_plugin_identifier__, "BYSTANDER")


class ProxyPluginObject:
    """A bystander."""
