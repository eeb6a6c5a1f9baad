// Numeric fields encoded and decoded through a script object: what Python receives, which results
// are taken, what is printed and what the host gets back.
#include <string>
#include <utility>

#include "tests/transcoders/TranscoderFixture.h"

namespace {

class NumericTranscoding : public TranscoderFixture {
protected:
    // The value decode stored when the script's decode returns `result`, or "false".
    template <typename T>
    std::string decoded(const std::string& result) {
        T value = T(77);
        const bool ok = numeric<T>("Returns(decoded=" + result + ")")->decode(5ULL, &value);
        return ok ? std::to_string(value) : value == T(77) ? "false" : "false, stored";
    }
};

// A float reaches Python as the exact double of the single. The all-ones word is refused: it is
// the value the host reads as "no result".
TEST_F(NumericTranscoding,
       EncodeTakesTwosComplementPatternsButOnlyIntsFromZeroToTwoToThe64MinusTwo) {
    unsigned long long raw = 0;
    ASSERT_TRUE(numeric<float>("Returns(encoded=1)")->encode(0.1f, &raw));
    EXPECT_EQ(repr("enc.args"), "[0.10000000149011612]");
    auto pattern = numeric<int>("TwosComplement()");
    int value = 0;
    EXPECT_TRUE(pattern->encode(-2, &raw) && pattern->decode(static_cast<long long>(raw), &value));
    EXPECT_EQ(std::make_pair(raw, value), std::make_pair(0xFFFFFFFFFFFFFFFEULL, -2));
    for (const char* result : {"-2", "2**64 - 1", "2**64", "1.5", "None", "'7'"}) {
        auto transcoder = numeric<int>(std::string("Returns(encoded=") + result + ")");
        EXPECT_EQ(printed([&] { return transcoder->encode(-2, &raw); }),
                  "false|ERROR: return value out of range\n")
            << result;
        EXPECT_EQ(raw, 0xFFFFFFFFFFFFFFFEULL) << result;
    }
}

// Unsigned types keep the low bits of any int; integer types refuse a float; floating types take
// what Python converts to float.
TEST_F(NumericTranscoding, DecodeResultsAreCheckedAgainstTheRangeOfEachType) {
    EXPECT_EQ(decoded<short>("-32768"), "-32768");
    EXPECT_EQ(decoded<short>("40000"), "false");
    EXPECT_EQ(decoded<int>("2**31"), "false");
    EXPECT_EQ(decoded<long long>("2**63"), "false");
    EXPECT_EQ(decoded<unsigned short>("-1"), "65535");
    EXPECT_EQ(decoded<unsigned long long>("2**64 + 3"), "3");
    EXPECT_EQ(decoded<int>("1.0"), "false");
    EXPECT_EQ(decoded<float>("0.1"), std::to_string(0.1f));
    EXPECT_EQ(decoded<double>("3"), "3.000000");
    EXPECT_EQ(decoded<double>("'1.5'"), "false");
}

TEST_F(NumericTranscoding, ADecodeAfterAnEarlierFailureStoresTheValueButReportsFalse) {
    auto transcoder = numeric<int>("EncodeRaises(decoded=9)");
    unsigned long long raw = 0;
    const std::string failure =
        std::string("File \"") + kEncodersPath + "\", line 20, in <lambda>\n<class 'KeyError'>: 4";
    EXPECT_EQ(printed([&] { return transcoder->encode(4, &raw); }),
              "false|ERROR: encode returns python errors\n" + failure + "\n");
    int value = 0;
    EXPECT_FALSE(transcoder->decode(5ULL, &value));
    EXPECT_EQ(value, 9);
    EXPECT_EQ(transcoder->getLastError(), failure);
}

TEST_F(NumericTranscoding, MethodsAreBoundAtInstallationAndWithoutThemEveryCallFailsSilently) {
    unsigned long long raw = 3;
    int value = 3;
    for (const char* object : {"OnlyEncode()", "NotCallableDecode()", "None"}) {
        auto transcoder = numeric<int>(object);
        EXPECT_EQ(
            printed([&] { return transcoder->encode(1, &raw) || transcoder->decode(1LL, &value); }),
            "false|")
            << object;
        EXPECT_EQ(raw + value, 6u) << object;
    }
    auto bound = numeric<int>("Returns(encoded=5)");
    ASSERT_TRUE(session->eval("enc.encode = lambda value: 99\ndel Returns.encode"));
    EXPECT_TRUE(bound->encode(1, &raw));
    EXPECT_EQ(raw, 5u);
}

TEST_F(NumericTranscoding, ATextNameAttributeNamesTheTranscoderUpToItsFirstNul) {
    ASSERT_TRUE(session->eval("class Named(Returns): name = 'Alti\\0meter'"));
    EXPECT_EQ(numeric<int>("Named()")->getName(), "Alti");
    EXPECT_EQ(numeric<double>("Returns()")->getName(), "ProxyPluginPyTranscoder");
    EXPECT_EQ(make<Text>("Named()")->getName(), "ProxyPluginPyStringTranscoder");
}

// A name property that raises, or a name that is no text, keeps the default name, prints nothing
// and leaves no error (the make helper checks the last).
TEST_F(NumericTranscoding, ANameThatRaisesOrIsNoTextKeepsTheDefaultQuietly) {
    ASSERT_TRUE(
        session->eval("class Raising(Returns):\n"
                      "    name = property(lambda self: 1 / 0)\n"
                      "class Missing(Returns):\n"
                      "    name = property(lambda self: self.nothing)\n"
                      "class Number(Returns): name = 5"));
    for (const char* encoder : {"Raising()", "Missing()", "Number()"}) {
        CaptureOutput output;
        EXPECT_EQ(numeric<int>(encoder)->getName(), "ProxyPluginPyTranscoder") << encoder;
        EXPECT_EQ(output.out() + output.err(), "") << encoder;
    }
}

TEST_F(NumericTranscoding, ManyCallsOfEitherKindLeaveTheEncodersReferenceCountsAsTheyWere) {
    const std::string counts = "[__import__('sys').getrefcount(x) for x in (a, b, TwosComplement)]";
    ASSERT_TRUE(session->eval("a, b, enc = TwosComplement(), Echo(), None"));
    const std::string before = repr(counts);
    {
        auto number = numeric<long long>("a");
        auto text = make<Text>("b");
        for (long long i = 2; i < 1000; ++i) {
            unsigned long long raw = 0;
            long long value = 0;
            std::string word;
            ASSERT_TRUE(number->encode(-i, &raw) &&
                        number->decode(static_cast<long long>(raw), &value) && value == -i &&
                        text->encode(std::to_string(i), &word) && word == std::to_string(i));
        }
    }
    ASSERT_TRUE(session->eval("enc = None"));
    EXPECT_EQ(repr(counts), before);
}

}  // namespace
