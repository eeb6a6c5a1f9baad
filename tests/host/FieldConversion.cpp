#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "HostTestSupport.h"

namespace {

class FieldConversion : public testing::Test {
protected:
    ICDGenericMessageField* field(unsigned int code) {
        return _message->addField("f" + std::to_string(_count++), code);
    }
    ICDGenericMessageField* fieldWith(unsigned int code, const std::string& text) {
        ICDGenericMessageField* made = field(code);
        std::string error;
        EXPECT_TRUE(made->setValueFromText(text, &error)) << text << ": " << error;
        return made;
    }

    ICDHandler _handler{"BUS", "bus.xml", 1000};
    ICDMessage* _message = _handler.addMessage("MSG", false);
    int _count = 0;
};

struct EncodeCase {
    unsigned int code;
    const char* value;
    unsigned long long raw;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
    *os << c.code << " " << c.value;
}

class DefaultEncode : public FieldConversion, public testing::WithParamInterface<EncodeCase> {};

TEST_P(DefaultEncode, GivesTheTwosComplementOrIeeeBitsZeroExtended) {
    ICDGenericMessageField* made = fieldWith(GetParam().code, GetParam().value);
    ASSERT_TRUE(made->encode());
    EXPECT_EQ(made->getRaw(), GetParam().raw);
    EXPECT_EQ(made->rawText(), std::to_string(GetParam().raw));
}

INSTANTIATE_TEST_SUITE_P(EveryNumericType, DefaultEncode,
                         testing::Values(EncodeCase{ICD_TYPE_BITS, "0xDEADBEEF", 0xDEADBEEFull},
                                         EncodeCase{ICD_TYPE_SHORT, "-1", 0xFFFFull},
                                         EncodeCase{ICD_TYPE_SHORT, "-32768", 0x8000ull},
                                         EncodeCase{ICD_TYPE_SHORT, "32767", 0x7FFFull},
                                         EncodeCase{ICD_TYPE_USHORT, "65535", 0xFFFFull},
                                         EncodeCase{ICD_TYPE_INT, "-1", 0xFFFFFFFFull},
                                         EncodeCase{ICD_TYPE_INT, "-0x80000000", 0x80000000ull},
                                         EncodeCase{ICD_TYPE_UINT, "4294967295", 0xFFFFFFFFull},
                                         EncodeCase{ICD_TYPE_LONG, "-1", 0xFFFFFFFFFFFFFFFFull},
                                         EncodeCase{ICD_TYPE_ULONG, "0x123456789", 0x123456789ull},
                                         EncodeCase{ICD_TYPE_LONGLONG, "-2", 0xFFFFFFFFFFFFFFFEull},
                                         EncodeCase{ICD_TYPE_ULONGLONG, "18446744073709551615",
                                                    ~0ull},
                                         EncodeCase{ICD_TYPE_FLOAT, "1", 0x3F800000ull},
                                         EncodeCase{ICD_TYPE_FLOAT, "-2.5", 0xC0200000ull},
                                         EncodeCase{ICD_TYPE_DOUBLE, "1", 0x3FF0000000000000ull},
                                         EncodeCase{ICD_TYPE_DOUBLE, "-0", 0x8000000000000000ull}));

struct DecodeCase {
    unsigned int code;
    unsigned long long raw;
    const char* value;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.code << " " << c.raw;
}

class DefaultDecode : public FieldConversion, public testing::WithParamInterface<DecodeCase> {};

TEST_P(DefaultDecode, TakesTheLowBitsOfTheWidthWhicheverWayItIsAsked) {
    for (bool asSigned : {false, true}) {
        ICDGenericMessageField* made = field(GetParam().code);
        ASSERT_TRUE(made->decode(GetParam().raw, asSigned));
        EXPECT_EQ(made->valueText(), GetParam().value) << "signed " << asSigned;
        EXPECT_EQ(made->getRaw(), GetParam().raw);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryNumericType, DefaultDecode,
    testing::Values(DecodeCase{ICD_TYPE_BITS, 0xABCD00000001ull, "1"},
                    DecodeCase{ICD_TYPE_SHORT, 0x12348000ull, "-32768"},
                    DecodeCase{ICD_TYPE_SHORT, 0xFFFFFFFFFFFFFFFFull, "-1"},
                    DecodeCase{ICD_TYPE_USHORT, 0x1FFFFull, "65535"},
                    DecodeCase{ICD_TYPE_INT, 0x1FFFFFFFEull, "-2"},
                    DecodeCase{ICD_TYPE_UINT, 0x100000005ull, "5"},
                    DecodeCase{ICD_TYPE_LONG, 0xFFFFFFFFFFFFFFFFull, "-1"},
                    DecodeCase{ICD_TYPE_ULONG, 0xFFFFFFFFFFFFFFFFull, "18446744073709551615"},
                    DecodeCase{ICD_TYPE_LONGLONG, 0x8000000000000000ull, "-9223372036854775808"},
                    DecodeCase{ICD_TYPE_ULONGLONG, 0x8000000000000000ull, "9223372036854775808"},
                    DecodeCase{ICD_TYPE_FLOAT, 0xFFFFFFFF3FC00000ull, "1.5"},
                    DecodeCase{ICD_TYPE_DOUBLE, 0xC00C000000000000ull, "-3.5"}));

TEST_F(FieldConversion, FloatAndDoubleValuesPrintWithNineAndSeventeenDigits) {
    EXPECT_EQ(fieldWith(ICD_TYPE_FLOAT, "0.1")->valueText(), "0.100000001");
    EXPECT_EQ(fieldWith(ICD_TYPE_DOUBLE, "0.1")->valueText(), "0.10000000000000001");
    EXPECT_EQ(fieldWith(ICD_TYPE_DOUBLE, "-0.3333333333333333")->valueText(),
              "-0.33333333333333331");
}

TEST_F(FieldConversion, AnEncodeDecodeRoundTripKeepsFloatBitsExactly) {
    ICDGenericMessageField* source = fieldWith(ICD_TYPE_FLOAT, "3.14159274");
    ASSERT_TRUE(source->encode());
    ICDGenericMessageField* target = field(ICD_TYPE_FLOAT);
    ASSERT_TRUE(target->decode(source->getRaw(), false));
    EXPECT_EQ(target->getValue(), source->getValue());
}

TEST_F(FieldConversion, AStringFieldsRawFormIsItsTextQuotedWithEscapes) {
    ICDGenericMessageField* text = field(ICD_TYPE_STRING);
    ASSERT_TRUE(text->setValue(std::string("a \"b\" \\c\nd")));
    ASSERT_TRUE(text->encode());
    EXPECT_EQ(text->getRawText(), "a \"b\" \\c\nd");
    EXPECT_EQ(text->valueText(), "\"a \\\"b\\\" \\\\c\\nd\"");
    EXPECT_EQ(text->rawText(), text->valueText());

    ASSERT_TRUE(text->decodeText("from the bus"));
    EXPECT_EQ(text->valueText(), "\"from the bus\"");
    EXPECT_EQ(text->getRawText(), "from the bus");
}

TEST_F(FieldConversion, StringAndNumericFieldsRefuseEachOthersRawForms) {
    ICDGenericMessageField* text = fieldWith(ICD_TYPE_STRING, "kept");
    EXPECT_FALSE(text->decode(42, false));
    EXPECT_EQ(text->valueText(), "\"kept\"");
    ICDGenericMessageField* number = fieldWith(ICD_TYPE_INT, "7");
    EXPECT_FALSE(number->decodeText("8"));
    EXPECT_EQ(number->valueText(), "7");
}

TEST_F(FieldConversion, CodesWithoutAValueTypeFailEveryConversion) {
    for (unsigned int code : {0u, 501u, 514u, 99999u}) {
        ICDGenericMessageField* made = field(code);
        std::string error;
        EXPECT_FALSE(made->encode()) << code;
        EXPECT_FALSE(made->decode(5, false)) << code;
        EXPECT_EQ(made->getRaw(), 5u) << "the bus word is still received";
        EXPECT_FALSE(made->setValueFromText("1", &error));
        EXPECT_EQ(error, "type code " + std::to_string(code) + " holds no value");
        EXPECT_FALSE(made->setValue(1));
        EXPECT_EQ(made->valueText(), "None");
        unsigned int out = 9;
        EXPECT_FALSE(made->getAsUInt(&out));
        EXPECT_EQ(out, 9u);
    }
}

struct TextCase {
    unsigned int code;
    const char* text;
    const char* printed;  // null when the text must be refused
    const char* error;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.code << " '" << c.text << "'";
}

class ValueFromText : public FieldConversion, public testing::WithParamInterface<TextCase> {};

TEST_P(ValueFromText, ParsesInTheFieldTypeOrKeepsTheValueAndSaysWhy) {
    const TextCase& c = GetParam();
    ICDGenericMessageField* made = field(c.code);
    const std::string before = made->valueText();
    std::string error;
    const bool ok = made->setValueFromText(c.text, &error);
    if (c.printed != nullptr) {
        EXPECT_TRUE(ok) << error;
        EXPECT_EQ(made->valueText(), c.printed);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(made->valueText(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RangesAndForms, ValueFromText,
    testing::Values(
        TextCase{ICD_TYPE_SHORT, "-0x8000", "-32768", ""},
        TextCase{ICD_TYPE_SHORT, "32768", nullptr, "out of range for short"},
        TextCase{ICD_TYPE_SHORT, "-32769", nullptr, "out of range for short"},
        TextCase{ICD_TYPE_USHORT, "+0xffff", "65535", ""}, TextCase{ICD_TYPE_USHORT, "-0", "0", ""},
        TextCase{ICD_TYPE_USHORT, "-1", nullptr, "out of range for ushort"},
        TextCase{ICD_TYPE_INT, "2147483648", nullptr, "out of range for int"},
        TextCase{ICD_TYPE_BITS, "0x100000000", nullptr, "out of range for bits"},
        TextCase{ICD_TYPE_LONGLONG, "9223372036854775807", "9223372036854775807", ""},
        TextCase{ICD_TYPE_LONGLONG, "9223372036854775808", nullptr, "out of range for longlong"},
        TextCase{ICD_TYPE_ULONGLONG, "18446744073709551616", nullptr, "out of range for ulonglong"},
        TextCase{ICD_TYPE_INT, "", nullptr, "not an integer"},
        TextCase{ICD_TYPE_INT, "0x", nullptr, "not an integer"},
        TextCase{ICD_TYPE_INT, " 5", nullptr, "not an integer"},
        TextCase{ICD_TYPE_INT, "5 ", nullptr, "not an integer"},
        TextCase{ICD_TYPE_INT, "1.0", nullptr, "not an integer"},
        TextCase{ICD_TYPE_INT, "0x1g", nullptr, "not an integer"},
        TextCase{ICD_TYPE_FLOAT, "1e39", nullptr, "out of range for float"},
        TextCase{ICD_TYPE_FLOAT, "1e-50", "0", ""}, TextCase{ICD_TYPE_FLOAT, "-inf", "-inf", ""},
        TextCase{ICD_TYPE_DOUBLE, "1e309", nullptr, "out of range for double"},
        TextCase{ICD_TYPE_DOUBLE, "0x1p-2", "0.25", ""},
        TextCase{ICD_TYPE_DOUBLE, "1.5 ", nullptr, "not a number"},
        TextCase{ICD_TYPE_DOUBLE, " 1.5", nullptr, "not a number"},
        TextCase{ICD_TYPE_DOUBLE, "", nullptr, "not a number"},
        TextCase{ICD_TYPE_STRING, " any text, 1e999 ", "\" any text, 1e999 \"", ""}));

TEST_F(FieldConversion, SetValueTakesOnlyTheFieldsOwnType) {
    ICDGenericMessageField* bits = field(ICD_TYPE_BITS);
    EXPECT_TRUE(bits->setValue(7u));
    EXPECT_FALSE(bits->setValue(7));
    EXPECT_FALSE(bits->setValue(7ul));
    EXPECT_EQ(bits->valueText(), "7");
    ICDGenericMessageField* longField = field(ICD_TYPE_LONG);
    EXPECT_TRUE(longField->setValue(-7l));
    EXPECT_FALSE(longField->setValue(-7ll));
    EXPECT_FALSE(field(ICD_TYPE_DOUBLE)->setValue(1.0f));
    EXPECT_FALSE(field(ICD_TYPE_STRING)->setValue(ICDGenericMessageField::Value{}));
}

TEST_F(FieldConversion, GetAsUIntAnswersOnlyForIntegerValuesThatFit) {
    unsigned int out = 0;
    EXPECT_TRUE(fieldWith(ICD_TYPE_UINT, "4294967295")->getAsUInt(&out));
    EXPECT_EQ(out, UINT_MAX);
    EXPECT_TRUE(fieldWith(ICD_TYPE_SHORT, "12")->getAsUInt(&out));
    EXPECT_EQ(out, 12u);
    out = 99;
    EXPECT_FALSE(fieldWith(ICD_TYPE_SHORT, "-1")->getAsUInt(&out));
    EXPECT_FALSE(fieldWith(ICD_TYPE_LONGLONG, "4294967296")->getAsUInt(&out));
    EXPECT_FALSE(fieldWith(ICD_TYPE_ULONG, "0x100000000")->getAsUInt(&out));
    EXPECT_FALSE(fieldWith(ICD_TYPE_FLOAT, "3")->getAsUInt(&out));
    EXPECT_FALSE(fieldWith(ICD_TYPE_STRING, "3")->getAsUInt(&out));
    EXPECT_EQ(out, 99u);
    EXPECT_FALSE(fieldWith(ICD_TYPE_UINT, "1")->getAsUInt(nullptr));
}

TEST_F(FieldConversion, ANewFieldHoldsZeroOrTheEmptyTextAndTheDefaultEncoder) {
    EXPECT_EQ(field(ICD_TYPE_DOUBLE)->valueText(), "0");
    EXPECT_EQ(field(ICD_TYPE_STRING)->valueText(), "\"\"");
    EXPECT_EQ(field(ICD_TYPE_STRING)->rawText(), "\"\"");
    EXPECT_EQ(field(ICD_TYPE_INT)->getEncoderName(), "default");
    EXPECT_EQ(field(600)->getEncoderName(), "default");
}

}  // namespace
