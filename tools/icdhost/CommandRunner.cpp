// The command language of icdhost: each command's parsing and what it does to the Host.
#include "CommandRunner.h"

#include <chrono>
#include <climits>
#include <functional>
#include <thread>

#include "ICDHandler.h"
#include "ICDPluginAction.h"
#include "ICDPluginObject.h"
#include "Output.h"
#include "PluginLibrary.h"
#include "PyInterpreter.h"
#include "QtInterpreter.h"
#include "ValueText.h"

namespace icdhost {

struct CommandRunner::Command {
    const char* name;
    const char* usage;
    const char* summary;
    void (CommandRunner::*handler)(const std::vector<Word>&);
};

const std::vector<CommandRunner::Command>& CommandRunner::commands() {
    static const std::vector<Command> table = {
        {"start", "start", "start every plug-in, in creation order", &CommandRunner::start},
        {"stop", "stop", "stop every plug-in, in creation order", &CommandRunner::stop},
        {"plugin", "plugin N", "select plug-in N", &CommandRunner::selectPlugin},
        {"icd", "icd N", "select ICD N", &CommandRunner::selectHandler},
        {"plugins", "plugins", "list the plug-ins: N NAME VERSION", &CommandRunner::listPlugins},
        {"actions", "actions", "list the selected plug-in's actions", &CommandRunner::listActions},
        {"action", "action ID", "run action ID of the selected plug-in", &CommandRunner::runAction},
        {"exec", "exec ID [KEY=VALUE ...]", "run dictionary action ID with these inputs",
         &CommandRunner::executeAction},
        {"help", "help [ID]", "list the commands, or show the help of action ID",
         &CommandRunner::help},
        {"event", "event N [DATA]", "deliver event N on the selected ICD", &CommandRunner::event},
        {"set", "set MSG.FIELD VALUE", "set a field's value and encode it",
         &CommandRunner::setField},
        {"decode", "decode MSG.FIELD RAW [signed]", "store a raw word and decode it",
         &CommandRunner::decodeField},
        {"get", "get MSG.FIELD", "show a field's value, raw word, encoder and reservation",
         &CommandRunner::getField},
        {"hold", "hold MSG.FIELD", "reserve a field for icdhost itself", &CommandRunner::holdField},
        {"release", "release MSG.FIELD", "end icdhost's reservation of a field",
         &CommandRunner::releaseField},
        {"answer", "answer VALUE", "queue the answer of the next dialog (- cancels it)",
         &CommandRunner::answer},
        {"sync", "sync", "wait until every queued event has been delivered", &CommandRunner::sync},
        {"sleep", "sleep MS", "pause for MS milliseconds", &CommandRunner::sleep},
        {"echo", "echo WORDS...", "print the words", &CommandRunner::echo},
        {"expect", "expect MSG.FIELD VALUE", "check a field's value as get shows it",
         &CommandRunner::expectValue},
        {"expect-raw", "expect-raw MSG.FIELD RAW", "check a field's raw word",
         &CommandRunner::expectRaw},
        {"expect-checked", "expect-checked ID yes|no", "check whether action ID is checked",
         &CommandRunner::expectChecked},
        {"expect-name", "expect-name TEXT", "check the selected plug-in's name",
         &CommandRunner::expectName},
        {"expect-running", "expect-running yes|no", "check whether the selected plug-in runs",
         &CommandRunner::expectRunning},
        {"py", "py CODE", "run Python CODE in the selected plug-in's script namespace",
         &CommandRunner::python},
        {"quit", "quit", "stop reading commands", nullptr},
    };
    return table;
}

std::vector<std::string> CommandRunner::commandNames() {
    std::vector<std::string> names;
    for (const Command& command : commands()) {
        names.push_back(command.name);
    }
    return names;
}

bool CommandRunner::takesField(const std::string& command) {
    return command == "set" || command == "decode" || command == "get" || command == "hold" ||
           command == "release" || command == "expect" || command == "expect-raw";
}

CommandRunner::CommandRunner(Host& host) : _host(host) {}

CommandRunner::Outcome CommandRunner::run(const std::string& line, unsigned long lineNumber) {
    _line = &line;
    _lineNumber = lineNumber;
    // py takes the rest of its line as Python wrote it: quotes, "#" and backslashes are Python's.
    const std::size_t first = line.find_first_not_of(" \t");
    SplitResult split;
    if (first != std::string::npos && line.compare(first, 2, "py") == 0 &&
        (first + 2 == line.size() || line[first + 2] == ' ' || line[first + 2] == '\t')) {
        split.words.push_back(Word{"py", std::vector<bool>(2, false)});
    } else {
        split = splitWords(line);
    }
    if (!split.error.empty()) {
        printCommandError(lineNumber, split.error);
        _anyFailed = true;
        return Outcome::Failed;
    }
    if (split.words.empty()) {
        return Outcome::Done;
    }
    const std::string& name = split.words.front().text;
    const Command* found = nullptr;
    for (const Command& command : commands()) {
        if (name == command.name) {
            found = &command;
            break;
        }
    }
    std::string reason;
    if (found == nullptr) {
        reason = "unknown command '" + name + "' (help lists the commands)";
    } else {
        _current = found;
        std::vector<Word> args(split.words.begin() + 1, split.words.end());
        try {
            if (found->handler == nullptr) {
                requireArgs(args, 0, 0);
                return Outcome::Quit;
            }
            (this->*found->handler)(args);
            return Outcome::Done;
        } catch (const Error& error) {
            reason = error.what();
        } catch (const std::exception& error) {
            // Nothing a plug-in does may take the host down.
            reason = std::string(found->name) + ": the plug-in failed: " + error.what();
        } catch (...) {
            reason = std::string(found->name) + ": the plug-in failed";
        }
    }
    printCommandError(lineNumber, reason);
    _anyFailed = true;
    return Outcome::Failed;
}

void CommandRunner::requireArgs(const std::vector<Word>& args, std::size_t min,
                                std::size_t max) const {
    if (args.size() < min || args.size() > max) {
        throw Error(std::string("usage: ") + current().usage);
    }
}

ICDPluginObject* CommandRunner::selectedPlugin() const {
    if (_plugin >= _host.plugins.size()) {
        throw Error(std::string(current().name) + ": no plug-in is loaded");
    }
    return _host.plugins[_plugin];
}

ICDHandler* CommandRunner::selectedHandler() const {
    if (_handler >= _host.handlers.size()) {
        throw Error(std::string(current().name) + ": no ICD is loaded");
    }
    return _host.handlers[_handler];
}

ICDGenericMessageField* CommandRunner::findField(const Word& word) const {
    const std::string& text = word.text;
    std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) {
        throw Error(std::string(current().name) + ": '" + text + "' is not MSG.FIELD");
    }
    ICDHandler* handler = selectedHandler();
    std::string messageName = text.substr(0, dot);
    std::string fieldName = text.substr(dot + 1);
    ICDMessage* message = handler->findMessage(messageName);
    if (message == nullptr) {
        throw Error(std::string(current().name) + ": no message '" + messageName + "' in ICD '" +
                    handler->getName() + "'");
    }
    ICDGenericMessageField* field = message->findMessageField(fieldName);
    if (field == nullptr) {
        throw Error(std::string(current().name) + ": no field '" + fieldName + "' in message '" +
                    messageName + "'");
    }
    return field;
}

