// Proxy plug-ins set up as a host sets them up, on the scripts and ICD files of tests/data/plugin,
// and what the help action opened.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ICDHandler.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "plugin/ProxyPythonPlugin.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/TestFiles.h"

namespace plugintest {

inline std::string dataPath(const std::string& name) {
    return testfiles::dataPath("plugin", name);
}

inline ICDHandler* loadHandler(const std::string& file = "plugin_bus.xml") {
    return testfiles::loadHandler(dataPath(file));
}

// What a host does when it hands a plug-in a handler; gives what the plug-in printed on standard
// output followed by what it printed on standard error.
inline std::string assign(ICDPluginObject* plugin, ICDHandler* handler) {
    CaptureOutput output;
    plugin->setICDHandler(handler);
    plugin->onSetICDHandler(handler);
    return output.out() + output.err();
}

// A plug-in on SCRIPT, set up with HANDLER as a host sets it up (none: left unset); by default
// names.py, which binds `pp`, `ID` and `KEY`, on a handler of its own.
struct ScriptedPlugin {
    explicit ScriptedPlugin(const std::string& script = dataPath("names.py"),
                            ICDHandler* handler = loadHandler())
        : handler(handler), plugin(std::make_unique<ProxyPythonPlugin>("ProxyPythonPlugin?")) {
        plugin->setFileName(script);
        if (handler != nullptr) {
            printed = assign(plugin.get(), handler);
        }
    }
    bool run(const std::string& code) { return plugin->getSession()->eval(code); }
    // A raised error is printed and gives null. Precondition: the session is held.
    PyRef value(const std::string& expression) {
        PyObject* globals = plugin->getSession()->globals();  // borrowed
        PyRef result =
            PyRef::steal(PyRun_String(expression.c_str(), Py_eval_input, globals, globals));
        if (!result) {
            pycompat::printPendingError();
        }
        return result;
    }
    std::string text(const std::string& expression) {
        PySession::Use use(plugin->getSession());
        PyRef value = this->value("str(" + expression + ")");
        const char* utf8 = value ? PyUnicode_AsUTF8(value.get()) : nullptr;
        return utf8 != nullptr ? utf8 : "<error>";
    }
    ProxyPluginPyInterface& registry() { return *plugin->getInterface(); }
    ICDPluginAction* action(unsigned int index) { return plugin->getPluginAction(index); }

    ICDHandler* handler;
    std::unique_ptr<ProxyPythonPlugin> plugin;
    std::string printed;  // by set-up, standard output then standard error
};

// Help actions among the top-level actions.
inline int helpActions(const ProxyPythonPlugin& plugin) {
    int count = 0;
    for (unsigned int i = 0; i < plugin.getPluginActionSize(); ++i) {
        count += plugin.getPluginAction(i)->getName() == "Help";
    }
    return count;
}

// A copy of a test script in a directory of its own, so that pydoc pages are never written into
// the source tree; with `compiledHelp`, a ProxyPythonPlugin.chm beside it.
struct ScriptDir : testfiles::ScratchDir {
    explicit ScriptDir(const std::string& name, bool compiledHelp = false)
        : script(copy("plugin", name)) {
        if (compiledHelp) {
            write("ProxyPythonPlugin.chm", "compiled help");
        }
    }

    std::string script;
};

// The documents the help action asked to open from DIR, one a line (ICD_OPEN_COMMAND names
// record-open.sh). The opener runs detached: waits up to 5 s for the first line.
inline std::string opened(const std::string& dir) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (std::string text;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        text.assign(std::istreambuf_iterator<char>(std::ifstream(dir + "opened.log").rdbuf()), {});
        if (text.find('\n') != std::string::npos || std::chrono::steady_clock::now() >= deadline) {
            return text;
        }
    }
}

}  // namespace plugintest
