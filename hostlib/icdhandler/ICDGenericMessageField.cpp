// A message field: its typed value, its raw word or text, and the transcoder that converts
// between them (the default conversion when none is set).
#include <climits>
#include <cstdint>
#include <cmath>
#include <mutex>

#include "FieldTypes.h"
#include "ICDHandler.h"
#include "ICDHost.h"
#include "ICDMessageField.h"
#include "TextFormat.h"

using icdhost_types::TypeTag;

namespace {

using Transcoder = std::variant<
    std::monostate, std::shared_ptr<ICDGenericTranscoder<unsigned short>>,
    std::shared_ptr<ICDGenericTranscoder<short>>,
    std::shared_ptr<ICDGenericTranscoder<unsigned int>>, std::shared_ptr<ICDGenericTranscoder<int>>,
    std::shared_ptr<ICDGenericTranscoder<unsigned long>>,
    std::shared_ptr<ICDGenericTranscoder<long>>,
    std::shared_ptr<ICDGenericTranscoder<unsigned long long>>,
    std::shared_ptr<ICDGenericTranscoder<long long>>, std::shared_ptr<ICDGenericTranscoder<float>>,
    std::shared_ptr<ICDGenericTranscoder<double>>, std::shared_ptr<ICDStringTranscoder>>;

ICDGenericMessageField::Value initialValue(unsigned int code) {
    ICDGenericMessageField::Value value;
    if (code == ICD_TYPE_STRING) {
        value = std::string();
    } else {
        icdhost_types::withNumericType(code, [&](auto tag) {
            using T = typename decltype(tag)::type;
            value = T{};
        });
    }
    return value;
}

// Whether a transcoder of engineering type X fits a field of `code`.
template <typename X>
bool fits(unsigned int code) {
    if constexpr (std::is_same_v<X, ICDStringTranscoder>) {
        return code == ICD_TYPE_STRING;
    } else {
        bool match = false;
        icdhost_types::withNumericType(code, [&](auto tag) {
            using T = typename decltype(tag)::type;
            match = std::is_same_v<X, ICDGenericTranscoder<T>>;
        });
        return match;
    }
}

template <typename T>
std::string integerText(T value) {
    if constexpr (std::is_signed_v<T>) {
        return std::to_string(static_cast<long long>(value));
    } else {
        return std::to_string(static_cast<unsigned long long>(value));
    }
}

}  // namespace

// Lock rule (a leaf, docs/design.md): `mutex` guards value, raw, rawText, the stamps and transcoder
// for a few copies at a time; it is never held while a transcoder runs (a transcoder may wait for
// an interpreter whose code is reading this very field on another thread).
//
// Since conversions run outside the lock, two of them may finish in either order. Each write of
// the value or the raw form takes the next stamp; a conversion remembers the stamp of what it
// read and stores its result only when that is at least as new as what the other side holds, so
// that an older conversion finishing last never overwrites a newer one: once every value set has
// been encoded, the raw form is the encoding of the last value set, whatever the interleaving.
struct ICDGenericMessageField::State {
    ICDMessage* message;
    unsigned int dataType;
    mutable std::mutex mutex;
    Value value;
    unsigned long long raw = 0;
    std::string rawText;
    Transcoder transcoder;
    std::uint64_t lastStamp = 0;
    std::uint64_t valueStamp = 0;  // stamp of the write `value` holds
    std::uint64_t rawStamp = 0;    // stamp of the value (or raw word) `raw`/`rawText` was made from

    // Precondition: `mutex` held.
    void storeValue(Value newValue) {
        value = std::move(newValue);
        valueStamp = ++lastStamp;
    }
    // Precondition: `mutex` held. A raw form received from the bus is newer than everything.
    std::uint64_t receiveRaw() { return rawStamp = ++lastStamp; }

    // Takes `transcoder` when it fits; the one it replaces is released after the lock, and is
    // deleted once no encode or decode still uses it.
    template <typename X>
    bool install(X* offered) {
        if (offered == nullptr || !fits<X>(dataType)) {
            return false;
        }
        Transcoder previous;
        {
            std::lock_guard<std::mutex> lock(mutex);
            previous = std::move(transcoder);
            transcoder = std::shared_ptr<X>(offered);
        }
        return true;
    }

    template <typename X>
    std::shared_ptr<X> transcoderOf() const {
        const auto* held = std::get_if<std::shared_ptr<X>>(&transcoder);
        return held != nullptr ? *held : nullptr;
    }

    template <typename T>
    bool encodeAs() {
        T value;
        std::uint64_t stamp = 0;
        std::shared_ptr<ICDGenericTranscoder<T>> coder;
        {
            std::lock_guard<std::mutex> lock(mutex);
            value = std::get<T>(this->value);
            stamp = valueStamp;
            coder = transcoderOf<ICDGenericTranscoder<T>>();
        }
        unsigned long long result = 0;
        if (coder) {
            try {
                if (!coder->encode(value, &result)) {
                    return false;
                }
            } catch (...) {
                return false;
            }
        } else {
            result = icdhost_types::defaultEncode(value);
        }
        std::lock_guard<std::mutex> lock(mutex);
        // Equal stamps: the same value encoded again, perhaps by a newly installed transcoder.
        if (stamp >= rawStamp) {
            raw = result;
            rawStamp = stamp;
        }
        return true;
    }

