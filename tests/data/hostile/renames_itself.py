# A thread of the script renames the plug-in over and over while the host reads the name, from the
# moment the script is loaded; stop_renaming() ends it. The two names are long enough that a
# torn read could not pass for either.
import threading

import proxyplugin as pp

ID = pp.__proxy_plugin_identifier__
NAMES = ("RENAMED_FIRST_" + "a" * 40, "RENAMED_SECOND_" + "b" * 60)
stop = threading.Event()
renames = [0]


def rename():
    while not stop.is_set():
        pp.setName(ID, NAMES[renames[0] % 2])
        renames[0] += 1


def stop_renaming():
    stop.set()
    renamer.join()


pp.setName(ID, NAMES[0])
renamer = threading.Thread(target=rename)
renamer.start()


class ProxyPluginObject:
    """Renames itself."""
