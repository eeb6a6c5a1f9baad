// libFuzzer target: the input is an ICD file. The loader must refuse it with one well-formed error
// line or give a handler whose names are usable; then every field's default conversions must
// round-trip: the value printed and read back encodes to the same raw word, a raw word decoded,
// printed, read back and encoded gives its bits back, and text read from the tail of the input
// either parses or is refused with a reason. A broken invariant aborts, which libFuzzer reports
// with the input that broke it.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FieldTypes.h"
#include "ICDFileLoader.h"
#include "ICDHandler.h"
#include "TextFormat.h"

namespace {

const char* const kPath = "fuzz.xml";

[[noreturn]] void broken(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", icdhost_text::escapeControls(what).c_str());
    std::abort();
}

void require(bool holds, const std::string& what) {
    if (!holds) {
        broken(what);
    }
}

// An error line: "fuzz.xml:LINE: REASON" or "fuzz.xml: ...", one line, no control character and
// nothing that is not UTF-8 (escapeControls() leaves it unchanged).
void checkError(const std::string& error) {
    require(error.rfind(std::string(kPath) + ":", 0) == 0, "error names the file: " + error);
    require(icdhost_text::escapeControls(error) == error, "error line escaped: " + error);
}

void checkName(const std::string& name, bool dotAllowed) {
    require(!name.empty(), "empty name loaded");
    require(icdhost_text::escapeControls(name) == name,
            "control character or non-UTF-8 in a loaded name: " + name);
    require(dotAllowed || name.find('.') == std::string::npos, "dot in a loaded name: " + name);
    require(name.front() != ' ' && name.back() != ' ', "blank at an end of a name: " + name);
}

bool isNan(const ICDGenericMessageField::Value& value) {
    if (const auto* f = std::get_if<float>(&value)) {
        return std::isnan(*f);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        return std::isnan(*d);
    }
    return false;
}

// The low `bits` of the field's type width of `raw`.
unsigned long long widthBits(unsigned int code, unsigned long long raw) {
    unsigned bits = 64;
    icdhost_types::withNumericType(
        code, [&](auto tag) { bits = sizeof(typename decltype(tag)::type) * CHAR_BIT; });
    return bits >= 64 ? raw : raw & ((1ULL << bits) - 1);
}

// Reading back what the field prints of its value, and encoding it, gives `raw`.
void checkPrintedValueReadsBack(ICDGenericMessageField* field, unsigned long long raw,
                                const std::string& context) {
    const ICDGenericMessageField::Value value = field->getValue();
    if (isNan(value)) {
        return;  // a NaN prints as nan: its payload does not survive the text
    }
    const std::string printed = field->valueText();
    std::string error;
    require(field->setValueFromText(printed, &error),
            context + ": printed " + printed + " does not read back: " + error);
    require(field->encode(), context + ": encode failed");
    require(field->getRaw() == raw, context + ": " + printed + " encodes to " +
                                        std::to_string(field->getRaw()) + ", not " +
                                        std::to_string(raw));
}

void checkNumericField(ICDGenericMessageField* field, unsigned long long word,
                       const std::string& tail) {
    const unsigned int code = field->getDataType();
    require(field->encode(), "initial value does not encode");
    checkPrintedValueReadsBack(field, field->getRaw(), "initial value");
    // Any raw word: decoding keeps the type's width of it, and the printed value gives it back.
    require(field->decode(word, (word & 1) != 0), "default decode failed");
    require(field->getRaw() == word, "decode does not keep the raw word it received");
    checkPrintedValueReadsBack(field, widthBits(code, word), "decoded " + std::to_string(word));
    // Any text: parses, and then round-trips, or is refused with a reason.
    std::string error;
    if (field->setValueFromText(tail, &error)) {
        require(field->encode(), "encode of a parsed value failed");
        checkPrintedValueReadsBack(field, field->getRaw(), "parsed " + tail);
    } else {
        require(!error.empty(), "text refused without a reason: " + tail);
    }
}

void checkTextField(ICDGenericMessageField* field, const std::string& tail) {
    require(field->setValueFromText(tail, nullptr), "text field refused text");
    require(field->encode() && field->getRawText() == tail, "text does not encode to itself");
    require(field->decodeText(tail + "!") && std::get<std::string>(field->getValue()) == tail + "!",
            "raw text does not decode to itself");
    const std::string printed = field->valueText();
    require(printed.size() >= 2 && printed.front() == '"' && printed.back() == '"',
            "printed text not quoted: " + printed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::unique_ptr<ICDHandler> handler = icdhost_loader::loadText(text, kPath, &error);
    if (!handler) {
        checkError(error);
        return 0;
    }
    // A raw word and a text taken from the input itself, so that libFuzzer steers them too.
    unsigned long long word = 1469598103934665603ULL;
    for (std::size_t i = 0; i < size; ++i) {
        word = (word ^ data[i]) * 1099511628211ULL;
    }
    const std::string tail = text.substr(size > 24 ? size - 24 : 0);
    checkName(handler->getName(), true);
    for (ICDMessage* message : handler->messages()) {
        checkName(message->getName(), false);
        for (ICDGenericMessageField* field : message->fields()) {
            checkName(field->getName(), false);
            const unsigned int code = field->getDataType();
            if (code == ICD_TYPE_STRING) {
                checkTextField(field, tail);
            } else if (icdhost_types::hasValueType(code)) {
                checkNumericField(field, word, tail);
            } else {
                require(!field->encode() && !field->setValueFromText("0", nullptr),
                        "a field without a value type took a value");
            }
        }
    }
    return 0;
}
