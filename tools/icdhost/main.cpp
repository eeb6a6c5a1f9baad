// icdhost: a host application in miniature. It loads ICD files with the reference host library,
// loads the plug-in library by its entry points, creates one plug-in object per Python script and
// runs commands against them: from a file, from -c, from standard input, or at a prompt.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "CommandRunner.h"
#include "CommandSources.h"
#include "Host.h"
#include "ICDHandler.h"
#include "ICDHost.h"
#include "ICDPluginObject.h"
#include "Output.h"
#include "PluginLibrary.h"
#include "QtInterpreter.h"

namespace {

constexpr int kStatusOk = 0;
constexpr int kStatusCommandFailed = 1;
constexpr int kStatusStartupFailed = 2;
constexpr int kStatusScriptError = 3;
constexpr int kStatusExpectationFailed = 4;

struct Options {
    std::vector<std::string> icds;
    std::vector<std::string> scripts;
    std::string plugin;
    std::string runFile;
    std::string commands;
    bool hasCommands = false;
    bool trace = false;
    bool strict = false;
    std::string isolation;
    unsigned long syncTimeoutMs = 5000;
};

// Parses the command line; returns -1 to go on, otherwise the exit status (--help, --version,
// a usage error).
int parseOptions(int argc, char** argv, Options& options) {
    CLI::App app(
        "icdhost runs Python plug-in scripts of ProxyPythonPlugin against ICD files and "
        "lets a person or a test drive them with commands (see docs/icdhost.md).",
        "icdhost");
    app.add_option("--icd", options.icds, "load an ICD; handlers are numbered 0, 1, ... in order")
        ->type_name("FILE.xml")
        ->required()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->expected(1);
    app.add_option("--script", options.scripts,
                   "create one plug-in object for this script; plug-ins are numbered 0, 1, ...")
        ->type_name("SCRIPT.py")
        ->required()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->expected(1);
    app.add_option("--plugin", options.plugin,
                   "the plug-in library to load (default: the one built or installed with "
                   "icdhost)")
        ->type_name("LIBRARY");
    CLI::Option* run =
        app.add_option("--run", options.runFile,
                       "run the commands of FILE (- for standard input), then shut down")
            ->type_name("FILE");
    CLI::Option* commands =
        app.add_option("-c", options.commands,
                       "run COMMANDS (separated by newlines or ;), then shut down")
            ->type_name("COMMANDS");
    run->excludes(commands);
    app.add_flag("--trace", options.trace,
                 "print a 'host: ' line for every call a plug-in makes into the host library");
    app.add_flag("--strict", options.strict,
                 "exit with status 3 when a script reported an error during the run");
    app.add_option("--sync-timeout", options.syncTimeoutMs,
                   "the bound of the sync command in milliseconds (default 5000)")
        ->type_name("MS");
    app.add_option("--isolation", options.isolation,
                   "how the plug-ins share the Python interpreter lock: shared (one for all, the "
                   "default unless PROXYPLUGIN_ISOLATION says otherwise) or own-gil (one per "
                   "plug-in, CPython 3.12 and later)")
        ->type_name("MODE")
        ->check(CLI::IsMember({"shared", "own-gil"}));
    app.set_version_flag("--version", "icdhost " ICDHOST_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? kStatusOk : kStatusStartupFailed;
    }
    options.hasCommands = commands->count() > 0;
    return -1;
}

// Start-up failed before any plug-in saw the handlers: nothing else points at them.
void deleteHandlers(icdhost::Host& host) {
    for (ICDHandler* handler : host.handlers) {
        delete handler;
    }
    host.handlers.clear();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    const bool interactive =
        options.runFile.empty() && !options.hasCommands && ::isatty(STDIN_FILENO) != 0;

    // --run - reads standard input; check a command file before anything is loaded.
    std::ifstream commandFile;
    if (!options.runFile.empty() && options.runFile != "-") {
        commandFile.open(options.runFile);
        if (!commandFile) {
            icdhost::printError("icdhost: cannot read the command file " + options.runFile);
            return kStatusStartupFailed;
        }
    }

    ICDHost::setTrace(options.trace);
    icdhost::Host host;
    host.syncTimeoutMs = options.syncTimeoutMs;
    for (const std::string& path : options.icds) {
        std::string error;
        std::unique_ptr<ICDHandler> handler = ICDHandler::load(path, &error);
        if (!handler) {
            icdhost::printError("icdhost: " + error);
            deleteHandlers(host);
            return kStatusStartupFailed;
        }
        // Kept until the process ends: the plug-in's bridges stay registered on it.
        host.handlers.push_back(handler.release());
    }

    icdhost::PluginLibrary library;
    std::string error;
    const std::string libraryPath =
        options.plugin.empty() ? icdhost::PluginLibrary::defaultPath() : options.plugin;
    if (!library.open(libraryPath, &error)) {
        icdhost::printError("icdhost: " + error);
        deleteHandlers(host);
        return kStatusStartupFailed;
    }
    host.library = &library;
    library.apiVersion();
    if (options.strict && !library.countsScriptErrors()) {
        icdhost::printError("icdhost: --strict: the plug-in library " + libraryPath +
                            " does not count its scripts' errors");
        deleteHandlers(host);
        return kStatusStartupFailed;
    }
    if (!options.isolation.empty() && !library.setIsolation(options.isolation, &error)) {
        icdhost::printError("icdhost: " + error);
        deleteHandlers(host);
        return kStatusStartupFailed;
    }

    // Dialogs ask on the terminal only at the prompt; elsewhere they take queued answers.
    QtInterpreterDialogs::setInteractive(interactive);

    for (const std::string& script : options.scripts) {
        ICDPluginObject* plugin = library.create();
        host.plugins.push_back(plugin);
        // The plug-in finds its folder (help documents, sys.path, the help page it writes) in the
        // path up to its last slash: a bare name would give it none, and its help set-up would
        // fail to change into "". Such a name is given as "./NAME"; other paths as written.
        plugin->setFileName(script.find_first_of("/\\") == std::string::npos ? "./" + script
                                                                             : script);
        for (ICDHandler* handler : host.handlers) {
            // The plug-in reports its own failures; one that escapes as an exception still
            // leaves the other handlers, scripts and commands to run.
            try {
                plugin->setICDHandler(handler);
                plugin->onSetICDHandler(handler);
            } catch (const std::exception& error) {
                icdhost::printError("icdhost: setting up " + script + " failed: " + error.what());
            }
        }
    }

    icdhost::CommandRunner runner(host);
    if (options.hasCommands) {
        icdhost::runText(runner, options.commands);
    } else if (commandFile.is_open()) {
        icdhost::runStream(runner, commandFile);
    } else if (interactive) {
        icdhost::runPrompt(runner);
    } else {
        icdhost::runStream(runner, std::cin);
    }

    library.destroyAll();
    std::cout.flush();
    std::fflush(nullptr);
    // When several apply: a script error, the likely cause of the rest, before a failed
    // expectation, before a failed command.
    int exitStatus = runner.anyFailed() ? kStatusCommandFailed : kStatusOk;
    if (runner.anyExpectationFailed()) {
        exitStatus = kStatusExpectationFailed;
    }
    if (options.strict) {
        // Counted since the library was loaded: set-up, every command and the stop at the end.
        const unsigned long long errors = library.scriptErrorCount();
        if (errors > 0) {
            icdhost::printError("icdhost: --strict: the scripts reported " +
                                std::to_string(errors) + (errors == 1 ? " error" : " errors"));
            exitStatus = kStatusScriptError;
        }
    }
    // The ICDs, sub-interpreters and event bridges stay until the process ends, with the bridges'
    // threads waiting for events: end it here rather than run static destructors under them.
    std::_Exit(exitStatus);
}
