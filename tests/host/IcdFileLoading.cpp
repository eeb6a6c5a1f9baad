#include <gtest/gtest.h>

#include <string>

#include "HostTestSupport.h"

namespace {

TEST(IcdFileLoading, AWellFormedFileGivesItsHandlerMessagesAndFields) {
    const std::string path = hostDataFile("nav_bus.xml");
    std::string error;
    auto handler = ICDHandler::load(path, &error);
    ASSERT_NE(handler, nullptr) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(handler->getName(), "NAV_BUS");
    EXPECT_EQ(handler->getBusClockPeriod(), 2500u);
    EXPECT_EQ(handler->getXMLConfigFileName(), path);
    ASSERT_EQ(handler->messages().size(), 3u);
    EXPECT_EQ(handler->messages()[0]->getName(), "NAV_STATUS");
    EXPECT_EQ(handler->messages()[2]->getName(), "EMPTY");
    EXPECT_EQ(handler->findMessage("MISSING"), nullptr);

    ICDMessage* status = handler->findMessage("NAV_STATUS");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->getHandler(), handler.get());
    ASSERT_EQ(status->fields().size(), 4u);
    EXPECT_EQ(status->fields()[1]->getName(), "mode");
    EXPECT_EQ(status->findMessageField("nothing"), nullptr);

    ICDGenericMessageField* mode = status->findMessageField("mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->getMessage(), status);
    EXPECT_EQ(mode->getDataType(), unsigned{ICD_TYPE_USHORT});
    EXPECT_EQ(mode->valueText(), "0");
    EXPECT_EQ(status->findMessageField("spare")->getDataType(), 501u);
    EXPECT_EQ(status->findMessageField("spare")->valueText(), "None");
}

TEST(IcdFileLoading, AlwaysEnterSessionComesFromTheMessageAndDefaultsToFalse) {
    auto handler = loadHostData("nav_bus.xml");
    ASSERT_NE(handler, nullptr);
    EXPECT_FALSE(handler->findMessage("NAV_STATUS")->_alwaysEnterSession);
    EXPECT_TRUE(handler->findMessage("ENGINE")->_alwaysEnterSession);
    EXPECT_FALSE(handler->findMessage("EMPTY")->_alwaysEnterSession);
}

TEST(IcdFileLoading, InitialValuesAreParsedInTheFieldTypeAndEncodedAtOnce) {
    auto handler = loadHostData("nav_bus.xml");
    ASSERT_NE(handler, nullptr);
    ICDGenericMessageField* altitude =
        handler->findMessage("NAV_STATUS")->findMessageField("altitude");
    EXPECT_EQ(altitude->valueText(), "1250.5");
    EXPECT_EQ(altitude->getRaw(), 0x449C5000u);
    ICDGenericMessageField* label = handler->findMessage("NAV_STATUS")->findMessageField("label");
    EXPECT_EQ(label->valueText(), "\"idle\"");
    EXPECT_EQ(label->getRawText(), "idle");
    ICDMessage* engine = handler->findMessage("ENGINE");
    EXPECT_EQ(engine->findMessageField("rpm")->valueText(), "8000");
    EXPECT_EQ(engine->findMessageField("trim")->getDataType(), unsigned{ICD_TYPE_SHORT});
    EXPECT_EQ(engine->findMessageField("trim")->valueText(), "-12");
    EXPECT_EQ(engine->findMessageField("trim")->getRaw(), 0xFFF4u);
}

TEST(IcdFileLoading, TheLimitsOfEveryTypeLoad) {
    auto handler = loadHostData("all_types.xml");
    ASSERT_NE(handler, nullptr);
    ICDMessage* limits = handler->findMessage("LIMITS");
    ASSERT_NE(limits, nullptr);
    EXPECT_EQ(limits->findMessageField("bits")->valueText(), "4294967295");
    EXPECT_EQ(limits->findMessageField("short")->valueText(), "-32768");
    EXPECT_EQ(limits->findMessageField("ushort")->valueText(), "65535");
    EXPECT_EQ(limits->findMessageField("int")->valueText(), "-2147483648");
    EXPECT_EQ(limits->findMessageField("uint")->valueText(), "4294967295");
    EXPECT_EQ(limits->findMessageField("long")->valueText(), "-9223372036854775808");
    EXPECT_EQ(limits->findMessageField("ulong")->valueText(), "18446744073709551615");
    EXPECT_EQ(limits->findMessageField("longlong")->valueText(), "-9223372036854775808");
    EXPECT_EQ(limits->findMessageField("ulonglong")->valueText(), "18446744073709551615");
    EXPECT_EQ(limits->findMessageField("float")->valueText(), "-1.5e+38");
    EXPECT_EQ(limits->findMessageField("double")->valueText(), "1e+308");
    EXPECT_EQ(limits->findMessageField("string")->valueText(), "\"say \\\"hi\\\"\"");
    ICDMessage* codes = handler->findMessage("CODES");
    EXPECT_EQ(codes->findMessageField("above")->getDataType(), 514u);
    EXPECT_EQ(codes->findMessageField("huge")->getDataType(), 4294967295u);
}

TEST(IcdFileLoading, AnIcdWithoutMessagesHasTheDefaultBusClock) {
    auto handler = loadHostData("minimal.xml");
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler->getName(), "MINIMAL");
    EXPECT_EQ(handler->getBusClockPeriod(), 1000u);
    EXPECT_TRUE(handler->messages().empty());
}

