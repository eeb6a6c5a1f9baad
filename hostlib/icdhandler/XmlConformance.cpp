// The XML 1.0 conformance check of an ICD file's text, run through expat before pugixml reads it.
#include "XmlConformance.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "TextFormat.h"

namespace icdhost_xml {

namespace {

struct Check {
    XML_Parser parser = nullptr;
    bool doctype = false;
    std::ptrdiff_t doctypeOffset = 0;
};

void XMLCALL refuseDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto* check = static_cast<Check*>(data);
    check->doctype = true;
    check->doctypeOffset = static_cast<std::ptrdiff_t>(XML_GetCurrentByteIndex(check->parser));
    XML_StopParser(check->parser, XML_FALSE);
}

// The first entity reference at or after `from` that names none of XML's five predefined
// entities, with its offset; expat points at the start of the tag when the reference is in an
// attribute value.
std::string undefinedEntity(const std::string& text, std::ptrdiff_t* offset) {
    static const char* const predefined[] = {"amp", "lt", "gt", "quot", "apos"};
    for (std::size_t at = text.find('&', static_cast<std::size_t>(*offset));
         at != std::string::npos; at = text.find('&', at + 1)) {
        const std::size_t end = text.find(';', at);
        if (end == std::string::npos || text[at + 1] == '#') {
            continue;
        }
        const std::string name = text.substr(at + 1, end - at - 1);
        if (std::none_of(std::begin(predefined), std::end(predefined),
                         [&](const char* known) { return name == known; })) {
            *offset = static_cast<std::ptrdiff_t>(at);
            return "&" + name + ";";
        }
    }
    return std::string();
}

// expat's description, made precise where expat's is vague, with what stands at the fault.
std::string describe(XML_Error code, const std::string& text, std::ptrdiff_t* offset) {
    const std::size_t at = static_cast<std::size_t>(*offset);
    char32_t codePoint = 0;
    if (at < text.size() && text[at] == '\0') {
        return "a NUL byte";
    }
    if (at < text.size() &&
        icdhost_text::decodeUtf8(text.data() + at, text.size() - at, &codePoint) == 0) {
        static const char hex[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(text[at]);
        return std::string("not UTF-8 (byte 0x") + hex[byte >> 4] + hex[byte & 0xF] + ")";
    }
    std::string description = XML_ErrorString(code);
    if (code == XML_ERROR_UNDEFINED_ENTITY) {
        const std::string entity = undefinedEntity(text, offset);
        if (!entity.empty()) {
            description += " " + icdhost_text::quoteEscaped(entity);
        }
    } else if (code == XML_ERROR_BAD_CHAR_REF && text.compare(at, 2, "&#") == 0) {
        const std::size_t end = text.find(';', at);
        if (end != std::string::npos && end - at < 16) {
            description += " " + icdhost_text::quoteEscaped(text.substr(at, end - at + 1));
        }
    } else if (code == XML_ERROR_INVALID_TOKEN && at < text.size()) {
        description += " at " + icdhost_text::quoteEscaped(text.substr(at, 1));
    }
    return description;
}

}  // namespace

bool checkConforming(const std::string& text, Fault* fault) {
    Check check;
    // The encoding given here overrides the file's declaration: an ICD file is UTF-8.
    check.parser = XML_ParserCreate("UTF-8");
    if (check.parser == nullptr) {
        fault->offset = 0;
        fault->reason = "out of memory";
        return false;
    }
    XML_SetUserData(check.parser, &check);
    XML_SetStartDoctypeDeclHandler(check.parser, refuseDoctype);
    // In pieces that fit expat's int length.
    constexpr std::size_t piece = std::size_t(1) << 30;
    std::size_t done = 0;
    XML_Status status = XML_STATUS_OK;
    do {
        const std::size_t length = std::min(piece, text.size() - done);
        const bool last = done + length == text.size();
        status = XML_Parse(check.parser, text.data() + done, static_cast<int>(length),
                           last ? XML_TRUE : XML_FALSE);
        done += length;
    } while (status == XML_STATUS_OK && done < text.size());
    const bool conforming = status == XML_STATUS_OK;
    if (check.doctype) {
        fault->offset = check.doctypeOffset;
        fault->reason = "a document type declaration (<!DOCTYPE ...>) is not allowed";
    } else if (!conforming) {
        fault->offset = static_cast<std::ptrdiff_t>(XML_GetCurrentByteIndex(check.parser));
        if (fault->offset < 0) {
            fault->offset = 0;
        }
        fault->reason =
            "malformed XML: " + describe(XML_GetErrorCode(check.parser), text, &fault->offset);
    }
    XML_ParserFree(check.parser);
    return conforming && !check.doctype;
}

}  // namespace icdhost_xml
