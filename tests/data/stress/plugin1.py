# Plug-in 1 of the stress test: owner of STRESS_B, whose encoders scale by 3.
import stress_plugin

stress_plugin.attach(3)


class ProxyPluginObject:
    """Stress test plug-in 1."""
