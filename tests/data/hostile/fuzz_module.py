# Calls each of the 21 functions of module proxyplugin and the 2 of module proxyplugin_ext many
# times with generated arguments: wrong counts, values of every kind, texts with NUL characters
# and lone surrogates, huge and negative integers, objects whose __str__, __index__, __call__,
# __eq__ or attribute lookups raise, callables and encoders that raise, exit, interrupt or
# recurse. No call may raise into the
# script or return anything but a documented result, and each call may print only its documented
# reports. The test sets OTHER_ID and OTHER_KEY (another plug-in's), then calls fuzz() and
# finish(). Texts never hold a line end, so that the C++ side can check what is printed by line.
import random
import re
import sys
import threading

import proxyplugin as pp
import proxyplugin_ext as ext

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
OTHER_ID = OTHER_KEY = None


class HostileError(Exception):
    pass


def failing(kind, *args):
    def fail(*ignored, **also_ignored):
        raise kind(*args)

    return fail


def recursing(*args, **kwargs):
    return recursing()


hostile, exiting = failing(HostileError, "hostile"), failing(SystemExit, 4)
interrupting, quiet = failing(KeyboardInterrupt), lambda *args, **kwargs: None


def raising(*methods, base=object):
    return type("Raising", (base,), {name: hostile for name in methods})


def coder(encode, decode=None, **attributes):
    attributes.update(encode=lambda self, value: encode(value),
                      decode=lambda self, raw: (decode or encode)(raw))
    return type("Coder", (), attributes)()


def codec(value):
    return value if isinstance(value, str) else abs(int(value)) % 1000


CALLABLES = [quiet, hostile, exiting, interrupting, recursing, raising("__call__")(), len, int,
             HostileError, lambda event: None]
ENCODERS = [coder(codec, lambda raw: raw), coder(codec, name=property(hostile)),
            coder(codec, name=5), coder(codec, name="\udcff"), raising("__getattr__")(),
            type("NotCallable", (), {"encode": 5, "decode": "decode"})(), object(), None, 5]
ENCODERS += [coder(lambda value, result=result: result)
             for result in (None, -1, 2 ** 64, 1.5, "text", b"bytes", "a\0b", "\udcff")]
ENCODERS += [coder(how) for how in (hostile, exiting, interrupting, recursing)]
ANY = [None, True, False, 0, -1, 2 ** 31, -2 ** 31 - 1, 2 ** 63, 2 ** 64, -2 ** 64, 10 ** 100,
       0.5, float("nan"), float("inf"), "", "x", "a\0b", "\ud800", "\udcff tail", "x" * 5000,
       b"bytes", bytearray(b"ba"), memoryview(b"mv"), [], [1], (), (1, 2), {}, {"k": 1}, set(),
       object(), raising("__str__", "__repr__")(), raising("__index__")(),
       raising("__eq__", "__hash__")(), raising("__getattr__")(), raising("__index__", base=int)(5),
       raising("__str__", base=str)("s"), sys, HostileError("e"), type, Ellipsis, complex(1, 2),
       iter([])] + CALLABLES[:5]
POOLS = {
    "id": [ID] * 6 + [OTHER_ID, "proxyplugin#999999@0000000000000000", ""],
    "key": [KEY] * 4 + [OTHER_KEY, "0" * 16, ""],
    "int": [0, 1, 2, 3, 4, 5, 7, -1, 2 ** 31 - 1, -2 ** 31, 99999, True],
    "event": [0, 1, 5, 3000, 4001, 2 ** 31, -1, 2 ** 32 + 5, 10 ** 30],
    "text": ["", "x", "Menu entry", "\u00e9 \u00fc \u4e2d", "\t", "a" * 3000, "%s%n%x", "{0}"],
    "message": ["STATUS", "STATUS", "CONTROL", "NOPE", ""],
    "field": ["bits", "short", "ushort", "int", "uint", "long", "ulong", "longlong",
              "ulonglong", "float", "double", "text", "vendor", "target", "label", "nope", ""],
    "callable": CALLABLES,
    "encoder": ENCODERS,
}

# The plug-in's own reports, what the generated callables raise when it calls them, warnings, and
# what 3.13 hands to sys.unraisablehook from attribute tests.
REPORTS = [re.escape(text) for text in (
    "RuntimeError: no proxyinterface found", "RuntimeError: no proxyHandlderinterface found",
    "ReferenceError: Object passed as argument is not a callable one",
    "RuntimeError: invalid parent id")] + [
    r"((\w+\.)*HostileError|TypeError|SystemExit|KeyboardInterrupt|RecursionError)(: .*)?",
    r".*:\d+: \w*Warning: .*", r"Exception ignored.*"]
# What the interpreter's argument parser reports, and what hostile objects raise meanwhile.
PARSER = r"(TypeError|ValueError|OverflowError|UnicodeEncodeError|(\w+\.)*HostileError)(: .*)?"
NONE, TRUTH, TEXT = (type(None),), (bool, type(None)), (str, type(None))
FILE_FILTERS = "filters='All Files (*);; Text (*.txt)'] [string,string"

