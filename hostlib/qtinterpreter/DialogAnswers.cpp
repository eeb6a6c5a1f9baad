// Where the dialogs get their answers: the process-wide queue first, then the terminal.
#include "DialogAnswers.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <mutex>

#include "PyInterpreter.h"
#include "QtInterpreter.h"

namespace qtinterpreter_detail {
namespace {

std::mutex answersMutex;           // a leaf (docs/design.md)
std::deque<DialogAnswer> answers;  // guarded by answersMutex
int interactiveSetting = -1;       // guarded by answersMutex; -1: decided by standard input
QtInterpreterDialogs::TerminalAsker terminalAsker = nullptr;  // guarded by answersMutex

// Guards the answer queue and the interactive setting. Precondition: never held while Python
// runs or while the terminal is read.
class AnswersLock {
public:
    AnswersLock() : _lock(answersMutex) {}
    AnswersLock(const AnswersLock&) = delete;
    AnswersLock& operator=(const AnswersLock&) = delete;

private:
    std::lock_guard<std::mutex> _lock;
};

std::optional<DialogAnswer> takeQueued(bool& interactive,
                                       QtInterpreterDialogs::TerminalAsker& asker) {
    AnswersLock lock;
    interactive = interactiveSetting < 0 ? isatty(STDIN_FILENO) == 1 : interactiveSetting == 1;
    asker = terminalAsker;
    if (answers.empty()) {
        return std::nullopt;
    }
    DialogAnswer answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

// The host's line editor reads the answer.
DialogAnswer askHost(QtInterpreterDialogs::TerminalAsker asker,
                     const QtInterpreterDialogs::DialogRequest& request) {
    PyInterpreterRelease release;
    std::optional<std::string> line = asker(request);
    DialogAnswer answer;
    answer.cancelled = !line.has_value();
    answer.text = line.value_or(std::string());
    return answer;
}

// Reads byte by byte so that nothing after the line is taken from a host that reads the same
// terminal with a line editor of its own.
DialogAnswer askTerminal() {
    PyInterpreterRelease release;
    std::fputs("answer (end of input cancels): ", stdout);
    std::fflush(stdout);
    DialogAnswer answer;
    std::string line;
    char c = 0;
    for (;;) {
        ssize_t count = read(STDIN_FILENO, &c, 1);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            answer.cancelled = line.empty();
            break;
        }
        if (c == '\n') {
            break;
        }
        line += c;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (answer.cancelled) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    answer.text = line;
    return answer;
}

}  // namespace

std::optional<DialogAnswer> obtainAnswer(const QtInterpreterDialogs::DialogRequest& request) {
    bool interactive = false;
    QtInterpreterDialogs::TerminalAsker asker = nullptr;
    std::optional<DialogAnswer> queued = takeQueued(interactive, asker);
    if (!queued && interactive && asker != nullptr) {
        // The asker prints the dialog's line once it owns the terminal: printed here, it could
        // land in the middle of the prompt the host's line editor is drawing.
        return askHost(asker, request);
    }
    printLine(request.line);
    if (queued || !interactive) {
        return queued;
    }
    return askTerminal();
}

void printLine(const std::string& line) {
    std::string whole = line + "\n";
    std::fwrite(whole.data(), 1, whole.size(), stdout);
    std::fflush(stdout);
}

}  // namespace qtinterpreter_detail

namespace QtInterpreterDialogs {

using qtinterpreter_detail::AnswersLock;

void queueAnswer(const std::string& answer) {
    qtinterpreter_detail::DialogAnswer entry;
    entry.text = answer;
    AnswersLock lock;
    qtinterpreter_detail::answers.push_back(std::move(entry));
}

void queueCancel() {
    qtinterpreter_detail::DialogAnswer entry;
    entry.cancelled = true;
    AnswersLock lock;
    qtinterpreter_detail::answers.push_back(std::move(entry));
}

void clearAnswers() {
    AnswersLock lock;
    qtinterpreter_detail::answers.clear();
}

std::size_t pendingAnswers() {
    AnswersLock lock;
    return qtinterpreter_detail::answers.size();
}

void setInteractive(bool interactive) {
    AnswersLock lock;
    qtinterpreter_detail::interactiveSetting = interactive ? 1 : 0;
}

void setTerminalAsker(TerminalAsker asker) {
    AnswersLock lock;
    qtinterpreter_detail::terminalAsker = asker;
}

}  // namespace QtInterpreterDialogs
