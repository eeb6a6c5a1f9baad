# Plug-in 0 of the stress test: owner of STRESS_A, whose encoders scale by 2, and the Python bus
# driver of its DRIVER fields.
import stress_plugin

stress_plugin.attach(2)
stress_plugin.attach_driver()


class ProxyPluginObject:
    """Stress test plug-in 0."""
