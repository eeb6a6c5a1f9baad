# Calls every function of module proxyplugin thousands of times with generated arguments: wrong
# counts, values of every kind, texts with NUL characters and lone surrogates, huge and negative
# integers, objects whose __str__, __index__, __call__ or attribute lookups raise, callables that
# raise, exit or interrupt. No call may raise into the script or return anything but its
# documented result, and what each call prints on sys.stderr must be one of its documented
# reports. The test sets OTHER_ID and OTHER_KEY (another plug-in's identifier and handler key),
# then calls fuzz() and finish().
#
# Texts never hold a line end, so that the C++ side can check what the plug-in prints line by line.
import random
import re
import sys
import threading

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
OTHER_ID = None
OTHER_KEY = None


class HostileError(Exception):
    pass


class RaisingStr:
    def __str__(self):
        raise HostileError("__str__")

    def __repr__(self):
        raise HostileError("__repr__")


class RaisingIndex:
    def __index__(self):
        raise HostileError("__index__")


class RaisingCall:
    def __call__(self, *args, **kwargs):
        raise HostileError("__call__")


class RaisingEquality:
    def __eq__(self, other):
        raise HostileError("__eq__")

    def __hash__(self):
        raise HostileError("__hash__")


class RaisingGetattr:
    def __getattr__(self, name):
        raise HostileError("__getattr__ " + name)


class IntSubclass(int):
    def __index__(self):
        raise HostileError("IntSubclass.__index__")


class StrSubclass(str):
    def __str__(self):
        raise HostileError("StrSubclass.__str__")


class Codec:
    name = "CODEC"

    def encode(self, value):
        return value if isinstance(value, str) else abs(int(value)) % 1000

    def decode(self, raw):
        return raw


def returning(result):
    class Returning:
        def encode(self, value):
            return result

        def decode(self, raw):
            return result

    return Returning()


def failing(how):
    class Failing:
        name = how

        def encode(self, value):
            how_to_fail(how)

        def decode(self, raw):
            how_to_fail(how)

    return Failing()


def how_to_fail(how):
    if how == "raise":
        raise HostileError("codec")
    if how == "exit":
        sys.exit(2)
    if how == "SystemExit":
        raise SystemExit("codec")
    if how == "interrupt":
        raise KeyboardInterrupt
    if how == "recurse":
        how_to_fail(how)


class RaisingName(Codec):
    @property
    def name(self):
        raise HostileError("name")


class NotTextName(Codec):
    name = 5


class SurrogateName(Codec):
    name = "\udcff"


class NotCallableMethods:
    encode = 5
    decode = "decode"


def quiet(*args, **kwargs):
    return None


def raising(*args, **kwargs):
    raise HostileError("callable")


def exiting(*args, **kwargs):
    sys.exit(4)


def interrupting(*args, **kwargs):
    raise KeyboardInterrupt("callable")


CALLABLES = [quiet, raising, exiting, interrupting, RaisingCall(), len, int, Codec, HostileError,
             lambda event: None]
ENCODERS = [Codec(), Codec(), RaisingName(), NotTextName(), SurrogateName(), NotCallableMethods(),
            RaisingGetattr(), returning(None), returning(-1), returning(2 ** 64),
            returning(1.5), returning("text"), returning(b"bytes"), returning("a\0b"),
            returning("\udcff"), failing("raise"), failing("exit"), failing("SystemExit"),
            failing("interrupt"), failing("recurse"), object(), None, 5]
UNKNOWN_ID = "proxyplugin#999999@0000000000000000"
ANY = [None, True, False, 0, -1, 2 ** 31, -2 ** 31 - 1, 2 ** 63, 2 ** 64, -2 ** 64, 10 ** 100,
       0.5, float("nan"), float("inf"), "", "x", "a\0b", "\ud800", "\udcff tail", "x" * 5000,
       b"bytes", bytearray(b"ba"), memoryview(b"mv"), [], [1], (), (1, 2), {}, {"k": 1}, set(),
       frozenset(), object(), RaisingStr(), RaisingIndex(), RaisingCall(), RaisingEquality(),
       RaisingGetattr(), IntSubclass(5), StrSubclass("s"), Codec(), sys, HostileError("e"),
       HostileError, type, quiet, raising, exiting, interrupting, len, Ellipsis, NotImplemented,
       complex(1, 2), range(3), iter([]), slice(1)]
FIELDS = ["bits", "short", "ushort", "int", "uint", "long", "ulong", "longlong", "ulonglong",
          "float", "double", "text", "vendor", "target", "label", "nope", ""]


