# Calls _thread.interrupt_main() from every kind of callable: the start and stop callbacks and the
# action on the host's thread, the event callable on a bridge thread, the encoder wherever the
# host encodes. Each says on standard error that it went on; a sub-interpreter still may not set
# a signal handler, and the process's own SIGINT disposition stays the host's (the default).
import _thread
import signal
import sys

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__


class ProxyPluginObject:
    """Interrupts the main thread from everywhere."""


def interrupt(where):
    _thread.interrupt_main()
    total = sum(range(10000))  # Python keeps running here
    print("interrupt_main: %s went on" % where, file=sys.stderr)
    return total


def process_sigint_handler():
    # None for SIG_DFL, as a null handler of struct sigaction reads through ctypes. Read from the
    # kernel's masks of caught and ignored signals: ctypes does not import in a sub-interpreter
    # with its own interpreter lock.
    masks = {}
    with open("/proc/self/status") as status:
        for line in status:
            name, _, value = line.partition(":")
            masks[name] = int(value.strip() or "0", 16) if name in ("SigCgt", "SigIgn") else 0
    bit = 1 << (signal.SIGINT - 1)
    if masks.get("SigCgt", 0) & bit:
        return "caught"
    if masks.get("SigIgn", 0) & bit:
        return "ignored"
    return None


class Interrupting:
    def encode(self, value):
        interrupt("encode")
        return value

    def decode(self, raw):
        interrupt("decode")
        return raw


def on_action(action):
    interrupt("action")
    # Before 3.9 CPython lets a sub-interpreter on the main thread set a handler (for the whole
    # process), so the refusal is only tried where CPython gives it.
    if sys.version_info >= (3, 9):
        try:
            signal.signal(signal.SIGINT, signal.SIG_IGN)
        except ValueError as error:
            print("signal.signal refused: %s" % error, file=sys.stderr)
    print("process SIGINT handler: %s" % process_sigint_handler(), file=sys.stderr)


pp.setStartCallback(ID, lambda: interrupt("start") and True)
pp.setStopCallback(ID, lambda: interrupt("stop") and None)
pp.setOnPluginActionCallback(ID, on_action)
pp.setConsumeICDEventCallback(ID, KEY, lambda event: interrupt("event"))
pp.setEncodingFrom(ID, KEY, "STATUS", "int", Interrupting())
pp.addSimpleAction(ID, 1, "Interrupt", pp.ACTION_TYPE_NORMAL)
