// ICDHandler::load: reads one ICD file into a new handler, or reports its first fault.
#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <set>

#include "FieldTypes.h"
#include "ICDFileLoader.h"
#include "ICDHandler.h"
#include "ReadFile.h"
#include "TextFormat.h"
#include "XmlConformance.h"

namespace {

// Control characters in error lines are escaped: what the file holds never reaches a terminal.
using icdhost_text::quoteEscaped;

// The first fault found; thrown inside the loader only, never out of load().
struct LoadError {
    std::ptrdiff_t offset;
    std::string reason;
};

[[noreturn]] void fail(const pugi::xml_node& node, std::string reason) {
    throw LoadError{node.offset_debug(), std::move(reason)};
}

std::string element(const pugi::xml_node& node) {
    return "<" + icdhost_text::escapeControls(node.name()) + ">";
}

// Attribute values by name, after checking that the element carries no unknown or repeated
// attribute and every required one.
class Attributes {
public:
    Attributes(const pugi::xml_node& node, std::initializer_list<const char*> required,
               std::initializer_list<const char*> optional) {
        for (const pugi::xml_attribute& attribute : node.attributes()) {
            const std::string name = attribute.name();
            const bool known =
                std::any_of(required.begin(), required.end(),
                            [&](const char* candidate) { return name == candidate; }) ||
                std::any_of(optional.begin(), optional.end(),
                            [&](const char* candidate) { return name == candidate; });
            if (!known) {
                fail(node, "unknown attribute " + quoteEscaped(name) + " on " + element(node));
            }
            if (!_values.emplace(name, attribute.value()).second) {
                fail(node, "duplicate attribute " + quoteEscaped(name) + " on " + element(node));
            }
        }
        for (const char* name : required) {
            if (_values.count(name) == 0) {
                fail(node, std::string("missing attribute \"") + name + "\" on " + element(node));
            }
        }
    }

