# Run by the hosting tests' own host: reports which Python it runs on and what it can import, and
# registers a dictionary action.
import importlib
import os
import sys

import proxyplugin as pp

for name in ("decimal", "ctypes", "ssl", "sqlite3", "bz2", "lzma", "asyncio"):
    try:
        importlib.import_module(name)
        print("module %s: ok" % name)
    except Exception as error:
        print("module %s: %s: %s" % (name, type(error).__name__, error))

print("prefix:", sys.prefix)
print("base prefix:", sys.base_prefix)
print("executable:", sys.executable)
print("stdlib:", os.path.dirname(os.__file__))
try:
    import _ssl
    print("dynload:", os.path.dirname(_ssl.__file__))
except ImportError as error:
    print("dynload:", error)
try:
    import venv_marker
    print("venv marker:", venv_marker.WHERE)
except ImportError:
    print("venv marker: missing")


def add(a, b):
    """Adds a and b."""
    return {"sum": a + b, "in": pp.__proxy_plugin_identifier__}


pp.addCallableAction(pp.__proxy_plugin_identifier__, 7, "Add", add)


class ProxyPluginObject:
    """The plug-in object the library makes of every script; this one does nothing more."""