    template <typename T>
    bool decodeAs(unsigned long long word, bool asSigned) {
        std::shared_ptr<ICDGenericTranscoder<T>> coder;
        std::uint64_t stamp = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            raw = word;
            stamp = receiveRaw();
            coder = transcoderOf<ICDGenericTranscoder<T>>();
        }
        T result{};
        if (coder) {
            try {
                const bool ok = asSigned ? coder->decode(static_cast<long long>(word), &result)
                                         : coder->decode(word, &result);
                if (!ok) {
                    return false;
                }
            } catch (...) {
                return false;
            }
        } else {
            result = icdhost_types::defaultDecode<T>(word);
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (stamp > valueStamp) {
            value = result;
            valueStamp = stamp;
        }
        return true;
    }

    template <typename T>
    bool parseAs(const std::string& text, Value* parsed, std::string* error) const {
        const char* name = icdhost_types::typeName(dataType);
        if constexpr (std::is_floating_point_v<T>) {
            double number = 0;
            if (!icdhost_text::parseDouble(text, &number, error)) {
                if (*error == "out of range") {
                    *error += std::string(" for ") + name;
                }
                return false;
            }
            const T narrowed = static_cast<T>(number);
            if (std::isinf(narrowed) && !std::isinf(number)) {
                *error = std::string("out of range for ") + name;
                return false;
            }
            *parsed = narrowed;
            return true;
        } else {
            bool negative = false;
            std::uint64_t magnitude = 0;
            if (!icdhost_text::parseInteger(text, &negative, &magnitude, error)) {
                if (*error == "out of range") {
                    *error += std::string(" for ") + name;
                }
                return false;
            }
            constexpr unsigned bits = sizeof(T) * CHAR_BIT;
            if constexpr (std::is_signed_v<T>) {
                std::int64_t number = 0;
                if (!icdhost_text::fitsSigned(negative, magnitude, bits, &number)) {
                    *error = std::string("out of range for ") + name;
                    return false;
                }
                *parsed = static_cast<T>(number);
            } else {
                std::uint64_t number = 0;
                if (!icdhost_text::fitsUnsigned(negative, magnitude, bits, &number)) {
                    *error = std::string("out of range for ") + name;
                    return false;
                }
                *parsed = static_cast<T>(number);
            }
            return true;
        }
    }
};

ICDGenericMessageField::ICDGenericMessageField(ICDMessage* message, std::string name,
                                               unsigned int dataType)
    : ICDNamedItem(std::move(name)), _state(std::make_unique<State>()) {
    _state->message = message;
    _state->dataType = dataType;
    _state->value = initialValue(dataType);
}

ICDGenericMessageField::~ICDGenericMessageField() = default;

unsigned int ICDGenericMessageField::getDataType() const {
    return _state->dataType;
}

ICDMessage* ICDGenericMessageField::getMessage() const {
    return _state->message;
}

bool ICDGenericMessageField::getAsUInt(unsigned int* value) {
    if (value == nullptr || !icdhost_types::isIntegerCode(_state->dataType)) {
        return false;
    }
    const Value current = getValue();
    return std::visit(
        [value](const auto& held) {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_integral_v<T>) {
                if constexpr (std::is_signed_v<T>) {
                    if (held < 0) {
                        return false;
                    }
                }
                if (static_cast<unsigned long long>(held) > UINT_MAX) {
                    return false;
                }
                *value = static_cast<unsigned int>(held);
                return true;
            } else {
                return false;
            }
        },
        current);
}

std::string ICDGenericMessageField::getEncoderName() {
    Transcoder coder;
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        coder = _state->transcoder;
    }
    return std::visit(
        [](const auto& held) -> std::string {
            if constexpr (std::is_same_v<std::decay_t<decltype(held)>, std::monostate>) {
                return "default";
            } else {
                return held->getName();
            }
        },
        coder);
}

namespace {

// The offered transcoder's name is read before the field takes it: once accepted, another thread
// may replace and delete it at any moment.
template <typename FieldState, typename X, typename NameOf>
bool installTraced(FieldState& state, X* offered, const NameOf& fieldName) {
    if (!ICDHost::traceEnabled()) {
        return state.install(offered);
    }
    const std::string encoder =
        offered != nullptr ? icdhost_text::word(offered->getName()) : std::string("(none)");
    const bool accepted = state.install(offered);
    ICDHost::trace("setTranscoder " + fieldName() + " encoder=" + encoder +
                   (accepted ? " -> accepted" : " -> refused"));
    return accepted;
}

}  // namespace

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<unsigned short>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<short>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<unsigned int>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<int>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<unsigned long>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<long>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<unsigned long long>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<long long>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<float>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDGenericTranscoder<double>* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

