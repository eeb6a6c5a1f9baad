# Plug-in 2 of the stress test: a guest of both ICDs, sending events to them from its actions.
import stress_plugin

stress_plugin.attach_guest()


class ProxyPluginObject:
    """Stress test plug-in 2."""
