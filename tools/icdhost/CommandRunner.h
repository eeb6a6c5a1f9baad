// The command language of icdhost: one command a line, run against the plug-ins and ICDs of a
// Host. A failing command prints "icdhost: line N: REASON" on standard error and the next
// command runs as usual.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandWords.h"
#include "Host.h"
#include "ICDUiObject.h"

class ICDGenericMessageField;
class ICDPluginAction;
class PySession;

namespace icdhost {

class CommandRunner {
public:
    enum class Outcome { Done, Failed, Quit };

    explicit CommandRunner(Host& host);
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    // Runs one line (blank and comment-only lines do nothing). Precondition: the calling thread
    // holds no interpreter session.
    Outcome run(const std::string& line, unsigned long lineNumber);
    bool anyFailed() const { return _anyFailed; }
    // An expect command found something other than it expected (the run went on).
    bool anyExpectationFailed() const { return _anyExpectationFailed; }

    // For completion at the prompt.
    static std::vector<std::string> commandNames();
    // Commands whose first argument is MSG.FIELD.
    static bool takesField(const std::string& command);
    // MSG.FIELD of every field of the selected ICD.
    std::vector<std::string> fieldNames() const;

private:
    struct Command;
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    static const std::vector<Command>& commands();

    void start(const std::vector<Word>& args);
    void stop(const std::vector<Word>& args);
    // The index a plugin or icd command selects: a number below `count`.
    static std::size_t selectedIndex(const std::string& text, std::size_t count,
                                     const std::string& what);
    void selectPlugin(const std::vector<Word>& args);
    void selectHandler(const std::vector<Word>& args);
    void listPlugins(const std::vector<Word>& args);
    void listActions(const std::vector<Word>& args);
    void runAction(const std::vector<Word>& args);
    void executeAction(const std::vector<Word>& args);
    void help(const std::vector<Word>& args);
    void event(const std::vector<Word>& args);
    void setField(const std::vector<Word>& args);
    void decodeField(const std::vector<Word>& args);
    void getField(const std::vector<Word>& args);
    void holdField(const std::vector<Word>& args);
    void releaseField(const std::vector<Word>& args);
    void answer(const std::vector<Word>& args);
    void sync(const std::vector<Word>& args);
    void sleep(const std::vector<Word>& args);
    void echo(const std::vector<Word>& args);
    // The expect commands (Expectations.cpp): a mismatch prints "expected ..., got ..." and the
    // command still succeeds.
    void expectValue(const std::vector<Word>& args);
    void expectRaw(const std::vector<Word>& args);
    void expectChecked(const std::vector<Word>& args);
    void expectName(const std::vector<Word>& args);
    void expectRunning(const std::vector<Word>& args);
    void reportMismatch(const std::string& expected, const std::string& got);
    // py CODE (PythonCommand.cpp): CODE is the rest of the line as written, not split into words.
    void python(const std::vector<Word>& args);
    static bool yesNo(const Word& word, const std::string& command);

    const Command& current() const { return *_current; }
    void requireArgs(const std::vector<Word>& args, std::size_t min, std::size_t max) const;
    ICDPluginObject* selectedPlugin() const;
    ICDHandler* selectedHandler() const;
    ICDGenericMessageField* findField(const Word& word) const;
    // The plug-in's session as the library reports it; null before its first handler.
    PySession* sessionOf(ICDPluginObject* plugin) const;
    unsigned int parseActionId(const Word& word) const;
    // Depth-first in list order: the first action with `id` (of kind 3 when `dictionaryOnly`).
    // Precondition: the plug-in's session is held.
    static ICDPluginAction* findAction(ICDPluginObject* plugin, unsigned int id,
                                       bool dictionaryOnly);

    Host& _host;
    std::size_t _plugin = 0;
    std::size_t _handler = 0;
    // icdhost's own reservation holder for hold and release: another holder, as the plug-in
    // sees it.
    ICDUiObject _holder;
    bool _anyFailed = false;
    bool _anyExpectationFailed = false;
    const Command* _current = nullptr;
    // The command line being run and its number, for py and the expect commands' reports.
    const std::string* _line = nullptr;
    unsigned long _lineNumber = 0;
};

}  // namespace icdhost