def fitting():
    return {
        "id": [ID] * 6 + [OTHER_ID, UNKNOWN_ID, ""],
        "key": [KEY] * 4 + [OTHER_KEY, "0" * 16, ""],
        "int": [0, 1, 2, 3, 4, 5, 7, -1, 2 ** 31 - 1, -2 ** 31, 99999, True],
        "event": [0, 1, 5, 3000, 4001, 2 ** 31, -1, 2 ** 32 + 5, 10 ** 30],
        "text": ["", "x", "Menu entry", "\u00e9 \u00fc \u4e2d", "\t", "a" * 3000, "%s%n%x", "{0}"],
        "message": ["STATUS", "STATUS", "CONTROL", "NOPE", ""],
        "field": FIELDS,
        "callable": CALLABLES,
        "encoder": ENCODERS,
    }


NOT_FOUND = "RuntimeError: no proxyinterface found"
NO_BRIDGE = "RuntimeError: no proxyHandlderinterface found"
NOT_CALLABLE = "ReferenceError: Object passed as argument is not a callable one"
BAD_PARENT = "RuntimeError: invalid parent id"
# What the interpreter's argument parser reports, and what the hostile objects raise while it
# converts them.
PARSER = r"(TypeError|ValueError|OverflowError|UnicodeEncodeError|(\w+\.)*HostileError)(: .*)?"
# What the generated callables raise when the plug-in calls them.
CALLED = r"((\w+\.)*HostileError|TypeError|SystemExit|KeyboardInterrupt)(: .*)?"
WARNING = r".*:\d+: \w*Warning: .*"

NONE = (type(None),)
TRUTH = (bool, type(None))
TEXT = (str, type(None))

# name, argument units (a "?" marks an optional one), the function's own text for an argument
# mismatch (None: the parser's error), the results it may give, other reports it may print.
FUNCTIONS = [
    ("setStartCallback", ["id", "callable"], None, NONE, [NOT_CALLABLE]),
    ("setStopCallback", ["id", "callable"], None, NONE, [NOT_CALLABLE]),
    ("setOnPluginActionCallback", ["id", "callable"], None, NONE, [NOT_CALLABLE]),
    ("setConsumeICDEventCallback", ["id", "key", "callable"], None, NONE,
     [NOT_FOUND, NO_BRIDGE, NOT_CALLABLE]),
    ("setName", ["id", "text"], "wrong args: must be name [string]", NONE, [NOT_FOUND]),
    ("addSimpleAction", ["id", "int", "text", "int", "int?"], None, NONE,
     [NOT_FOUND, BAD_PARENT]),
    ("addCallableAction", ["id", "int", "text", "callable", "int?"], None, TRUTH,
     [NOT_FOUND, BAD_PARENT, NOT_CALLABLE]),
    ("setChecked", ["id", "int", "int"], "wrong args: must be id,val [int,boolean]", TRUTH,
     [NOT_FOUND, CALLED]),
    ("getChecked", ["id", "int"], "wrong args: must be id [int]", TRUTH, [NOT_FOUND]),
    ("raiseError", ["id", "key", "text", "int"], "wrong args: must be msg [string],severity [int]",
     TRUTH, [NOT_FOUND, NO_BRIDGE]),
    ("messageBox", ["id", "text", "text?", "int?", "int?"],
     "wrong args: must be text,[caption,button_flag,icon_flag] [string,string,int,int]",
     (int, type(None)), [NOT_FOUND]),
    ("inputBox", ["id", "text?", "text?"], "wrong args: must be [caption,text] [string,string]",
     TEXT, [NOT_FOUND]),
    ("openFileDialog", ["id", "text?", "text?", "text?"],
     "wrong args: must be [caption='Open File',dir='.',filters='All Files (*);; Text (*.txt)'] "
     "[string,string,string]", TEXT, [NOT_FOUND]),
    ("saveFileDialog", ["id", "text?", "text?", "text?"],
     "wrong args: must be [caption='Save File',dir='.',filters='All Files (*);; Text (*.txt)'] "
     "[string,string]", TEXT, [NOT_FOUND]),
    ("openDirDialog", ["id", "text?", "text?"],
     "wrong args: must be [caption='Open Dir',dir='.'] [string,string]", TEXT, [NOT_FOUND]),
    ("commitSingleMessageField", ["id", "key", "message", "field"], None, TRUTH,
     [NOT_FOUND, NO_BRIDGE]),
    ("commitSingleMessage", ["id", "key", "message"], None, TRUTH, [NOT_FOUND, NO_BRIDGE]),
    ("sendICDEvent", ["id", "key", "event"], "wrong args: must be arg_event_id [int]", NONE,
     [NOT_FOUND, NO_BRIDGE]),
    ("setMessageFieldReserved", ["id", "key", "message", "field", "int"],
     "wrong args: must be msg,field,flag [string,string,boolean]", TRUTH, [NOT_FOUND, NO_BRIDGE]),
    ("setEncodingFrom", ["id", "key", "message", "field", "encoder"],
     "wrong args: must be msg,field,encoder [string,string,object]", TRUTH,
     # 3.13 hands errors of attribute tests to sys.unraisablehook.
     [NOT_FOUND, NO_BRIDGE, r"Exception ignored.*", r"(\w+\.)*HostileError: .*"]),
    ("getEncoderName", ["id", "key", "message", "field"],
     "wrong args: must be msg,field [string,string]", TEXT, [NOT_FOUND, NO_BRIDGE]),
]


