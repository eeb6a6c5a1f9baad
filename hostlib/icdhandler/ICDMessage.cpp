// A message of an ICD: its fields, commits that encode them, and the trace of both.
#include <atomic>
#include <mutex>

#include "ICDHandler.h"
#include "ICDHost.h"
#include "ICDMessage.h"
#include "TextFormat.h"

// Lock rule (a leaf, docs/design.md): `mutex` guards the field list only; fields are encoded after
// it is released, since an encode may run a transcoder for a long time.
struct ICDMessage::State {
    ICDHandler* handler = nullptr;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<ICDGenericMessageField>> fields;
    std::atomic<unsigned long> commits{0};
    std::atomic<unsigned long> touches{0};

    std::string traceName(const std::string& message) const {
        const std::string icd = handler != nullptr ? icdhost_text::word(handler->getName()) : "-";
        return icd + " " + icdhost_text::word(message);
    }
};

ICDMessage::ICDMessage(ICDHandler* handler, std::string name, bool alwaysEnterSession)
    : ICDNamedItem(std::move(name)),
      _alwaysEnterSession(alwaysEnterSession),
      _state(std::make_unique<State>()) {
    _state->handler = handler;
}

ICDMessage::~ICDMessage() = default;

ICDGenericMessageField* ICDMessage::findMessageField(std::string name) {
    std::lock_guard<std::mutex> lock(_state->mutex);
    for (const auto& field : _state->fields) {
        if (field->getName() == name) {
            return field.get();
        }
    }
    return nullptr;
}

void ICDMessage::commitChanges() {
    if (ICDHost::traceEnabled()) {
        ICDHost::trace("commitChanges " + _state->traceName(_name));
    }
    for (ICDGenericMessageField* field : fields()) {
        field->encode();
    }
    ++_state->commits;
}

void ICDMessage::touch() {
    if (ICDHost::traceEnabled()) {
        ICDHost::trace("touch " + _state->traceName(_name));
    }
    ++_state->touches;
}

bool ICDMessage::commitSingleField(ICDGenericMessageField* field) {
    const bool committed = field != nullptr && field->getMessage() == this && field->encode();
    if (ICDHost::traceEnabled()) {
        const std::string fieldName =
            field != nullptr ? icdhost_text::word(field->getName()) : std::string("(none)");
        ICDHost::trace("commitSingleField " + _state->traceName(_name) + "." + fieldName +
                       (committed ? " -> committed" : " -> refused"));
    }
    return committed;
}

ICDHandler* ICDMessage::getHandler() const {
    return _state->handler;
}

ICDGenericMessageField* ICDMessage::addField(std::string name, unsigned int dataType) {
    std::lock_guard<std::mutex> lock(_state->mutex);
    for (const auto& field : _state->fields) {
        if (field->getName() == name) {
            return nullptr;
        }
    }
    _state->fields.push_back(
        std::make_unique<ICDGenericMessageField>(this, std::move(name), dataType));
    return _state->fields.back().get();
}

std::vector<ICDGenericMessageField*> ICDMessage::fields() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    std::vector<ICDGenericMessageField*> result;
    result.reserve(_state->fields.size());
    for (const auto& field : _state->fields) {
        result.push_back(field.get());
    }
    return result;
}

unsigned long ICDMessage::commitCount() const {
    return _state->commits.load();
}

unsigned long ICDMessage::touchCount() const {
    return _state->touches.load();
}
