// The plug-in library's own messages ("INFO:: Encoder ...", "ERROR: encode returns ...") written
// one message at a time. A chain of << is one write per piece (std::cerr is unbuffered), so a
// line printed by another thread could land between the pieces; with one interpreter lock per
// plug-in, two plug-ins print at the same moment. Internal to the project, never installed.
#pragma once

#include <ostream>
#include <sstream>
#include <string>

namespace ppp_output {

// Formats the pieces as << would, adds "\n" and writes the whole text with one write of the
// stream, then flushes it as std::endl would. Any thread; no lock is held or taken.
template <typename... Pieces>
void printLine(std::ostream& stream, const Pieces&... pieces) {
    std::ostringstream text;
    (text << ... << pieces);
    text << '\n';
    const std::string whole = text.str();
    stream.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    stream.flush();
}

}  // namespace ppp_output