class PerThreadStderr:
    """Collects what is written to sys.stderr per thread, so that the reports of a bridge thread
    running an event callable never mix with those of the calls made here."""

    def __init__(self):
        self.texts = {}

    def write(self, text):
        self.texts.setdefault(threading.get_ident(), []).append(text)
        return len(text)

    def flush(self):
        pass

    def take(self, ident):
        parts = self.texts.pop(ident, [])
        return "".join(parts)


def report_lines(text):
    """The lines of `text` that end or stand for a report: not the traceback's header and
    indented lines, nor blank lines."""
    for line in text.split("\n"):
        if not line.strip() or line[0].isspace() or line == "Traceback (most recent call last):":
            continue
        if line.startswith(("During handling of the above exception",
                            "The above exception was the direct cause")):
            continue
        yield line


def unexpected_reports(text, allowed):
    patterns = [re.compile(pattern) for pattern in allowed]
    return [line for line in report_lines(text)
            if not any(pattern.fullmatch(line) for pattern in patterns)]


summary = {"calls": {}, "escaped": [], "results": [], "reports": []}
collector = PerThreadStderr()
saved_stderr = None


def note(kind, text):
    if len(summary[kind]) < 30:
        summary[kind].append(text)


def arguments(rng, units, pool):
    roll = rng.random()
    if roll < 0.1:
        count = rng.randrange(0, 8)
    elif roll < 0.15:
        count = len(units) + 1
    else:
        required = len([unit for unit in units if not unit.endswith("?")])
        count = rng.randrange(required, len(units) + 1)
    args = []
    for index in range(count):
        unit = units[index].rstrip("?") if index < len(units) else None
        if unit is not None and rng.random() < 0.75:
            args.append(rng.choice(pool[unit]))
        else:
            args.append(rng.choice(ANY))
    return args


def fuzz(calls, seed):
    """Calls each of the 21 functions `calls` times."""
    global saved_stderr
    rng = random.Random(seed)
    pool = fitting()
    me = threading.get_ident()
    saved_stderr = sys.stderr
    sys.stderr = collector
    try:
        for name, units, own_text, results, reports in FUNCTIONS:
            function = getattr(pp, name)
            if own_text is None:
                allowed = [PARSER, WARNING] + reports
            else:
                allowed = ["AttributeError: " + re.escape(own_text), WARNING] + reports
            allowed = [re.escape(item) if item in (NOT_FOUND, NO_BRIDGE, NOT_CALLABLE, BAD_PARENT)
                       else item for item in allowed]
            for _ in range(calls):
                args = arguments(rng, units, pool)
                try:
                    result = function(*args)
                except BaseException as error:
                    note("escaped", "%s raised %s: %s" % (name, type(error).__name__,
                                                          ascii(str(error))))
                    continue
                finally:
                    printed = collector.take(me)
                summary["calls"][name] = summary["calls"].get(name, 0) + 1
                if type(result) not in results:
                    note("results", "%s returned %s" % (name, ascii(result)))
                for line in unexpected_reports(printed, allowed):
                    note("reports", "%s printed %s" % (name, ascii(line)))
    finally:
        sys.stderr = saved_stderr


def finish():
    """What the bridge thread printed while the event callables ran: only what the generated
    callables raise. Called once the bridge is idle."""
    for ident in list(collector.texts):
        for line in unexpected_reports(collector.take(ident), [CALLED, WARNING]):
            note("reports", "event callable printed %s" % ascii(line))


class ProxyPluginObject:
    """Module function fuzzing."""
