"""Plug-in script whose event callable adds a top-level action named after each event."""
import proxyplugin as pp

ident = pp.__proxy_plugin_identifier__


def on_event(event):
    pp.addSimpleAction(ident, event, "Event %d" % event, pp.ACTION_TYPE_NORMAL)
    print("event", event)


pp.setConsumeICDEventCallback(ident, pp.__proxy_plugin_icd_identifier__, on_event)
pp.setName(ident, "Events")


class ProxyPluginObject:
    """Help page of the events test plug-in."""
