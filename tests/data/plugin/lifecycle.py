"""Prints its run number and handler constants; start and stop answer start_answer and
stop_answer, which a test may change between calls."""
import proxyplugin as pp

ident = pp.__proxy_plugin_identifier__
runs = globals().get("runs", 0) + 1
print("run", runs, pp.__proxy_plugin_icd_identifier__, pp.__proxy_plugin_icd_interface__,
      pp.__proxy_plugin_icd_filename__, pp.__proxy_plugin_icd_us_busclock__)

start_answer = True
stop_answer = True


def on_start():
    print("script start")
    return start_answer


def on_stop():
    print("script stop")
    return stop_answer


def on_action(action_id):
    print("script action", action_id)


pp.setStartCallback(ident, on_start)
pp.setStopCallback(ident, on_stop)
pp.setOnPluginActionCallback(ident, on_action)
# Shares the help action's id: a request for that id must still never reach on_action.
pp.addSimpleAction(ident, 99999, "Shadow help", pp.ACTION_TYPE_NORMAL)
pp.addSimpleAction(ident, 5, "Five", pp.ACTION_TYPE_NORMAL)
pp.setName(ident, "Lifecycle")


class ProxyPluginObject:
    """Help page of the lifecycle test plug-in."""
