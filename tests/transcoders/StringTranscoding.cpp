// Text fields encoded and decoded through a script object: UTF-8 in, the locale's encoding out,
// cut at NUL characters, and every failure reported with the "encode" wording.
#include <string>

#include "TranscoderFixture.h"

namespace {

class StringTranscoding : public TranscoderFixture {
protected:
    struct Outcome {
        bool ok;
        std::string output;
        std::string err;
    };
    // One call with standard error captured; the output text starts as "unchanged".
    template <typename Call>
    Outcome captured(Call call) {
        Outcome outcome{false, "unchanged", ""};
        CaptureOutput capture;
        outcome.ok = call(&outcome.output);
        outcome.err = capture.err();
        return outcome;
    }
};

TEST_F(StringTranscoding, TextReachesPythonCutAtItsFirstNulAndTheResultIsCutToo) {
    auto echo = text("enc", "Echo()");
    std::string output;
    EXPECT_TRUE(echo->encode(std::string("ab\0cd", 5), &output));
    EXPECT_EQ(output, "ab");
    EXPECT_EQ(repr("enc.args"), "['ab']");

    auto gives = text("enc", "Gives('x\\x00y')");
    EXPECT_TRUE(gives->decode("anything", &output));
    EXPECT_EQ(output, "x");
}

TEST_F(StringTranscoding, NonAsciiTextRoundTripsInAUtf8Locale) {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.applied());
    auto echo = text("enc", "Echo()");
    std::string output;
    EXPECT_TRUE(echo->encode("h\xc3\xa9llo", &output));
    EXPECT_EQ(output, "h\xc3\xa9llo");
    EXPECT_EQ(repr("enc.args[-1] == 'h\\u00e9llo'"), "True");
    EXPECT_TRUE(echo->decode("ab\xc3\xa9", &output));
    EXPECT_EQ(output,
              "\xc3\xa9"
              "ba");
}

TEST_F(StringTranscoding, InputThatIsNotUtf8FailsBeforePythonIsCalled) {
    auto echo = text("enc", "Echo()");
    const Outcome outcome = captured([&](std::string* out) { return echo->encode("\xff", out); });
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.output, "unchanged");
    EXPECT_EQ(outcome.err.rfind("ERROR: encode returns python errors\n", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find("UnicodeDecodeError"), std::string::npos) << outcome.err;
    EXPECT_EQ(repr("enc.args"), "[]");
    EXPECT_FALSE(errorPending());
}

TEST_F(StringTranscoding, AResultTheLocaleCannotRepresentTakesTheErrorPath) {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.applied());
    auto gives = text("enc", "Gives('\\udc80')");
    const Outcome outcome = captured([&](std::string* out) { return gives->encode("a", out); });
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.output, "unchanged");
    EXPECT_EQ(outcome.err.rfind("ERROR: encode returns python errors\n", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find("UnicodeEncodeError"), std::string::npos) << outcome.err;
    EXPECT_FALSE(errorPending());
}

TEST_F(StringTranscoding, ANumberInsteadOfTextTakesTheErrorPathAndLeavesTheOutput) {
    auto gives = text("enc", "Gives(5)");
    const Outcome outcome = captured([&](std::string* out) { return gives->decode("a", out); });
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.output, "unchanged");
    EXPECT_EQ(outcome.err.rfind("ERROR: encode returns python errors\n", 0), 0u) << outcome.err;
    EXPECT_EQ(gives->getLastError() + "\n",
              outcome.err.substr(std::string("ERROR: encode returns python errors\n").size()));
    EXPECT_FALSE(errorPending());
}

TEST_F(StringTranscoding, ARaisingDecodeIsReportedWithTheEncodeWording) {
    auto raising = text("enc", "Raising()");
    const Outcome outcome = captured([&](std::string* out) { return raising->decode("q", out); });
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.err, std::string("ERROR: encode returns python errors\nFile \"") +
                               kEncodersPath +
                               "\", line 36, in decode\n<class 'ValueError'>: cannot decode 'q'\n");
}

TEST_F(StringTranscoding, MethodsAreLookedUpAtEveryCallAndTheFirstFailureStaysInLastError) {
    auto echo = text("enc", "Echo()");
    ASSERT_TRUE(plugin_sessions::run(session, "enc.encode = None"));
    const Outcome refused = captured([&](std::string* out) { return echo->encode("ab", out); });
    EXPECT_FALSE(refused.ok);
    const std::string failure = echo->getLastError();
    EXPECT_NE(failure.find("TypeError"), std::string::npos) << failure;

    ASSERT_TRUE(plugin_sessions::run(session, "enc.encode = lambda value: value * 2"));
    std::string output;
    EXPECT_TRUE(echo->encode("ab", &output));
    EXPECT_EQ(output, "abab");
    EXPECT_EQ(echo->getLastError(), failure);

    ASSERT_TRUE(plugin_sessions::run(session, "del Echo.decode"));
    const Outcome missing = captured([&](std::string* out) { return echo->decode("ab", out); });
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.err.find("AttributeError"), std::string::npos) << missing.err;
}

TEST_F(StringTranscoding, ANullOutputOrAnObjectWithoutBothMethodsFailsSilently) {
    auto echo = text("enc", "Echo()");
    auto onlyEncode = text("other", "OnlyEncode()");
    CaptureOutput output;
    std::string result = "unchanged";
    const bool nullOutput = echo->encode("a", nullptr) || echo->decode("a", nullptr);
    const bool invalid = onlyEncode->encode("a", &result) || onlyEncode->decode("a", &result);
    const std::string printed = output.out() + output.err();
    EXPECT_FALSE(nullOutput);
    EXPECT_FALSE(invalid);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(result, "unchanged");
    EXPECT_EQ(repr("enc.args"), "[]");
}

TEST_F(StringTranscoding, TheNameIsAlwaysTheStringTranscoders) {
    EXPECT_EQ(text("enc", "Named()")->getName(), "ProxyPluginPyStringTranscoder");
}

TEST_F(StringTranscoding, ManyCallsLeaveTheEncodersReferenceCountsAsTheyWere) {
    auto echo = text("enc", "Echo()");
    ASSERT_TRUE(plugin_sessions::run(session,
                                     "enc.args = None\n"
                                     "Echo.encode = lambda self, value: value\n"));
    const Py_ssize_t before = refcount("enc");
    for (int i = 0; i < 1000; ++i) {
        std::string output;
        ASSERT_TRUE(echo->encode("value " + std::to_string(i), &output));
        ASSERT_EQ(output, "value " + std::to_string(i));
    }
    EXPECT_EQ(refcount("enc"), before);
}

}  // namespace
