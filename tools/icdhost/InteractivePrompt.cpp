// The prompt uses libedit through its readline interface, in its callback form: the prompt's
// thread waits for the terminal and for dialogs that other threads open, and the terminal has one
// reader at a time.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#include <editline/readline.h>

#include "CommandSources.h"
#include "CommandWords.h"
#include "Output.h"
#include "QtInterpreter.h"

namespace icdhost {

namespace {

// libedit calls the completion functions without a context: the runner of the prompt that is
// running, and the candidates of the word being completed.
CommandRunner* promptRunner = nullptr;
std::vector<std::string> candidates;

char* nextCandidate(const char* text, int state) {
    static std::size_t index;
    if (state == 0) {
        index = 0;
    }
    std::size_t length = std::strlen(text);
    while (index < candidates.size()) {
        const std::string& candidate = candidates[index++];
        if (candidate.compare(0, length, text) == 0) {
            return strdup(candidate.c_str());  // freed by libedit
        }
    }
    return nullptr;
}

char** complete(const char* text, int start, int end) {
    (void)end;
    rl_attempted_completion_over = 1;  // never fall back to file names
    std::vector<Word> before = splitWords(std::string(rl_line_buffer, start)).words;
    if (before.empty()) {
        candidates = CommandRunner::commandNames();
    } else if (before.size() == 1 && CommandRunner::takesField(before.front().text) &&
               promptRunner != nullptr) {
        candidates = promptRunner->fieldNames();
    } else {
        return nullptr;
    }
    return rl_completion_matches(text, nextCandidate);
}

bool isBlankLine(const char* line) {
    for (const char* c = line; *c != '\0'; ++c) {
        if (*c != ' ' && *c != '\t') {
            return false;
        }
    }
    return true;
}

// The history file: ICDHOST_HISTORY when set (empty: no file), else ~/.icdhost_history; empty
// when there is no home folder. Kept across sessions like a shell's, trimmed to kHistoryLines.
constexpr int kHistoryLines = 1000;

std::string historyPath() {
    if (const char* path = std::getenv("ICDHOST_HISTORY")) {
        return path;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::string(home) + "/.icdhost_history" : "";
}

// One line read by the line editor: its text, or nothing at end of input (Ctrl-D). libedit calls
// the line handler without a context; the thread that owns the terminal reads it.
struct LineRead {
    bool done = false;
    bool ended = false;  // end of input instead of a line
    std::string text;

    std::optional<std::string> result() const {
        return ended ? std::nullopt : std::optional<std::string>(text);
    }
};
LineRead lineRead;

void onLine(char* line) {
    lineRead.done = true;
    lineRead.ended = line == nullptr;
    if (line != nullptr) {
        lineRead.text = line;
        std::free(line);
    }
}

enum class Input { Ready, Woken, Closed };

// Waits for standard input, and for `wake` when it is not -1.
Input waitForInput(int wake) {
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake, POLLIN, 0}};
        int ready = ::poll(fds, wake >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return Input::Closed;
        }
        if (wake >= 0 && (fds[1].revents & POLLIN) != 0) {
            char drained[64];
            (void)!::read(wake, drained, sizeof drained);
            return Input::Woken;
        }
        // A terminal that hung up has nothing more to read; the line editor would not say so.
        return (fds[0].revents & POLLIN) != 0 ? Input::Ready : Input::Closed;
    }
}

// Feeds the line editor what standard input has; ends the line as at end of input when the
// terminal is gone.
void readInput(Input input) {
    if (input == Input::Ready) {
        rl_callback_read_char();
    } else if (input == Input::Closed) {
        lineRead.done = true;
        lineRead.ended = true;
    }
}

// Reads one line with `prompt` on the calling thread; nothing at end of input. Precondition: the
// calling thread owns the terminal.
std::optional<std::string> readLine(const char* prompt) {
    lineRead = LineRead();
    rl_callback_handler_install(prompt, onLine);
    while (!lineRead.done) {
        readInput(waitForInput(-1));
    }
    rl_callback_handler_remove();
    return lineRead.result();
}

// Where the line editor draws: the terminal, also when standard output goes elsewhere.
FILE* editorOutput() {
    return rl_outstream != nullptr ? rl_outstream : stdout;
}

