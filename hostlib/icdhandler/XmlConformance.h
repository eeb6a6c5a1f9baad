// The check that an ICD file is XML at all, in the sense of the XML 1.0 recommendation. pugixml,
// which builds the document the loader reads, is fast but not a conforming parser: it takes `<` in
// an attribute value, bytes that are not UTF-8, character references to surrogates or to NUL,
// undefined entities (kept as written), text, NUL bytes or a second XML declaration after the root
// element. expat, a conforming parser, refuses each of them. Internal to the host library.
#pragma once

#include <cstddef>
#include <string>

namespace icdhost_xml {

struct Fault {
    std::ptrdiff_t offset = 0;  // byte offset of the fault in the text
    std::string reason;         // "malformed XML: ..." or why a well-formed text is refused
};

// Whether `text` is well-formed XML read as UTF-8 (whatever its declaration says), and carries no
// document type declaration: an ICD file declares no entities nor attribute defaults, which
// pugixml would not apply. False with the first fault otherwise.
bool checkConforming(const std::string& text, Fault* fault);

}  // namespace icdhost_xml
