// Text fields encoded and decoded through a script object: UTF-8 in, the locale's encoding out,
// cut at NUL characters.
#include <clocale>
#include <string>

#include "tests/transcoders/TranscoderFixture.h"

namespace {

using StringTranscoding = TranscoderFixture;

TEST_F(StringTranscoding, TextReachesPythonCutAtItsFirstNulAndTheResultIsCutToo) {
    std::string output;
    EXPECT_TRUE(make<Text>("Echo()")->encode(std::string("ab\0cd", 5), &output));
    EXPECT_EQ(output, "ab");
    EXPECT_EQ(repr("enc.args"), "['ab']");
    EXPECT_TRUE(make<Text>("Returns('x\\x00y', 'x\\x00y')")->decode("anything", &output));
    EXPECT_EQ(output, "x");
}

TEST_F(StringTranscoding, NonAsciiTextRoundTripsInAUtf8Locale) {
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    auto echo = make<Text>("Echo()");
    std::string output;
    EXPECT_TRUE(echo->encode("h\xc3\xa9llo", &output));
    EXPECT_EQ(output, "h\xc3\xa9llo");
    EXPECT_TRUE(echo->decode("ab\xc3\xa9", &output));
    EXPECT_EQ(output, "\u00e9ba");
    std::setlocale(LC_CTYPE, previous.c_str());
}

}  // namespace