// The buttons a message box offers, with the number each one answers.
std::string offeredButtons(int buttons) {
    namespace box = QtInterpreterMessageBox;
    const std::string ok = std::to_string(box::ANSWER_OK) + " OK";
    const std::string yesNo =
        std::to_string(box::ANSWER_YES) + " Yes, " + std::to_string(box::ANSWER_NO) + " No";
    const std::string cancel = std::to_string(box::ANSWER_NONE) + " Cancel";
    switch (buttons) {
        case box::BUTTONS_OK:
            return ok;
        case box::BUTTONS_OK_CANCEL:
            return ok + ", " + cancel;
        case box::BUTTONS_YES_NO_CANCEL:
            return yesNo + ", " + cancel;
        case box::BUTTONS_YES_NO:
            return yesNo;
        default:
            return "flags " + std::to_string(buttons) + " (answer a number)";
    }
}

// Shows a dialog and reads its answer. Precondition: the calling thread owns the terminal. The
// dialog's line goes on standard output like every dialog's, and on the terminal too when standard
// output is not where the editor draws.
std::optional<std::string> readAnswer(const QtInterpreterDialogs::DialogRequest& request) {
    printLine(request.line);
    FILE* out = editorOutput();
    if (out != stdout) {
        std::fprintf(out, "%s\n", request.line.c_str());
    }
    if (request.kind == "messageBox") {
        std::fprintf(out, "  buttons: %s\n", offeredButtons(request.buttons).c_str());
    }
    std::fflush(out);
    return readLine("answer (end of input cancels): ");
}

// Who reads the terminal. While the prompt waits for a command, its thread reads it, and a dialog
// opened on another thread hands its request over and waits; while a command runs, a dialog
// reads its answer on its own thread, one dialog at a time.
class TerminalOwner {
public:
    struct Request {
        const QtInterpreterDialogs::DialogRequest* dialog;
        std::optional<std::string> answer;
        bool answered = false;
    };

    TerminalOwner() {
        if (::pipe(_wake) != 0) {
            _wake[0] = _wake[1] = -1;
        }
    }
    ~TerminalOwner() {
        ::close(_wake[0]);
        ::close(_wake[1]);
    }
    TerminalOwner(const TerminalOwner&) = delete;
    TerminalOwner& operator=(const TerminalOwner&) = delete;

    int wakeDescriptor() const { return _wake[0]; }

    // The dialogs' way to the terminal; any thread. Nothing (a cancel) once the prompt has ended.
    std::optional<std::string> ask(const QtInterpreterDialogs::DialogRequest& dialog) {
        std::unique_lock<std::mutex> lock(_mutex);
        for (;;) {
            if (_closed) {
                return std::nullopt;
            }
            if (_editing && _wake[1] >= 0) {
                Request request{&dialog, std::nullopt};
                _requests.push_back(&request);
                (void)!::write(_wake[1], "d", 1);
                _changed.wait(lock, [&] { return request.answered || _closed; });
                return request.answered ? request.answer : std::nullopt;
            }
            if (!_answering) {
                break;
            }
            _changed.wait(lock);
        }
        _answering = true;
        lock.unlock();
        std::optional<std::string> answer = readAnswer(dialog);
        lock.lock();
        _answering = false;
        _changed.notify_all();
        return answer;
    }

    // The prompt's thread takes the terminal to wait for a command, once no dialog reads it.
    void beginEditing() {
        std::unique_lock<std::mutex> lock(_mutex);
        _changed.wait(lock, [&] { return !_answering; });
        _editing = true;
    }

    // The prompt's thread answers the dialogs handed to it.
    void serveRequests() {
        std::unique_lock<std::mutex> lock(_mutex);
        serve(lock);
    }

    // The prompt's thread gives the terminal up to run a command, after answering the dialogs
    // handed to it meanwhile (the command may wait for the threads that opened them).
    void endEditing() {
        std::unique_lock<std::mutex> lock(_mutex);
        serve(lock);
        _editing = false;
        _changed.notify_all();
    }

    // The prompt ends: dialogs still waiting, and those opened later, are cancelled.
    void close() {
        std::lock_guard<std::mutex> lock(_mutex);
        _closed = true;
        _editing = false;
        _requests.clear();
        _changed.notify_all();
    }

private:
    // Answers the queued requests, reading with `lock` released; returns with it held and the
    // queue empty.
    void serve(std::unique_lock<std::mutex>& lock) {
        while (!_requests.empty()) {
            Request* request = _requests.front();
            _requests.pop_front();
            lock.unlock();
            std::optional<std::string> answer = readAnswer(*request->dialog);
            lock.lock();
            request->answer = std::move(answer);
            request->answered = true;
            _changed.notify_all();
        }
    }

