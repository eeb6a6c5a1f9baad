// One loaded ICD: its messages, bus clock, error reports and the events it delivers.
#include "ICDHandler.h"

#include <mutex>

#include "ICDHost.h"
#include "TextFormat.h"

// Lock rule (a leaf, docs/design.md): `mutex` guards the message list and the error reports;
// nothing is delivered or encoded under it.
struct ICDHandler::State {
    std::string xmlConfigFileName;
    unsigned long busClockPeriod = 0;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<ICDMessage>> messages;
    std::vector<ErrorReport> errors;
};

ICDHandler::ICDHandler(std::string name, std::string xmlConfigFileName,
                       unsigned long busClockPeriod)
    : ICDNamedItem(std::move(name)), _state(std::make_unique<State>()) {
    _state->xmlConfigFileName = std::move(xmlConfigFileName);
    _state->busClockPeriod = busClockPeriod;
}

ICDHandler::~ICDHandler() = default;

ICDMessage* ICDHandler::findMessage(std::string name) {
    std::lock_guard<std::mutex> lock(_state->mutex);
    for (const auto& message : _state->messages) {
        if (message->getName() == name) {
            return message.get();
        }
    }
    return nullptr;
}

std::string ICDHandler::getXMLConfigFileName() const {
    return _state->xmlConfigFileName;
}

unsigned long ICDHandler::getBusClockPeriod() const {
    return _state->busClockPeriod;
}

void ICDHandler::sendICDEvent(unsigned int event) {
    if (ICDHost::traceEnabled()) {
        ICDHost::trace("sendICDEvent " + icdhost_text::word(_name) +
                       " event=" + std::to_string(event));
    }
    deliverICDEvent(event, 0);
}

bool ICDHandler::raiseError(std::string text, int severity) {
    if (ICDHost::traceEnabled()) {
        ICDHost::trace("raiseError " + icdhost_text::word(_name) + " severity=" +
                       std::to_string(severity) + " text=" + icdhost_text::quote(text));
    }
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->errors.push_back(ErrorReport{std::move(text), severity});
    return true;
}

ICDMessage* ICDHandler::addMessage(std::string name, bool alwaysEnterSession) {
    std::lock_guard<std::mutex> lock(_state->mutex);
    for (const auto& message : _state->messages) {
        if (message->getName() == name) {
            return nullptr;
        }
    }
    _state->messages.push_back(
        std::make_unique<ICDMessage>(this, std::move(name), alwaysEnterSession));
    return _state->messages.back().get();
}

std::vector<ICDMessage*> ICDHandler::messages() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    std::vector<ICDMessage*> result;
    result.reserve(_state->messages.size());
    for (const auto& message : _state->messages) {
        result.push_back(message.get());
    }
    return result;
}

std::vector<ICDHandler::ErrorReport> ICDHandler::errors() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->errors;
}