PySession* CommandRunner::sessionOf(ICDPluginObject* plugin) const {
    // A Use of a null session does nothing.
    return _host.library != nullptr ? _host.library->sessionOf(plugin) : nullptr;
}

unsigned int CommandRunner::parseActionId(const Word& word) const {
    // Scripts give ids as Python ints: -1 stands for the same id as 4294967295.
    std::optional<long long> id = parseSigned(word.text, INT_MIN, UINT_MAX);
    if (!id) {
        throw Error(std::string(current().name) + ": '" + word.text + "' is not an action id");
    }
    return static_cast<unsigned int>(*id);
}

ICDPluginAction* CommandRunner::findAction(ICDPluginObject* plugin, unsigned int id,
                                           bool dictionaryOnly) {
    std::function<ICDPluginAction*(ICDPluginAction*)> visit =
        [&](ICDPluginAction* action) -> ICDPluginAction* {
        if (action == nullptr) {
            return nullptr;
        }
        if (action->getId() == id &&
            (!dictionaryOnly || action->getActionKind() == ACTION_KIND_DICTIONARY)) {
            return action;
        }
        for (ICDPluginAction* child : action->getChildren()) {
            if (ICDPluginAction* found = visit(child)) {
                return found;
            }
        }
        return nullptr;
    };
    for (unsigned int i = 0; i < plugin->getPluginActionSize(); ++i) {
        if (ICDPluginAction* found = visit(plugin->getPluginAction(i))) {
            return found;
        }
    }
    return nullptr;
}

std::vector<std::string> CommandRunner::fieldNames() const {
    std::vector<std::string> names;
    if (_handler < _host.handlers.size()) {
        for (ICDMessage* message : _host.handlers[_handler]->messages()) {
            for (ICDGenericMessageField* field : message->fields()) {
                names.push_back(message->getName() + "." + field->getName());
            }
        }
    }
    return names;
}

