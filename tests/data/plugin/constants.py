"""Plug-in script that reports the module proxyplugin as it sees it."""
import sys

import proxyplugin

WATCHED = ("proxy_plugin_handlers_dict", "__proxy_plugin_identifier__", "ACTION_TYPE_MENU",
           "ACTION_TYPE_CHECKABLE", "ACTION_TYPE_EX_GROUP", "ACTION_TYPE_NORMAL",
           "__proxy_plugin_icd_identifier__", "__proxy_plugin_icd_interface__",
           "__proxy_plugin_icd_filename__", "__proxy_plugin_icd_us_busclock__")

print("same module", proxyplugin is sys.modules["proxyplugin"])
print("order", " ".join(name for name in vars(proxyplugin) if name in WATCHED))
print("types", proxyplugin.ACTION_TYPE_NORMAL, proxyplugin.ACTION_TYPE_MENU,
      proxyplugin.ACTION_TYPE_EX_GROUP, proxyplugin.ACTION_TYPE_CHECKABLE)
print("handlers dict", type(proxyplugin.proxy_plugin_handlers_dict).__name__,
      len(proxyplugin.proxy_plugin_handlers_dict))
print("clock type", type(proxyplugin.__proxy_plugin_icd_us_busclock__).__name__)
print("argv", sys.argv)


class ProxyPluginObject:
    """Help page of the constants test plug-in."""