    bool has(const std::string& name) const { return _values.count(name) != 0; }
    std::string get(const std::string& name) const {
        auto it = _values.find(name);
        return it == _values.end() ? std::string() : it->second;
    }

private:
    std::map<std::string, std::string> _values;
};

// Children must all be elements of `childName` (or none at all when it is null).
std::vector<pugi::xml_node> children(const pugi::xml_node& parent, const char* childName) {
    std::vector<pugi::xml_node> result;
    for (const pugi::xml_node& child : parent.children()) {
        switch (child.type()) {
            case pugi::node_element:
                if (childName == nullptr || std::strcmp(child.name(), childName) != 0) {
                    fail(child, "unknown element " + element(child) + " in " + element(parent));
                }
                result.push_back(child);
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata: {
                // Points at the first visible character rather than the line end before it.
                const std::string text = child.value();
                const std::size_t visible = text.find_first_not_of(" \t\r\n");
                throw LoadError{
                    child.offset_debug() +
                        static_cast<std::ptrdiff_t>(visible == std::string::npos ? 0 : visible),
                    "unexpected text in " + element(parent)};
            }
            default:
                break;
        }
    }
    return result;
}

// Unicode's White_Space characters.
bool isBlank(char32_t c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// A name as a script and icdhost's commands see it: not empty, no control character, no blank at
// either end, and for messages and fields no ".", which separates the two in MSG.FIELD (with
// "A.B" and "C" as well as "A" and "B.C", "A.B.C" would name two fields). The text is UTF-8: the
// conformance check has refused any other byte.
std::string requireName(const pugi::xml_node& node, const Attributes& attributes, bool dotAllowed) {
    std::string name = attributes.get("name");
    if (name.empty()) {
        fail(node, "empty attribute \"name\" on " + element(node));
    }
    const std::string what = "name " + quoteEscaped(name) + " of " + element(node);
    char32_t first = 0;
    char32_t last = 0;
    for (std::size_t pos = 0; pos < name.size();) {
        char32_t c = 0;
        std::size_t length = icdhost_text::decodeUtf8(name.data() + pos, name.size() - pos, &c);
        if (length == 0) {
            fail(node, what + " is not UTF-8");
        }
        if (icdhost_text::isControl(c)) {
            fail(node, what + " holds a control character");
        }
        if (c == '.' && !dotAllowed) {
            fail(node, what + " holds \".\", which separates message and field names");
        }
        first = pos == 0 ? c : first;
        last = c;
        pos += length;
    }
    if (isBlank(first) || isBlank(last)) {
        fail(node, what + " begins or ends with a blank");
    }
    return name;
}

std::uint64_t parseUnsigned(const pugi::xml_node& node, const char* attribute,
                            const std::string& text, unsigned bits) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    std::uint64_t value = 0;
    std::string error;
    if (!icdhost_text::parseInteger(text, &negative, &magnitude, &error)) {
        fail(node, std::string("bad ") + attribute + " " + quoteEscaped(text) + ": " + error);
    }
    if (!icdhost_text::fitsUnsigned(negative, magnitude, bits, &value)) {
        fail(node, std::string("bad ") + attribute + " " + quoteEscaped(text) +
                       ": out of range for unsigned " + std::to_string(bits) + "-bit");
    }
    return value;
}

bool parseBoolean(const pugi::xml_node& node, const char* attribute, const std::string& text) {
    if (text == "true" || text == "1") {
        return true;
    }
    if (text == "false" || text == "0") {
        return false;
    }
    fail(node, std::string("bad ") + attribute + " " + quoteEscaped(text) +
                   ": expected true, false, 1 or 0");
}

void loadField(ICDMessage& message, const pugi::xml_node& node) {
    const Attributes attributes(node, {"name"}, {"type", "typeCode", "value"});
    const std::string name = requireName(node, attributes, false);
    if (message.findMessageField(name) != nullptr) {
        fail(node, "duplicate field name " + quoteEscaped(name) + " in message " +
                       quoteEscaped(message.getName()));
    }
    const bool named = attributes.has("type");
    const bool coded = attributes.has("typeCode");
    if (named && coded) {
        fail(node, "field " + quoteEscaped(name) + " has both \"type\" and \"typeCode\"");
    }
    if (!named && !coded) {
        fail(node, "field " + quoteEscaped(name) + " has neither \"type\" nor \"typeCode\"");
    }
    unsigned int code = 0;
    if (named) {
        const std::string type = attributes.get("type");
        if (!icdhost_types::typeCodeOf(type, &code)) {
            fail(node,
                 "unknown type name " + quoteEscaped(type) + " of field " + quoteEscaped(name));
        }
    } else {
        code = static_cast<unsigned int>(
            parseUnsigned(node, "typeCode", attributes.get("typeCode"), 32));
    }
    children(node, nullptr);
    ICDGenericMessageField* field = message.addField(name, code);
    if (attributes.has("value")) {
        const std::string value = attributes.get("value");
        std::string error;
        if (!field->setValueFromText(value, &error)) {
            fail(node, "bad value " + quoteEscaped(value) + " of field " + quoteEscaped(name) +
                           ": " + error);
        }
    }
    // The raw form starts as the default conversion of the initial value.
    field->encode();
}

void loadMessage(ICDHandler& handler, const pugi::xml_node& node) {
    const Attributes attributes(node, {"name"}, {"alwaysEnterSession"});
    const std::string name = requireName(node, attributes, false);
    if (handler.findMessage(name) != nullptr) {
        fail(node, "duplicate message name " + quoteEscaped(name));
    }
    bool alwaysEnterSession = false;
    if (attributes.has("alwaysEnterSession")) {
        alwaysEnterSession =
            parseBoolean(node, "alwaysEnterSession", attributes.get("alwaysEnterSession"));
    }
    const std::vector<pugi::xml_node> fields = children(node, "field");
    ICDMessage* message = handler.addMessage(name, alwaysEnterSession);
    for (const pugi::xml_node& field : fields) {
        loadField(*message, field);
    }
}

std::unique_ptr<ICDHandler> loadDocument(const pugi::xml_document& document,
                                         const std::string& path) {
    pugi::xml_node root;
    for (const pugi::xml_node& child : document.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (std::strcmp(child.name(), "icd") != 0) {
            fail(child, "unknown element " + element(child) + ", expected <icd>");
        }
        if (root) {
            fail(child, "a second <icd> element");
        }
        root = child;
    }
    const Attributes attributes(root, {"name"}, {"busClockPeriod"});
    const std::string name = requireName(root, attributes, true);
    unsigned long busClockPeriod = 1000;
    if (attributes.has("busClockPeriod")) {
        busClockPeriod = static_cast<unsigned long>(
            parseUnsigned(root, "busClockPeriod", attributes.get("busClockPeriod"), 32));
    }
    const std::vector<pugi::xml_node> messages = children(root, "message");
    auto handler = std::make_unique<ICDHandler>(name, path, busClockPeriod);
    for (const pugi::xml_node& message : messages) {
        loadMessage(*handler, message);
    }
    return handler;
}

bool readFile(const std::string& path, std::string* text, std::string* error) {
    using icdhost_text::FileRead;
    int cause = 0;
    const FileRead read = icdhost_text::readWholeFile(path, *text, cause);
    if (read == FileRead::Done) {
        return true;
    }
    *error =
        icdhost_text::escapeControls(path) +
        (read == FileRead::CannotOpen ? ": cannot open the file: " : ": cannot read the file: ") +
        std::strerror(cause);
    return false;
}

int lineOf(const std::string& text, std::ptrdiff_t offset) {
    if (offset < 0) {
        return 1;
    }
    const auto end = text.begin() + std::min<std::ptrdiff_t>(offset, text.size());
    return 1 + static_cast<int>(std::count(text.begin(), end, '\n'));
}

}  // namespace

std::unique_ptr<ICDHandler> icdhost_loader::loadText(const std::string& text,
                                                     const std::string& path, std::string* error) {
    std::string ignored;
    std::string& report = error != nullptr ? *error : ignored;
    const std::string shownPath = icdhost_text::escapeControls(path);
    pugi::xml_document document;
    // Parsed from our own copy so that node offsets count bytes of the file as it is.
    const pugi::xml_parse_result parsed =
        document.load_buffer(text.data(), text.size(),
                             pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8);
    if (!parsed) {
        report = shownPath + ":" + std::to_string(lineOf(text, parsed.offset)) +
                 ": malformed XML: " + parsed.description();
        return nullptr;
    }
    // What pugixml took may still not be XML: the document is read only once it is.
    icdhost_xml::Fault fault;
    if (!icdhost_xml::checkConforming(text, &fault)) {
        report = shownPath + ":" + std::to_string(lineOf(text, fault.offset)) + ": " + fault.reason;
        return nullptr;
    }
    try {
        return loadDocument(document, path);
    } catch (const LoadError& fault) {
        report = shownPath + ":" + std::to_string(lineOf(text, fault.offset)) + ": " + fault.reason;
        return nullptr;
    }
}

std::unique_ptr<ICDHandler> ICDHandler::load(const std::string& path, std::string* error) {
    std::string ignored;
    std::string& report = error != nullptr ? *error : ignored;
    std::string text;
    if (!readFile(path, &text, &report)) {
        return nullptr;
    }
    return icdhost_loader::loadText(text, path, error);
}