# Name, argument kinds ("?": optional), the function's own text for an argument mismatch (None:
# the parser's error), the types of result it may give.
FUNCTIONS = [
    ("setStartCallback", "id callable", None, NONE),
    ("setStopCallback", "id callable", None, NONE),
    ("setOnPluginActionCallback", "id callable", None, NONE),
    ("setConsumeICDEventCallback", "id key callable", None, NONE),
    ("setName", "id text", "name [string]", NONE),
    ("addSimpleAction", "id int text int int?", None, NONE),
    ("addCallableAction", "id int text callable int?", None, TRUTH),
    ("setChecked", "id int int", "id,val [int,boolean]", TRUTH),
    ("getChecked", "id int", "id [int]", TRUTH),
    ("raiseError", "id key text int", "msg [string],severity [int]", TRUTH),
    ("messageBox", "id text text? int? int?",
     "text,[caption,button_flag,icon_flag] [string,string,int,int]", (int, type(None))),
    ("inputBox", "id text? text?", "[caption,text] [string,string]", TEXT),
    ("openFileDialog", "id text? text? text?",
     "[caption='Open File',dir='.'," + FILE_FILTERS + ",string]", TEXT),
    ("saveFileDialog", "id text? text? text?",
     "[caption='Save File',dir='.'," + FILE_FILTERS + "]", TEXT),
    ("openDirDialog", "id text? text?", "[caption='Open Dir',dir='.'] [string,string]", TEXT),
    ("commitSingleMessageField", "id key message field", None, TRUTH),
    ("commitSingleMessage", "id key message", None, TRUTH),
    ("sendICDEvent", "id key event", "arg_event_id [int]", NONE),
    ("setMessageFieldReserved", "id key message field int",
     "msg,field,flag [string,string,boolean]", TRUTH),
    ("setEncodingFrom", "id key message field encoder",
     "msg,field,encoder [string,string,object]", TRUTH),
    ("getEncoderName", "id key message field", "msg,field [string,string]", TEXT),
    ("ext.getAsUInt", "id key message field", "msg,field [string,string]", (int, type(None))),
    ("ext.setConsumeICDEventDataCallback", "id key callable", None, NONE),
]


# sys.stderr collected per thread: a bridge thread's reports never mix with the calls'.
class PerThreadStderr:
    def __init__(self):
        self.texts = {}

    def write(self, text):
        self.texts.setdefault(threading.get_ident(), []).append(text)
        return len(text)

    def flush(self):
        pass

    def take(self, ident):
        return "".join(self.texts.pop(ident, []))


summary = {"calls": {}, "escaped": [], "results": [], "reports": []}
collector = PerThreadStderr()


def note(kind, text):
    if len(summary[kind]) < 5:
        summary[kind].append(text)


# Notes the lines of `text` that end a report and match none of `allowed`: tracebacks' headers
# and indented lines are not checked.
def check_reports(text, allowed, who):
    for line in text.split("\n"):
        if (line.strip() and not line[0].isspace() and not line.startswith((
                "Traceback (most recent", "During handling of", "The above exception"))
                and not any(re.fullmatch(pattern, line) for pattern in allowed)):
            note("reports", "%s printed %s" % (who, ascii(line)))


def arguments(rng, kinds):
    roll = rng.random()
    if roll < 0.1:
        count = rng.randrange(0, 8)
    elif roll < 0.15:
        count = len(kinds) + 1
    else:
        count = rng.randrange(len([kind for kind in kinds if "?" not in kind]), len(kinds) + 1)
    kinds = [kind.rstrip("?") for kind in kinds] + [None] * 8
    return [rng.choice(POOLS[kinds[index]]) if kinds[index] and rng.random() < 0.75
            else rng.choice(ANY) for index in range(count)]


def fuzz(calls, seed):
    POOLS["id"][6], POOLS["key"][4] = OTHER_ID, OTHER_KEY
    rng = random.Random(seed)
    me = threading.get_ident()
    saved, sys.stderr = sys.stderr, collector
    try:
        for name, kinds, own_text, results in FUNCTIONS:
            module, _, attribute = name.rpartition(".")
            function = getattr(ext if module == "ext" else pp, attribute)
            mismatch = PARSER if own_text is None else re.escape(
                "AttributeError: wrong args: must be " + own_text)
            for _ in range(calls):
                args = arguments(rng, kinds.split())
                try:
                    result = function(*args)
                except BaseException as error:
                    note("escaped", "%s raised %s" % (name, ascii(repr(error))))
                    continue
                finally:
                    check_reports(collector.take(me), [mismatch] + REPORTS, name)
                summary["calls"][name] = summary["calls"].get(name, 0) + 1
                if type(result) not in results:
                    note("results", "%s returned %s" % (name, ascii(result)))
    finally:
        sys.stderr = saved


# Once the bridge is idle: its event callables printed only what the callables raise.
def finish():
    for ident in list(collector.texts):
        check_reports(collector.take(ident), REPORTS[4:6], "event callable")


class ProxyPluginObject:
    """Module function fuzzing."""
