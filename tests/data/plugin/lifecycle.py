"""Start and stop answer start_answer and stop_answer; events add an action."""
import proxyplugin as pp

ident = pp.__proxy_plugin_identifier__
start_answer = stop_answer = True
pp.setStartCallback(ident, lambda: print("script start") or start_answer)
pp.setStopCallback(ident, lambda: print("script stop") or stop_answer)
pp.setOnPluginActionCallback(ident, lambda action_id: print("script action", action_id))
pp.setConsumeICDEventCallback(ident, pp.__proxy_plugin_icd_identifier__,
                              lambda e: print("event", e) or pp.addSimpleAction(ident, e, "E", 1))
# Shares the help action's id: a request for that id must still never reach the script.
pp.addSimpleAction(ident, 99999, "Shadow help", pp.ACTION_TYPE_NORMAL)
pp.setName(ident, "Lifecycle")


class ProxyPluginObject:
    """Help page of the lifecycle test plug-in."""