TEST(IcdFileLoading, AMissingFileIsAnErrorNamingTheFile) {
    const std::string path = hostDataFile("no_such_file.xml");
    std::string error;
    EXPECT_EQ(ICDHandler::load(path, &error), nullptr);
    EXPECT_EQ(error, path + ": cannot open the file: No such file or directory");
}

TEST(IcdFileLoading, ADirectoryIsAnErrorNamingIt) {
    const std::string path = hostDataFile("");
    std::string error;
    EXPECT_EQ(ICDHandler::load(path, &error), nullptr);
    EXPECT_EQ(error, path + ": cannot read the file: Is a directory");
}

TEST(IcdFileLoading, ANullErrorPointerIsAllowed) {
    EXPECT_EQ(ICDHandler::load(hostDataFile("bad_unknown_type.xml"), nullptr), nullptr);
}

struct BadFile {
    const char* file;
    int line;
    const char* reason;
};

void PrintTo(const BadFile& bad, std::ostream* os) {
    *os << bad.file;
}

class BadIcdFile : public testing::TestWithParam<BadFile> {};

// Each bad file has good messages before its fault: a null result with one error line shows that
// nothing of it was kept.
TEST_P(BadIcdFile, GivesOneErrorLineWithFileLineAndReasonAndLoadsNothing) {
    const BadFile& bad = GetParam();
    const std::string path = hostDataFile(bad.file);
    std::string error;
    std::unique_ptr<ICDHandler> handler = ICDHandler::load(path, &error);
    EXPECT_EQ(handler, nullptr);
    EXPECT_EQ(error, path + ":" + std::to_string(bad.line) + ": " + bad.reason);
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindOfFault, BadIcdFile,
    testing::Values(
        BadFile{"bad_unclosed_tag.xml", 8, "malformed XML: Error parsing start element tag"},
        BadFile{"bad_root_element.xml", 3, "unknown element <bus>, expected <icd>"},
        BadFile{"bad_missing_icd_name.xml", 2, "missing attribute \"name\" on <icd>"},
        BadFile{"bad_missing_message_name.xml", 6, "missing attribute \"name\" on <message>"},
        BadFile{"bad_missing_field_name.xml", 7, "missing attribute \"name\" on <field>"},
        BadFile{"bad_unknown_element.xml", 7, "unknown element <signal> in <message>"},
        BadFile{"bad_unknown_attribute.xml", 7, "unknown attribute \"unit\" on <field>"},
        BadFile{"bad_text_in_message.xml", 7, "unexpected text in <message>"},
        BadFile{"bad_duplicate_attribute.xml", 7, "duplicate attribute \"name\" on <field>"},
        BadFile{"bad_empty_field_name.xml", 7, "empty attribute \"name\" on <field>"},
        BadFile{"bad_duplicate_message.xml", 6, "duplicate message name \"FIRST\""},
        BadFile{"bad_duplicate_field.xml", 8, "duplicate field name \"x\" in message \"SECOND\""},
        BadFile{"bad_unknown_type.xml", 7, "unknown type name \"int32\" of field \"x\""},
        BadFile{"bad_both_type_and_code.xml", 7, "field \"x\" has both \"type\" and \"typeCode\""},
        BadFile{"bad_neither_type_nor_code.xml", 7,
                "field \"x\" has neither \"type\" nor \"typeCode\""},
        BadFile{"bad_type_code.xml", 7, "bad typeCode \"5O3\": not an integer"},
        BadFile{"bad_value_not_a_number.xml", 7,
                "bad value \"1.5kg\" of field \"x\": not a number"},
        BadFile{"bad_value_out_of_range.xml", 7,
                "bad value \"65536\" of field \"x\": out of range for ushort"},
        BadFile{"bad_value_negative_unsigned.xml", 7,
                "bad value \"-1\" of field \"x\": out of range for uint"},
        BadFile{"bad_value_on_codeless_field.xml", 7,
                "bad value \"1\" of field \"x\": type code 501 holds no value"},
        BadFile{"bad_boolean.xml", 6,
                "bad alwaysEnterSession \"yes\": expected true, false, 1 or 0"},
        BadFile{"bad_bus_clock.xml", 2,
                "bad busClockPeriod \"4294967296\": out of range for unsigned 32-bit"}),
    [](const testing::TestParamInfo<BadFile>& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        return name;
    });

}  // namespace
