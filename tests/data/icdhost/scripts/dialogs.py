# Opens each kind of dialog from an action and prints what it got back.
import proxyplugin as pp

PLUGIN = pp.__proxy_plugin_identifier__


def on_action(action_id):
    if action_id == 1:
        print("dialogs: messageBox ->", repr(pp.messageBox(PLUGIN, "Proceed?")))
    elif action_id == 2:
        print("dialogs: inputBox ->", repr(pp.inputBox(PLUGIN)))
        print("dialogs: inputBox ->", repr(pp.inputBox(PLUGIN, "Name", "Who are you?")))
    elif action_id == 3:
        print("dialogs: openFileDialog ->", repr(pp.openFileDialog(PLUGIN)))
    elif action_id == 4:
        print("dialogs: saveFileDialog ->", repr(pp.saveFileDialog(PLUGIN)))
    elif action_id == 5:
        print("dialogs: openDirDialog ->", repr(pp.openDirDialog(PLUGIN)))
    elif action_id == 6:
        print("dialogs: messageBox without text ->", repr(pp.messageBox(PLUGIN)))
    elif action_id == 7:
        print("dialogs: messageBox ->", repr(pp.messageBox(PLUGIN, "Really?", "Confirm", 3, 2)))


pp.setName(PLUGIN, "DIALOGS")
pp.setOnPluginActionCallback(PLUGIN, on_action)
for number, name in enumerate(["messageBox", "inputBox", "openFileDialog", "saveFileDialog",
                               "openDirDialog", "messageBox wrongly", "messageBox 3 buttons"], 1):
    pp.addSimpleAction(PLUGIN, number, name, pp.ACTION_TYPE_NORMAL)


class ProxyPluginObject:
    """Dialogs of icdhost's tests."""
