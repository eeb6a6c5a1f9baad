# Callables and encoders that replace, rebind or delete themselves while the plug-in runs them.
# Replaced callables must be freed once their call ends (a slot owns exactly one reference); the
# rest must keep working.
import gc
import weakref

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
log = []
generations = {}  # kind -> weak references to every callable of that kind, oldest first
INSTALL = {"start": pp.setStartCallback, "stop": pp.setStopCallback,
           "action": pp.setOnPluginActionCallback,
           "event": lambda id, callable_: pp.setConsumeICDEventCallback(id, KEY, callable_)}


# When called, installs its successor in its own slot: the host's call is then all that keeps it
# alive.
class Replacing:
    def __init__(self, kind, generation):
        self.kind, self.generation = kind, generation
        generations.setdefault(kind, []).append(weakref.ref(self))
        INSTALL[kind](ID, self)

    def __call__(self, *args):
        log.append("%s %d" % (self.kind, self.generation))
        Replacing(self.kind, self.generation + 1)
        gc.collect()
        return True


def alive(kind):
    gc.collect()
    return [ref().generation for ref in generations[kind] if ref() is not None]


def body(**inputs):
    globals().pop("body", None)  # the script's only reference to the running callable
    gc.collect()
    return {"ran": True}


# Installs its successor on its own field from inside encode; each adds its generation.
class SelfReplacingCoder:
    def __init__(self, generation):
        self.generation = generation
        pp.setEncodingFrom(ID, KEY, "STATUS", "int", self)

    def encode(self, value):
        SelfReplacingCoder(self.generation + 1)
        return value + self.generation

    def decode(self, raw):
        return raw - self.generation


# Deletes its class's encode, rebinds decode on itself and drops the script's reference to itself
# while running.
class ForgettingCoder:
    def encode(self, text):
        del ForgettingCoder.encode
        globals().pop("forgetting", None)
        return text.upper()

    def decode(self, raw):
        self.decode = lambda raw: "rebound " + raw
        return raw.lower()


for kind in INSTALL:
    Replacing(kind, 0)
pp.setName(ID, "REBINDING")
pp.addCallableAction(ID, 7, "Forgets itself", body)
SelfReplacingCoder(0)
forgetting = ForgettingCoder()
pp.setEncodingFrom(ID, KEY, "STATUS", "text", forgetting)


class ProxyPluginObject:
    """Rebinds itself while running."""