    std::mutex _mutex;  // waited for with no interpreter held (docs/design.md)
    std::condition_variable _changed;
    bool _editing = false;           // guarded by _mutex
    bool _answering = false;         // guarded by _mutex
    bool _closed = false;            // guarded by _mutex
    std::deque<Request*> _requests;  // guarded by _mutex
    int _wake[2] = {-1, -1};
};

// Lives until the process ends: a thread may still be inside a dialog when the prompt ends.
TerminalOwner& terminalOwner() {
    static TerminalOwner* owner = new TerminalOwner;
    return *owner;
}

std::optional<std::string> askAtPrompt(const QtInterpreterDialogs::DialogRequest& request) {
    return terminalOwner().ask(request);
}

// Reads the next command; nothing at end of input. Dialogs handed over meanwhile are answered
// first, and the command typed so far is kept for after them.
std::optional<std::string> readCommand(TerminalOwner& owner) {
    owner.beginEditing();
    owner.serveRequests();
    lineRead = LineRead();
    rl_callback_handler_install("icdhost> ", onLine);
    bool keysRead = false;
    while (!lineRead.done) {
        const Input input = waitForInput(owner.wakeDescriptor());
        if (input != Input::Woken) {
            keysRead = true;
            readInput(input);
            continue;
        }
        // The editor's buffer still holds the last line until a key of this one is read.
        const std::string typed =
            keysRead && rl_line_buffer != nullptr
                ? std::string(rl_line_buffer, static_cast<std::size_t>(rl_end > 0 ? rl_end : 0))
                : std::string();
        rl_replace_line("", 0);
        rl_callback_handler_remove();
        // The prompt's line ends here and the dialog starts on a line of its own.
        std::fputs("\n", editorOutput());
        std::fflush(editorOutput());
        owner.serveRequests();
        lineRead = LineRead();
        rl_callback_handler_install("icdhost> ", onLine);
        keysRead = !typed.empty();
        if (!typed.empty()) {
            rl_insert_text(typed.c_str());
            rl_forced_update_display();
        }
    }
    rl_callback_handler_remove();
    owner.endEditing();
    return lineRead.result();
}

}  // namespace

void runPrompt(CommandRunner& runner) {
    promptRunner = &runner;
    // Standard input alone decides whether there is a prompt. With standard output going to a
    // pipe or a file, the line editor draws the prompt and the typed line on the terminal itself
    // (it would not edit at all on a pipe), and the commands' output still goes where it was sent.
    FILE* terminal = nullptr;
    if (::isatty(STDOUT_FILENO) == 0) {
        const char* name = ::ttyname(STDIN_FILENO);
        terminal = name != nullptr ? std::fopen(name, "w") : nullptr;
        if (terminal != nullptr) {
            rl_outstream = terminal;
        }
    }
    rl_readline_name = "icdhost";
    rl_attempted_completion_function = complete;
    using_history();
    stifle_history(kHistoryLines);
    const std::string history = historyPath();
    if (!history.empty()) {
        read_history(history.c_str());  // a missing or unreadable file starts an empty history
    }
    TerminalOwner& owner = terminalOwner();
    QtInterpreterDialogs::setTerminalAsker(askAtPrompt);
    unsigned long number = 0;
    for (;;) {
        std::cout.flush();
        std::fflush(stdout);
        std::optional<std::string> line = readCommand(owner);
        if (!line) {
            // Ctrl-D: leave the terminal on a fresh line.
            if (terminal != nullptr) {
                std::fputs("\n", terminal);
                std::fflush(terminal);
            } else {
                std::cout << std::endl;
            }
            break;
        }
        if (!isBlankLine(line->c_str())) {
            add_history(line->c_str());
        }
        CommandRunner::Outcome outcome = runner.run(*line, ++number);
        if (outcome == CommandRunner::Outcome::Quit) {
            break;
        }
    }
    // Dialogs opened after the prompt (by onDestroy's stop callables) take no answer from it.
    QtInterpreterDialogs::setTerminalAsker(nullptr);
    owner.close();
    if (!history.empty()) {
        write_history(history.c_str());  // a history that cannot be saved is only lost
    }
    promptRunner = nullptr;
    if (terminal != nullptr) {
        rl_outstream = stdout;
        std::fclose(terminal);
    }
}

}  // namespace icdhost
