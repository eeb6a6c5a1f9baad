"""Names itself and registers a start callable, then fails."""
import proxyplugin as pp

pp.setName(pp.__proxy_plugin_identifier__, "Failing")
pp.setStartCallback(pp.__proxy_plugin_identifier__, lambda: True)
raise ValueError("the script fails on purpose")
