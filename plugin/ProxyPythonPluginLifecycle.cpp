// What a set-up proxy plug-in does for the host: start, stop and action requests relayed to the
// script inside its session, and the plug-in's own help action and document.
//
// A plug-in never given a handler, or whose set-up failed, has no session: start, stop and
// action requests then do nothing and print nothing (onDestroy stops such objects too). The help
// action needs no session and works whenever a help document was found.
#include "ProxyPythonPlugin.h"

#include <fstream>
#include <iostream>

#include "PyInterpreter.h"
#include "pymodule/ProxyPluginPyInterface.h"
#include "ScriptErrors.h"
#include "PrintLine.h"

void ProxyPythonPlugin::start() {
    if (!isReady() || _running) {
        return;
    }
    PySession::Use use(_session);
    _running = _interface->start();
    ppp_output::printLine(std::cout, _name, "::Start() ", (_running ? 1 : 0));
}

void ProxyPythonPlugin::stop() {
    if (!isReady()) {
        return;
    }
    PySession::Use use(_session);
    // The stop callback runs whether or not the plug-in is running.
    if (_interface->stop()) {
        _running = false;
    }
}

void ProxyPythonPlugin::onPluginAction(unsigned int id) {
    if (id == HELP_ACTION_ID) {
        // Never reaches the script, even if it registered an action with this id.
        if (!_helpFile.empty()) {
            ProxyPythonPluginPlatform::openDocument(_helpFile);
        }
        return;
    }
    if (!isReady()) {
        return;
    }
    PySession::Use use(_session);
    _interface->onPluginAction(id);
}

void ProxyPythonPlugin::createHelpMenu() {
    // Lives until the process ends, as every action does; one more per handler assignment. Added
    // under the interface's lock: a thread the script started may be adding actions meanwhile.
    auto* help =
        new ICDPluginAction(HELP_ACTION_ID, "Help", ACTION_TYPE_NORMAL, ACTION_KIND_MENU, nullptr);
    if (_interface != nullptr) {
        _interface->attachTopLevelAction(help);
    } else {
        addPluginAction(help);
    }

    const std::string compiledHelp = _scriptDir + "ProxyPythonPlugin.chm";
    if (std::ifstream(compiledHelp).is_open()) {
        _helpFile = compiledHelp;
        return;
    }
    if (_session == nullptr) {
        return;
    }
    // pydoc writes ProxyPluginObject.html into the working directory. A failing line (no
    // ProxyPluginObject in the script, an empty _scriptDir) is reported by eval and the others
    // still run; the help file is expected where the page would be written all the same.
    for (const std::string& line :
         {std::string("cur = os.getcwd()"), "os.chdir('" + _scriptDir + "')",
          std::string("pydoc.writedoc(ProxyPluginObject)"), std::string("os.chdir(cur)")}) {
        if (!_session->eval(line)) {
            ProxyPythonPluginNS::noteScriptError();
        }
    }
    _helpFile = _scriptDir + "ProxyPluginObject.html";
}
