// The plug-in library's own messages ("ERROR: encode returns python errors" with its traceback,
// "INFO:: Encoder ...") reach the stream in one write each, whatever their pieces: with one
// interpreter lock per plug-in two plug-ins print at the same moment, and another thread's line
// may then fall before or after a message, never inside it.
#include <gtest/gtest.h>

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "internal/PrintLine.h"

namespace {

// Has no buffer of its own, as std::cerr's: it records every write the stream makes.
class RecordingBuffer : public std::streambuf {
public:
    std::vector<std::string> writes;
    int flushes = 0;

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        writes.emplace_back(text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            writes.emplace_back(1, traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        ++flushes;
        return 0;
    }
};

TEST(LibraryMessages, AMessageOfManyPiecesIsOneWriteEndedByANewlineAndThenFlushed) {
    RecordingBuffer buffer;
    std::ostream stream(&buffer);
    ppp_output::printLine(stream, "ERROR: encode returns python errors", "\n",
                          "<class 'ValueError'>: ", 42, ' ', 1.5, '!');
    ppp_output::printLine(stream, "INFO:: Encoder '", "ProxyPluginPyTranscoder",
                          "' on field 'int' applied properly");
    EXPECT_EQ(buffer.writes,
              (std::vector<std::string>{
                  "ERROR: encode returns python errors\n<class 'ValueError'>: 42 1.5!\n",
                  "INFO:: Encoder 'ProxyPluginPyTranscoder' on field 'int' applied properly\n"}));
    EXPECT_EQ(buffer.flushes, 2);
}

}  // namespace
