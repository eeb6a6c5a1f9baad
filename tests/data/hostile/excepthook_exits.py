# Replaces sys.excepthook with one that exits: the interpreter's error printer would end the
# process on the first error it prints. Every error must still be reported and the host go on.
import sys

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__


def exiting_hook(kind, value, traceback):
    sys.exit(9)


def start():
    raise ValueError("start refuses")


sys.excepthook = exiting_hook
pp.setName(ID, "HOOKED")
pp.setStartCallback(ID, start)
pp.setName(ID)  # an argument error, printed through the hook


class ProxyPluginObject:
    """Exits from its excepthook."""