bool ICDGenericMessageField::setTranscoder(ICDStringTranscoder* transcoder) {
    return installTraced(*_state, transcoder, [this] { return traceName(); });
}

ICDGenericMessageField::Value ICDGenericMessageField::getValue() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->value;
}

bool ICDGenericMessageField::setValueFromText(const std::string& text, std::string* error) {
    std::string reason;
    Value parsed;
    bool ok = false;
    const unsigned int code = _state->dataType;
    if (code == ICD_TYPE_STRING) {
        parsed = text;
        ok = true;
    } else if (!icdhost_types::withNumericType(code, [&](auto tag) {
                   using T = typename decltype(tag)::type;
                   ok = _state->parseAs<T>(text, &parsed, &reason);
               })) {
        reason = "type code " + std::to_string(code) + " holds no value";
    }
    if (!ok) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    }
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->storeValue(std::move(parsed));
    return true;
}

bool ICDGenericMessageField::setValue(const Value& value) {
    if (!icdhost_types::hasValueType(_state->dataType)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(_state->mutex);
    // The initial value fixes the alternative of the field's type.
    if (value.index() != _state->value.index()) {
        return false;
    }
    _state->storeValue(value);
    return true;
}

bool ICDGenericMessageField::encode() {
    const unsigned int code = _state->dataType;
    if (code == ICD_TYPE_STRING) {
        std::string text;
        std::uint64_t stamp = 0;
        std::shared_ptr<ICDStringTranscoder> coder;
        {
            std::lock_guard<std::mutex> lock(_state->mutex);
            text = std::get<std::string>(_state->value);
            stamp = _state->valueStamp;
            coder = _state->transcoderOf<ICDStringTranscoder>();
        }
        std::string raw;
        if (coder) {
            try {
                if (!coder->encode(text, &raw)) {
                    return false;
                }
            } catch (...) {
                return false;
            }
        } else {
            raw = std::move(text);
        }
        std::lock_guard<std::mutex> lock(_state->mutex);
        if (stamp >= _state->rawStamp) {
            _state->rawText = std::move(raw);
            _state->rawStamp = stamp;
        }
        return true;
    }
    bool ok = false;
    icdhost_types::withNumericType(code, [&](auto tag) {
        using T = typename decltype(tag)::type;
        ok = _state->encodeAs<T>();
    });
    return ok;
}

bool ICDGenericMessageField::decode(unsigned long long raw, bool asSigned) {
    const unsigned int code = _state->dataType;
    if (code == ICD_TYPE_STRING) {
        return false;
    }
    bool ok = false;
    if (!icdhost_types::withNumericType(code, [&](auto tag) {
            using T = typename decltype(tag)::type;
            ok = _state->decodeAs<T>(raw, asSigned);
        })) {
        // A field without a value type still receives its bus word.
        std::lock_guard<std::mutex> lock(_state->mutex);
        _state->raw = raw;
        _state->receiveRaw();
    }
    return ok;
}

bool ICDGenericMessageField::decodeText(const std::string& raw) {
    if (_state->dataType != ICD_TYPE_STRING) {
        return false;
    }
    std::shared_ptr<ICDStringTranscoder> coder;
    std::uint64_t stamp = 0;
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        _state->rawText = raw;
        stamp = _state->receiveRaw();
        coder = _state->transcoderOf<ICDStringTranscoder>();
    }
    std::string text;
    if (coder) {
        try {
            if (!coder->decode(raw, &text)) {
                return false;
            }
        } catch (...) {
            return false;
        }
    } else {
        text = raw;
    }
    std::lock_guard<std::mutex> lock(_state->mutex);
    if (stamp > _state->valueStamp) {
        _state->value = std::move(text);
        _state->valueStamp = stamp;
    }
    return true;
}

unsigned long long ICDGenericMessageField::getRaw() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->raw;
}

std::string ICDGenericMessageField::getRawText() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->rawText;
}

std::string ICDGenericMessageField::valueText() const {
    return std::visit(
        [](const auto& held) -> std::string {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return "None";
            } else if constexpr (std::is_same_v<T, std::string>) {
                return icdhost_text::quote(held);
            } else if constexpr (std::is_same_v<T, float>) {
                return icdhost_text::formatFloat(held);
            } else if constexpr (std::is_same_v<T, double>) {
                return icdhost_text::formatDouble(held);
            } else {
                return integerText(held);
            }
        },
        getValue());
}

std::string ICDGenericMessageField::rawText() const {
    if (_state->dataType == ICD_TYPE_STRING) {
        return icdhost_text::quote(getRawText());
    }
    return std::to_string(getRaw());
}

std::string ICDGenericMessageField::traceName() const {
    const ICDMessage* message = _state->message;
    const ICDHandler* handler = message != nullptr ? message->getHandler() : nullptr;
    const std::string icd = handler != nullptr ? icdhost_text::word(handler->getName()) : "-";
    const std::string group = message != nullptr ? icdhost_text::word(message->getName()) : "-";
    return icd + " " + group + "." + icdhost_text::word(getName());
}
