"""The example host's plug-in script: counts the events it is given, encodes TELEMETRY.rate in
hundredths, and answers the dictionary action 1, "Status", with what it has seen.

It imports C extension modules of the standard library, which load only when the interpreter's
symbols are visible to them, whatever flags the host loaded the plug-in library with.
"""
import ctypes
import decimal
import os
import sqlite3
import ssl
import sys
import threading

import proxyplugin as pp

PLUGIN = pp.__proxy_plugin_identifier__
ICD = pp.__proxy_plugin_icd_identifier__
ACT_STATUS = 1

events = []
event_threads = set()
encoder_threads = set()


def on_event(event):
    """Runs on the handler bridge's thread, one event at a time."""
    events.append(event)
    event_threads.add(threading.get_ident())


class CentsEncoder:
    """TELEMETRY.rate as a whole number of hundredths, rounded half to even by decimal."""

    name = "CENTS"

    def encode(self, rate):
        encoder_threads.add(threading.get_ident())
        return int(decimal.Decimal(repr(rate)).quantize(decimal.Decimal("0.01")).scaleb(2))

    def decode(self, raw):
        encoder_threads.add(threading.get_ident())
        return float(decimal.Decimal(raw).scaleb(-2))


def status(**inputs):
    """What the script has seen.

    outputs: events, event_threads, event_thread, encoder_thread, action_thread (long),
    identifier, cwd, prefix, executable, sys_path (string), modules (string: each module that
    works), echo (the input "echo")
    """
    with sqlite3.connect(":memory:") as db:
        answer = db.execute("select 6 * 7").fetchone()[0]
    works = {
        "ctypes": ctypes.sizeof(ctypes.c_uint32) == 4,
        "decimal": str(decimal.Decimal("1.10") + decimal.Decimal("2.205")) == "3.305",
        "sqlite3": answer == 42,
        "ssl": ssl.create_default_context().verify_mode == ssl.CERT_REQUIRED,
    }
    return {
        "events": len(events),
        "event_threads": len(event_threads),
        "event_thread": next(iter(event_threads), 0),
        "encoder_thread": next(iter(encoder_threads), 0),
        "action_thread": threading.get_ident(),
        "identifier": PLUGIN,
        "cwd": os.getcwd(),
        "prefix": sys.prefix,
        "executable": sys.executable,
        "sys_path": os.pathsep.join(sys.path),
        "modules": " ".join(name for name, ok in sorted(works.items()) if ok),
        "echo": inputs.get("echo", ""),
    }


class ProxyPluginObject:
    """Example host plug-in: counts events, encodes TELEMETRY.rate in hundredths, and reports
    through the dictionary action 1, "Status"."""


pp.setName(PLUGIN, "EXAMPLE")
pp.setConsumeICDEventCallback(PLUGIN, ICD, on_event)
pp.addCallableAction(PLUGIN, ACT_STATUS, "Status", status)
pp.setEncodingFrom(PLUGIN, ICD, "TELEMETRY", "rate", CentsEncoder())
