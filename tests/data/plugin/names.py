import proxyplugin as pp
ID, KEY = pp.__proxy_plugin_identifier__, pp.__proxy_plugin_icd_identifier__
