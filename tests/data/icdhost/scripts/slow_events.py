# An event callable that takes a while: sync must time out on it, then catch up.
import time

import proxyplugin as pp


def on_event(event):
    time.sleep(1.0)
    print("slow: event", event, "done")


pp.setName(pp.__proxy_plugin_identifier__, "SLOW")
pp.setConsumeICDEventCallback(pp.__proxy_plugin_identifier__, pp.__proxy_plugin_icd_identifier__,
                              on_event)


class ProxyPluginObject:
    """Slow events of icdhost's tests."""
