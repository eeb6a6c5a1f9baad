# Loaded by two plug-ins on one ICD. Its event callable, encoder and dictionary action use objects
# of C extension modules (ctypes, sqlite3, decimal), whose types belong to the interpreter that
# imported them, and note in `misplaced` whatever ran in another interpreter than the script's.
# With a lock per interpreter ctypes does not import (no multi-phase initialisation): a class of
# the script's own holds the buffer's value then.
import decimal
import sqlite3
import sys
import weakref

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
try:
    import ctypes
    buffer = ctypes.create_string_buffer(8)
except ImportError:
    class Buffer:
        value = b""
    buffer = Buffer()
database = sqlite3.connect(":memory:", check_same_thread=False)
database.execute("create table seen (n integer)")
events = []
encoded = []
misplaced = []
released = []


def at_home(what):
    import sys as here  # looked up in the modules of the interpreter running this line
    if here is not sys:
        misplaced.append(what)


class EventCallable:
    def __call__(self, event):
        at_home("event")
        buffer.value = b"e%d" % event
        database.execute("insert into seen values (?)", (event,))
        count = database.execute("select count(*) from seen").fetchone()[0]
        events.append((buffer.value.decode(), str(decimal.Decimal(event) / 4), count))

    def __del__(self):
        at_home("release")
        released.append("event callable")


class Quarters:
    name = "QUARTERS"

    def encode(self, value):
        at_home("encode")
        buffer.value = b"%d" % int(value)
        raw = int(decimal.Decimal(repr(value)) * 4)
        encoded.append(raw)
        return raw

    def decode(self, raw):
        at_home("decode")
        return float(decimal.Decimal(raw) / 4)


def summed(**values):
    """Sums its values as decimals."""
    at_home("action")
    total = sum(decimal.Decimal(str(v)) for v in values.values())
    buffer.value = str(total).encode()[:7]
    return {"total": str(total), "buffer": buffer.value.decode(), "count": len(values)}


def register_event_callable():
    global registered
    callable_object = EventCallable()
    registered = weakref.ref(callable_object)
    pp.setConsumeICDEventCallback(ID, KEY, callable_object)


register_event_callable()


class ProxyPluginObject:
    """Objects of two interpreters on one ICD."""
