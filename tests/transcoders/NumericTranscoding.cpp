// Numeric fields encoded and decoded through a script object: what Python receives, which results
// are taken, what is printed and what the host gets back.
#include <climits>
#include <cstdint>
#include <string>

#include "TranscoderFixture.h"

namespace {

class NumericTranscoding : public TranscoderFixture {
protected:
    // encode of `value` through Returns(); repr of what Python received.
    template <typename T>
    std::string receivedByEncode(T value) {
        auto transcoder = numeric<T>("enc", "Returns(encoded=1)");
        unsigned long long raw = 0;
        if (!transcoder->encode(value, &raw)) {
            return "<encode failed>";
        }
        return repr("enc.args[-1]");
    }

    // decode through an object whose decode returns `result`; "false" or the value stored, and
    // whether the transcoder reported success.
    template <typename T>
    std::string decoded(const std::string& result, T sentinel = T(77)) {
        auto transcoder = numeric<T>("enc", "Returns(decoded=" + result + ")");
        T value = sentinel;
        const bool ok = transcoder->decode(5ULL, &value);
        if (errorPending()) {
            return "<error pending>";
        }
        if (!ok) {
            return value == sentinel ? "false" : "false, stored";
        }
        return std::to_string(value);
    }
};

TEST_F(NumericTranscoding, EachValueTypeReachesEncodeAsAPythonNumberOfTheSameValue) {
    EXPECT_EQ(receivedByEncode<short>(-5), "-5");
    EXPECT_EQ(receivedByEncode<unsigned short>(65535), "65535");
    EXPECT_EQ(receivedByEncode<int>(INT_MIN), "-2147483648");
    EXPECT_EQ(receivedByEncode<unsigned int>(UINT_MAX), "4294967295");
    EXPECT_EQ(receivedByEncode<long>(LONG_MIN), std::to_string(LONG_MIN));
    EXPECT_EQ(receivedByEncode<unsigned long>(ULONG_MAX), std::to_string(ULONG_MAX));
    EXPECT_EQ(receivedByEncode<long long>(LLONG_MIN), "-9223372036854775808");
    EXPECT_EQ(receivedByEncode<unsigned long long>(ULLONG_MAX), "18446744073709551615");
    EXPECT_EQ(receivedByEncode<double>(0.1), "0.1");
}

TEST_F(NumericTranscoding, AFloatReachesEncodeAsTheExactDoubleOfTheSingle) {
    EXPECT_EQ(receivedByEncode<float>(0.1f), "0.10000000149011612");
    EXPECT_EQ(repr("type(enc.args[-1]).__name__"), "'float'");
}

TEST_F(NumericTranscoding, ASignedValueEncodedAsItsTwosComplementPatternRoundTrips) {
    auto transcoder = numeric<int>("enc", "TwosComplement()");
    unsigned long long raw = 0;
    EXPECT_TRUE(transcoder->encode(-2, &raw));
    EXPECT_EQ(raw, 0xFFFFFFFFFFFFFFFEULL);
    int value = 0;
    EXPECT_TRUE(transcoder->decode(static_cast<long long>(raw), &value));
    EXPECT_EQ(value, -2);
    value = 0;
    EXPECT_TRUE(transcoder->decode(raw, &value));
    EXPECT_EQ(value, -2);
}

TEST_F(NumericTranscoding, EncodeTakesOnlyIntsFromZeroToTwoToThe64MinusTwo) {
    for (const char* result : {"-2", "2**64 - 1", "2**64", "1.5", "None", "'7'"}) {
        auto transcoder = numeric<int>("enc", std::string("Returns(encoded=") + result + ")");
        unsigned long long raw = 12345;
        CaptureOutput output;
        const bool ok = transcoder->encode(-2, &raw);
        const std::string err = output.err();
        EXPECT_FALSE(ok) << result;
        EXPECT_EQ(err, "ERROR: return value out of range\n") << result;
        EXPECT_EQ(raw, 12345u) << result;
        EXPECT_EQ(transcoder->getLastError(), "") << result;
        EXPECT_FALSE(errorPending()) << result;
    }
    auto largest = numeric<int>("enc", "Returns(encoded=2**64 - 2)");
    unsigned long long raw = 0;
    EXPECT_TRUE(largest->encode(1, &raw));
    EXPECT_EQ(raw, 0xFFFFFFFFFFFFFFFEULL);
}

TEST_F(NumericTranscoding, TheSignedDecodeHandsPythonANegativeWordTheUnsignedOneDoesNot) {
    auto transcoder = numeric<long long>("enc", "Returns(decoded=3)");
    long long value = 0;
    EXPECT_TRUE(transcoder->decode(-1LL, &value));
    EXPECT_EQ(value, 3);
    EXPECT_TRUE(transcoder->decode(ULLONG_MAX, &value));
    EXPECT_EQ(repr("enc.args"), "[-1, 18446744073709551615]");
}

TEST_F(NumericTranscoding, SignedTypesRefuseDecodeResultsOutOfTheirRangeAndStoreNothing) {
    EXPECT_EQ(decoded<short>("-32768"), "-32768");
    EXPECT_EQ(decoded<short>("40000"), "false");
    EXPECT_EQ(decoded<short>("-40000"), "false");
    EXPECT_EQ(decoded<int>("-2**31"), "-2147483648");
    EXPECT_EQ(decoded<int>("2**31"), "false");
    EXPECT_EQ(decoded<long>("2**63"), "false");
    EXPECT_EQ(decoded<long>("-2**63"), std::to_string(LONG_MIN));
    EXPECT_EQ(decoded<long long>("2**63"), "false");
    EXPECT_EQ(decoded<long long>("2**63 - 1"), "9223372036854775807");
}

TEST_F(NumericTranscoding, UnsignedTypesKeepTheLowBitsOfAnyInt) {
    EXPECT_EQ(decoded<unsigned short>("65537"), "1");
    EXPECT_EQ(decoded<unsigned short>("-1"), "65535");
    EXPECT_EQ(decoded<unsigned int>("2**32 + 5"), "5");
    EXPECT_EQ(decoded<unsigned long>("2**64 + 3"), "3");
    EXPECT_EQ(decoded<unsigned long>("-1"), std::to_string(ULONG_MAX));
    EXPECT_EQ(decoded<unsigned long long>("2**64 + 3"), "3");
}

TEST_F(NumericTranscoding, IntegerTypesRefuseAFloatResult) {
    EXPECT_EQ(decoded<short>("1.0"), "false");
    EXPECT_EQ(decoded<unsigned short>("1.0"), "false");
    EXPECT_EQ(decoded<int>("1.0"), "false");
    EXPECT_EQ(decoded<unsigned int>("1.0"), "false");
    EXPECT_EQ(decoded<long>("1.0"), "false");
    EXPECT_EQ(decoded<unsigned long>("1.0"), "false");
    EXPECT_EQ(decoded<long long>("1.0"), "false");
    EXPECT_EQ(decoded<unsigned long long>("1.0"), "false");
}

TEST_F(NumericTranscoding, FloatingTypesTakeAnythingPythonConvertsToFloat) {
    {
        auto transcoder = numeric<float>("enc", "Returns(decoded=0.1)");
        float value = 0;
        EXPECT_TRUE(transcoder->decode(1ULL, &value));
        EXPECT_EQ(value, 0.1f);  // narrowed to the nearest single
    }
    {
        auto transcoder = numeric<double>("enc", "Returns(decoded=3)");
        double value = 0;
        EXPECT_TRUE(transcoder->decode(1ULL, &value));
        EXPECT_EQ(value, 3.0);
    }
    {
        auto transcoder = numeric<double>("enc", "Returns(decoded='1.5')");
        double value = 7;
        EXPECT_FALSE(transcoder->decode(1ULL, &value));
        EXPECT_EQ(value, 7.0);
        EXPECT_FALSE(errorPending());
    }
}

TEST_F(NumericTranscoding, ARaisingMethodIsReportedWithItsDirectionAndLocation) {
    auto transcoder = numeric<double>("enc", "Raising()");
    double value = 0;
    unsigned long long raw = 0;
    CaptureOutput output;
    const bool decodedOk = transcoder->decode(7ULL, &value);
    const bool encodedOk = transcoder->encode(2.5, &raw);
    const std::string err = output.err();
    EXPECT_FALSE(decodedOk);
    EXPECT_FALSE(encodedOk);
    const std::string file = std::string("File \"") + kEncodersPath + "\", line ";
    EXPECT_EQ(err, "ERROR: decode returns python errors\n" + file +
                       "36, in decode\n<class 'ValueError'>: cannot decode 7\n"
                       "ERROR: encode returns python errors\n" +
                       file + "33, in encode\n<class 'ValueError'>: cannot encode 2.5\n");
    EXPECT_EQ(transcoder->getLastError(),
              file + "33, in encode\n<class 'ValueError'>: cannot encode 2.5");
    EXPECT_FALSE(errorPending());
}

TEST_F(NumericTranscoding, ADecodeAfterAnEarlierFailureStoresTheValueButReportsFalse) {
    auto transcoder = numeric<int>("enc", "EncodeRaises(decoded=9)");
    unsigned long long raw = 0;
    std::string err;
    {
        CaptureOutput output;
        EXPECT_FALSE(transcoder->encode(4, &raw));
        err = output.err();
    }
    EXPECT_EQ(err.rfind("ERROR: encode returns python errors\nFile \"", 0), 0u) << err;
    const std::string failure = transcoder->getLastError();
    EXPECT_NE(failure.find("<class 'KeyError'>: 4"), std::string::npos) << failure;

    int value = 0;
    EXPECT_FALSE(transcoder->decode(5ULL, &value));
    EXPECT_EQ(value, 9);
    EXPECT_FALSE(transcoder->decode(5LL, &value));
    EXPECT_EQ(transcoder->getLastError(), failure);
}

TEST_F(NumericTranscoding, WithoutCallableEncodeAndDecodeEveryCallFailsAtOnceAndSilently) {
    for (const char* object : {"OnlyEncode()", "NotCallableDecode()", "None", "42"}) {
        auto transcoder = numeric<int>("enc", object);
        EXPECT_FALSE(transcoder->isValid()) << object;
        unsigned long long raw = 3;
        int value = 3;
        CaptureOutput output;
        const bool encoded = transcoder->encode(1, &raw);
        const bool decodedUnsigned = transcoder->decode(1ULL, &value);
        const bool decodedSigned = transcoder->decode(1LL, &value);
        const std::string printed = output.out() + output.err();
        EXPECT_FALSE(encoded || decodedUnsigned || decodedSigned) << object;
        EXPECT_EQ(printed, "") << object;
        EXPECT_EQ(raw, 3u);
        EXPECT_EQ(value, 3);
    }
}

TEST_F(NumericTranscoding, MethodsAreBoundAtInstallationSoRebindingThemChangesNothing) {
    auto transcoder = numeric<int>("enc", "Returns(encoded=5)");
    ASSERT_TRUE(plugin_sessions::run(session,
                                     "enc.encode = lambda value: 99\n"
                                     "del Returns.encode\n"));
    unsigned long long raw = 0;
    EXPECT_TRUE(transcoder->encode(1, &raw));
    EXPECT_EQ(raw, 5u);
}

TEST_F(NumericTranscoding, ATextNameAttributeNamesTheTranscoder) {
    EXPECT_EQ(numeric<int>("enc", "Named()")->getName(), "Altimeter");
    EXPECT_EQ(numeric<double>("enc", "BadlyNamed()")->getName(), "ProxyPluginPyTranscoder");
    EXPECT_EQ(numeric<short>("enc", "Returns()")->getName(), "ProxyPluginPyTranscoder");
    ASSERT_TRUE(plugin_sessions::run(session, "class Cut(Returns):\n    name = 'ab\\0cd'\n"));
    EXPECT_EQ(numeric<short>("enc", "Cut()")->getName(), "ab");
}

TEST_F(NumericTranscoding, ManyCallsLeaveTheEncodersReferenceCountsAsTheyWere) {
    ASSERT_TRUE(plugin_sessions::run(session, "enc = TwosComplement()"));
    const Py_ssize_t beforeInstall = refcount("enc");
    const Py_ssize_t classBefore = refcount("TwosComplement");
    {
        TranscoderPtr<ProxyPluginPyNumericTranscoder<long long>> transcoder(
            nullptr, ReleaseTranscoder{session});
        {
            PySession::Use use(session);
            transcoder.reset(new ProxyPluginPyNumericTranscoder<long long>(
                session, PyDict_GetItemString(session->globals(), "enc"), false, false));
        }
        const Py_ssize_t installed = refcount("enc");
        for (long long i = -500; i < 500; ++i) {
            if (i == -1) {
                continue;  // its pattern is the refused all-ones word
            }
            unsigned long long raw = 0;
            long long value = 0;
            ASSERT_TRUE(transcoder->encode(i, &raw));
            ASSERT_TRUE(transcoder->decode(static_cast<long long>(raw), &value));
            ASSERT_EQ(value, i);
        }
        EXPECT_EQ(refcount("enc"), installed);
    }
    EXPECT_EQ(refcount("enc"), beforeInstall);
    EXPECT_EQ(refcount("TwosComplement"), classBefore);
}

}  // namespace
