# An encoder that checks a menu item (which takes the plug-in's lock) while an action callable,
# which runs under that lock, commits the encoder's message (which takes the transcoder mutex):
# host threads encoding the field and the host's thread running the action take the two locks
# in opposite orders.
import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
KEY = pp.__proxy_plugin_icd_identifier__
checks = [0]


class Flagging:
    def encode(self, value):
        checks[0] += 1
        pp.setChecked(ID, 1, value % 2)
        return value

    def decode(self, raw):
        return raw


def on_action(action_id):
    # Some work first: long enough for a host thread to start encoding the field meanwhile.
    sum(range(3000))
    pp.commitSingleMessage(ID, KEY, "STATUS")


pp.setName(ID, "FLAGGING")
pp.addSimpleAction(ID, 1, "Odd", pp.ACTION_TYPE_CHECKABLE)
pp.setStopCallback(ID, lambda: True)
pp.setOnPluginActionCallback(ID, on_action)
pp.setEncodingFrom(ID, KEY, "STATUS", "int", Flagging())


class ProxyPluginObject:
    """Checks a menu item from its encoder."""