void CommandRunner::start(const std::vector<Word>& args) {
    requireArgs(args, 0, 0);
    for (ICDPluginObject* plugin : _host.plugins) {
        plugin->start();
    }
}

void CommandRunner::stop(const std::vector<Word>& args) {
    requireArgs(args, 0, 0);
    for (ICDPluginObject* plugin : _host.plugins) {
        plugin->stop();
    }
}

std::size_t CommandRunner::selectedIndex(const std::string& text, std::size_t count,
                                         const std::string& what) {
    std::optional<unsigned long long> index = parseUnsigned(text, ULLONG_MAX);
    if (!index || *index >= count) {
        throw Error(what + " " + text + " (there are " + std::to_string(count) + ")");
    }
    return static_cast<std::size_t>(*index);
}

void CommandRunner::selectPlugin(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    _plugin = selectedIndex(args[0].text, _host.plugins.size(), "plugin: no plug-in");
}

void CommandRunner::selectHandler(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    _handler = selectedIndex(args[0].text, _host.handlers.size(), "icd: no ICD");
}

void CommandRunner::listPlugins(const std::vector<Word>& args) {
    requireArgs(args, 0, 0);
    for (std::size_t i = 0; i < _host.plugins.size(); ++i) {
        ICDPluginObject* plugin = _host.plugins[i];
        printLine(std::to_string(i) + " " + plugin->getName() + " " + plugin->getVersion());
    }
}

void CommandRunner::listActions(const std::vector<Word>& args) {
    requireArgs(args, 0, 0);
    ICDPluginObject* plugin = selectedPlugin();
    std::vector<std::string> lines;
    std::function<void(ICDPluginAction*, std::size_t)> visit = [&](ICDPluginAction* action,
                                                                   std::size_t depth) {
        if (action == nullptr) {
            return;
        }
        std::string line = std::string(2 * depth, ' ') + std::to_string(action->getId()) + " " +
                           action->getName() +
                           " type=" + std::to_string(static_cast<int>(action->getActionType())) +
                           " kind=" + std::to_string(static_cast<int>(action->getActionKind()));
        if (action->getChecked()) {
            line += " checked";
        }
        lines.push_back(line);
        for (ICDPluginAction* child : action->getChildren()) {
            visit(child, depth + 1);
        }
    };
    {
        // The script may add actions from its event callables; they do so with the session held.
        PySession::Use use(sessionOf(plugin));
        for (unsigned int i = 0; i < plugin->getPluginActionSize(); ++i) {
            visit(plugin->getPluginAction(i), 0);
        }
    }
    for (const std::string& line : lines) {
        printLine(line);
    }
}

void CommandRunner::runAction(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    ICDPluginObject* plugin = selectedPlugin();
    unsigned int id = parseActionId(args[0]);
    bool known = false;
    {
        PySession::Use use(sessionOf(plugin));
        known = findAction(plugin, id, false) != nullptr;
    }
    if (!known) {
        throw Error("action: no action " + args[0].text + " in plug-in " + std::to_string(_plugin));
    }
    plugin->onPluginAction(id);
}

void CommandRunner::executeAction(const std::vector<Word>& args) {
    if (args.empty()) {
        requireArgs(args, 1, 1);
    }
    ICDPluginObject* plugin = selectedPlugin();
    unsigned int id = parseActionId(args[0]);
    ICDDictionary inputs;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const Word& pair = args[i];
        std::size_t equals = pair.text.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw Error("exec: '" + pair.text + "' is not KEY=VALUE");
        }
        addInput(inputs, pair.text.substr(0, equals), pair.text.substr(equals + 1),
                 pair.anyQuoted(equals + 1));
    }
    bool ok = false;
    ICDDictionary outputs;
    {
        PySession::Use use(sessionOf(plugin));
        ICDPluginAction* action = findAction(plugin, id, true);
        if (action == nullptr) {
            bool other = findAction(plugin, id, false) != nullptr;
            throw Error("exec: " + (other ? "action " + args[0].text + " takes no dictionary"
                                          : "no action " + args[0].text + " in plug-in " +
                                                std::to_string(_plugin)));
        }
        ok = action->execute(inputs, &outputs);
    }
    if (!ok) {
        printLine("failed");
        return;
    }
    printLine("ok");
    for (const auto& [key, value] : outputs.values()) {
        printLine("  " + key + " = " + dictionaryValueText(value));
    }
}

