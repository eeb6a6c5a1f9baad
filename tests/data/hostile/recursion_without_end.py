# Callables that recurse without end through Python functions whose calls fill in a default or
# take *args and **kwargs, on the host's thread (start, action, encode), a bridge's thread (event)
# and a script thread. Every CPython ends each with a RecursionError, 3.13.0 to 3.13.7 too (whose
# specialised calls of such functions skip the limit's check: the library makes every call
# check it). Past a depth no recursion limit allows, each stops itself with an error the test
# refuses, instead of growing until the host runs out of memory.
import threading
from threading import get_ident

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
BEYOND_ANY_LIMIT = 20000
depths = {}


class Unbounded(Exception):
    pass


# The depth is counted inline: a call of a function with exact arguments would check the limit.
def with_default(unused=None):
    depths[get_ident()] += 1
    if depths[get_ident()] > BEYOND_ANY_LIMIT:
        raise Unbounded("no recursion limit")
    return with_default()


def with_varargs(*args, **kwargs):
    depths[get_ident()] += 1
    if depths[get_ident()] > BEYOND_ANY_LIMIT:
        raise Unbounded("no recursion limit")
    return with_varargs()


def recurse(function, *ignored):
    depths[get_ident()] = 0
    return function()


class Coder:
    def encode(self, value):
        return recurse(with_default)

    def decode(self, raw):
        return recurse(with_varargs)


thread = threading.Thread(target=recurse, args=(with_varargs,))
thread.start()
thread.join()
pp.setName(ID, "RECURSING")
pp.setStartCallback(ID, lambda: recurse(with_default))
pp.setOnPluginActionCallback(ID, lambda action_id: recurse(with_varargs))
pp.setConsumeICDEventCallback(ID, KEY, lambda event: recurse(with_default))
pp.addSimpleAction(ID, 1, "Recurses", pp.ACTION_TYPE_NORMAL)
pp.setEncodingFrom(ID, KEY, "STATUS", "int", Coder())


class ProxyPluginObject:
    """Recurses without end."""
