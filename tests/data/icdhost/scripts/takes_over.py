# A second plug-in on the same ICD as ext_probe.py: the handler key is the ICD's, so its event
# callables replace those of the first plug-in's bridge, and its own bridge gets none.
import proxyplugin as pp
import proxyplugin_ext as ext

PLUGIN = pp.__proxy_plugin_identifier__
ICD = pp.__proxy_plugin_icd_identifier__
pp.setName(PLUGIN, "TAKES_OVER")
pp.setConsumeICDEventCallback(PLUGIN, ICD, lambda event: print("takes_over: event", event))
ext.setConsumeICDEventDataCallback(PLUGIN, ICD,
                                   lambda event, data: print("takes_over: data", event, data))


class ProxyPluginObject:
    """The plug-in that takes over ext_probe.py's event callables."""