void CommandRunner::help(const std::vector<Word>& args) {
    requireArgs(args, 0, 1);
    if (args.empty()) {
        for (const Command& command : commands()) {
            std::string usage = command.usage;
            usage.resize(std::max<std::size_t>(usage.size() + 2, 32), ' ');
            printLine(usage + command.summary);
        }
        return;
    }
    ICDPluginObject* plugin = selectedPlugin();
    unsigned int id = parseActionId(args[0]);
    std::string text;
    {
        PySession::Use use(sessionOf(plugin));
        ICDPluginAction* action = findAction(plugin, id, false);
        if (action == nullptr) {
            throw Error("help: no action " + args[0].text + " in plug-in " +
                        std::to_string(_plugin));
        }
        text = action->help();
    }
    for (const std::string& line : helpLines(text)) {
        printLine(line);
    }
}

void CommandRunner::event(const std::vector<Word>& args) {
    requireArgs(args, 1, 2);
    ICDHandler* handler = selectedHandler();
    std::optional<unsigned long long> event = parseUnsigned(args[0].text, UINT_MAX);
    if (!event) {
        throw Error("event: '" + args[0].text + "' is not an event number");
    }
    unsigned long long data = 0;
    if (args.size() == 2) {
        std::optional<unsigned long long> parsed = parseUnsigned(args[1].text, ULONG_MAX);
        if (!parsed) {
            throw Error("event: '" + args[1].text + "' is not event data");
        }
        data = *parsed;
    }
    handler->deliverICDEvent(static_cast<unsigned int>(*event), static_cast<unsigned long>(data));
}

void CommandRunner::setField(const std::vector<Word>& args) {
    requireArgs(args, 2, 2);
    ICDGenericMessageField* field = findField(args[0]);
    std::string error;
    if (!field->setValueFromText(args[1].text, &error)) {
        throw Error("set: " + args[0].text + ": " + error);
    }
    if (field->encode()) {
        printLine(args[0].text + " raw=" + field->rawText());
    } else {
        printLine(args[0].text + " encode failed");
    }
}

void CommandRunner::decodeField(const std::vector<Word>& args) {
    requireArgs(args, 2, 3);
    ICDGenericMessageField* field = findField(args[0]);
    bool asSigned = false;
    if (args.size() == 3) {
        if (args[2].text != "signed") {
            throw Error(std::string("usage: ") + current().usage);
        }
        asSigned = true;
    }
    bool ok = false;
    if (field->getDataType() == ICD_TYPE_STRING) {
        if (asSigned) {
            throw Error("decode: signed applies to numeric fields only");
        }
        ok = field->decodeText(args[1].text);
    } else {
        std::optional<unsigned long long> raw = parseRawWord(args[1].text);
        if (!raw) {
            throw Error("decode: '" + args[1].text + "' is not a raw word");
        }
        ok = field->decode(*raw, asSigned);
    }
    if (ok) {
        printLine(args[0].text + " value=" + field->valueText());
    } else {
        printLine(args[0].text + " decode failed");
    }
}

void CommandRunner::getField(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    ICDGenericMessageField* field = findField(args[0]);
    printLine(args[0].text + " value=" + field->valueText() + " raw=" + field->rawText() +
              " encoder=" + field->getEncoderName() +
              " reserved=" + (field->isReserved() ? "yes" : "no"));
}

void CommandRunner::holdField(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    ICDGenericMessageField* field = findField(args[0]);
    bool held = false;
    if (!field->isReserved()) {
        field->setReservationTo(&_holder);
        held = field->isReserved() && field->reservationHolder() == &_holder;
    }
    printLine(held ? "held" : "refused");
}

void CommandRunner::releaseField(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    ICDGenericMessageField* field = findField(args[0]);
    printLine(field->releaseReservationTo(&_holder) ? "released" : "refused");
}

void CommandRunner::answer(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    if (args[0].text == "-" && !args[0].anyQuoted()) {
        QtInterpreterDialogs::queueCancel();
    } else {
        QtInterpreterDialogs::queueAnswer(args[0].text);
    }
}

void CommandRunner::sync(const std::vector<Word>& args) {
    requireArgs(args, 0, 0);
    if (_host.library == nullptr || !_host.library->canWaitForEvents()) {
        throw Error("sync: the plug-in library cannot wait for events");
    }
    if (!_host.library->waitForEvents(_host.syncTimeoutMs)) {
        throw Error("sync: events still pending after " + std::to_string(_host.syncTimeoutMs) +
                    " ms");
    }
}

void CommandRunner::sleep(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    std::optional<unsigned long long> ms = parseUnsigned(args[0].text, 24ULL * 3600 * 1000);
    if (!ms) {
        throw Error("sleep: '" + args[0].text + "' is not a number of milliseconds");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(*ms));
}

void CommandRunner::echo(const std::vector<Word>& args) {
    std::string text;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += args[i].text;
    }
    printLine(text);
}

}  // namespace icdhost
