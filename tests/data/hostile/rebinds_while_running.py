# Callables and encoders that replace, rebind or delete themselves while the plug-in runs them.
# Replaced callables must be freed once their call ends (a slot owns exactly one reference);
# the rest must keep working.
import gc
import weakref

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
log = []
generations = {}  # kind -> weak references to every callable of that kind, oldest first
current = {}  # kind -> the script's one reference to the callable now installed


def install(kind, callable_):
    if kind == "start":
        pp.setStartCallback(ID, callable_)
    elif kind == "stop":
        pp.setStopCallback(ID, callable_)
    elif kind == "action":
        pp.setOnPluginActionCallback(ID, callable_)
    else:
        pp.setConsumeICDEventCallback(ID, KEY, callable_)


class Replacing:
    """When called, installs its successor in its own slot and drops the script's reference to
    itself: the host's call is then all that keeps it alive."""

    def __init__(self, kind, generation):
        self.kind = kind
        self.generation = generation
        generations.setdefault(kind, []).append(weakref.ref(self))
        current[kind] = self

    def __call__(self, *args):
        log.append("%s %d" % (self.kind, self.generation))
        install(self.kind, Replacing(self.kind, self.generation + 1))
        gc.collect()
        return True


def alive(kind):
    """Generations of `kind` still alive."""
    gc.collect()
    return [ref().generation for ref in generations[kind] if ref() is not None]


def body(**inputs):
    # Deletes the script's only reference to itself while it runs.
    globals().pop("body", None)
    gc.collect()
    return {"ran": True}


class SelfReplacingCoder:
    """Installs its successor on its own field from inside encode; each generation adds its
    number."""

    def __init__(self, generation):
        self.generation = generation

    def encode(self, value):
        pp.setEncodingFrom(ID, KEY, "STATUS", "int", SelfReplacingCoder(self.generation + 1))
        return value + self.generation

    def decode(self, raw):
        return raw - self.generation


class ForgettingCoder:
    """Text encoder that deletes its class's encode, rebinds decode on itself and drops the
    script's reference to itself while running."""

    def encode(self, text):
        del ForgettingCoder.encode
        globals().pop("forgetting", None)
        return text.upper()

    def decode(self, raw):
        self.decode = lambda raw: "rebound " + raw
        return raw.lower()


for kind in ("start", "stop", "action", "event"):
    install(kind, Replacing(kind, 0))
current.clear()  # from now on only the plug-in holds them
pp.setName(ID, "REBINDING")
pp.addCallableAction(ID, 7, "Forgets itself", body)
pp.setEncodingFrom(ID, KEY, "STATUS", "int", SelfReplacingCoder(0))
forgetting = ForgettingCoder()
pp.setEncodingFrom(ID, KEY, "STATUS", "text", forgetting)
del forgetting


class ProxyPluginObject:
    """Rebinds itself while running."""
