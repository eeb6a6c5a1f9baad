#include <gtest/gtest.h>

#include <string>

#include "tests/host/HostTestSupport.h"

namespace {

using FieldConversion = HostFixture;

// The default encoder gives the two's complement or IEEE bits zero-extended; decoding takes the
// low bits of the type's width whichever signedness the host asks for. Codes without a value
// type fail every conversion but keep the bus word.
TEST_F(FieldConversion, TheDefaultEncoderConvertsEveryTypeThroughItsWidth) {
    const struct {
        unsigned int code;
        const char* value;
        unsigned long long raw;
        unsigned long long wideRaw;  // decodes to `value`: bits above the width are ignored
    } rows[] = {{ICD_TYPE_BITS, "3735928559", 0xDEADBEEFull, 0xABCDDEADBEEFull},
                {ICD_TYPE_SHORT, "-32768", 0x8000ull, 0x12348000ull},
                {ICD_TYPE_USHORT, "65535", 0xFFFFull, 0x1FFFFull},
                {ICD_TYPE_INT, "-2", 0xFFFFFFFEull, 0x1FFFFFFFEull},
                {ICD_TYPE_UINT, "4294967295", 0xFFFFFFFFull, 0x1FFFFFFFFull},
                {ICD_TYPE_LONG, "-1", ~0ull, ~0ull},
                {ICD_TYPE_ULONG, "4886718345", 0x123456789ull, 0x123456789ull},
                {ICD_TYPE_LONGLONG, "-9223372036854775808", 1ull << 63, 1ull << 63},
                {ICD_TYPE_ULONGLONG, "18446744073709551615", ~0ull, ~0ull},
                {ICD_TYPE_FLOAT, "-2.5", 0xC0200000ull, 0xFFFFFFFFC0200000ull},
                {ICD_TYPE_DOUBLE, "-0", 0x8000000000000000ull, 0x8000000000000000ull}};
    for (const auto& row : rows) {
        ICDGenericMessageField* made = field(row.code);
        std::string error;
        ASSERT_TRUE(made->setValueFromText(row.value, &error)) << row.value << ": " << error;
        ASSERT_TRUE(made->encode()) << row.code;
        EXPECT_EQ(made->getRaw(), row.raw) << row.code << " " << row.value;
        for (bool asSigned : {false, true}) {
            ICDGenericMessageField* target = field(row.code);
            ASSERT_TRUE(target->decode(row.wideRaw, asSigned));
            EXPECT_EQ(target->valueText(), row.value) << row.code << " signed " << asSigned;
            EXPECT_EQ(target->getRaw(), row.wideRaw);
        }
    }
    for (unsigned int code : {0u, 501u, 514u, 99999u}) {
        ICDGenericMessageField* made = field(code);
        EXPECT_FALSE(made->encode() || made->decode(5, false)) << code;
        EXPECT_EQ(made->getRaw(), 5u);
        EXPECT_EQ(made->valueText(), "None");
    }
}

}  // namespace
