#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "HostTestSupport.h"

namespace {

TEST(IcdFileLoading, GoodFilesGiveTheirMessagesFieldsAndEncodedInitialValues) {
    std::string error;
    auto handler = ICDHandler::load(hostDataFile("nav_bus.xml"), &error);
    ASSERT_NE(handler, nullptr) << error;
    EXPECT_EQ(handler->getName() + " " + std::to_string(handler->getBusClockPeriod()),
              "NAV_BUS 2500");
    ASSERT_EQ(handler->messages().size(), 3u);
    ICDMessage* status = handler->messages()[0];
    ICDMessage* engine = handler->findMessage("ENGINE");
    ASSERT_EQ(status->fields().size(), 4u);
    EXPECT_EQ(std::make_tuple(status->_alwaysEnterSession, engine->_alwaysEnterSession),
              std::make_tuple(false, true));
    EXPECT_EQ(status->findMessageField("altitude")->getRaw(), 0x449C5000u);
    EXPECT_EQ(status->findMessageField("label")->getRawText(), "idle");
    EXPECT_EQ(engine->findMessageField("rpm")->valueText(), "8000");
    EXPECT_EQ(engine->findMessageField("trim")->getRaw(), 0xFFF4u);
    auto minimal = ICDHandler::load(hostDataFile("minimal.xml"), &error);
    ASSERT_NE(minimal, nullptr) << error;
    EXPECT_EQ(minimal->getBusClockPeriod(), 1000u) << "the default bus clock";
}

// Each bad file has good messages before its fault: a null result with one error line shows that
// nothing of it was kept.
TEST(IcdFileLoading, EachKindOfBadFileGivesOneErrorLineWithFileLineAndReasonAndLoadsNothing) {
    const struct {
        const char* file;
        int line;
        const char* reason;
    } bad[] = {
        {"bad_unclosed_tag.xml", 8, "malformed XML: Error parsing start element tag"},
        {"bad_root_element.xml", 3, "unknown element <bus>, expected <icd>"},
        {"bad_missing_icd_name.xml", 2, "missing attribute \"name\" on <icd>"},
        {"bad_unknown_element.xml", 7, "unknown element <signal> in <message>"},
        {"bad_unknown_attribute.xml", 7, "unknown attribute \"unit\" on <field>"},
        {"bad_text_in_message.xml", 7, "unexpected text in <message>"},
        {"bad_duplicate_attribute.xml", 7, "duplicate attribute \"name\" on <field>"},
        {"bad_empty_field_name.xml", 7, "empty attribute \"name\" on <field>"},
        {"bad_duplicate_message.xml", 6, "duplicate message name \"FIRST\""},
        {"bad_duplicate_field.xml", 8, "duplicate field name \"x\" in message \"SECOND\""},
        {"bad_unknown_type.xml", 7, "unknown type name \"int32\" of field \"x\""},
        {"bad_both_type_and_code.xml", 7, "field \"x\" has both \"type\" and \"typeCode\""},
        {"bad_neither_type_nor_code.xml", 7, "field \"x\" has neither \"type\" nor \"typeCode\""},
        {"bad_type_code.xml", 7, "bad typeCode \"5O3\": not an integer"},
        {"bad_value_not_a_number.xml", 7, "bad value \"1.5kg\" of field \"x\": not a number"},
        {"bad_value_out_of_range.xml", 7,
         "bad value \"65536\" of field \"x\": out of range for ushort"},
        {"bad_value_on_codeless_field.xml", 7,
         "bad value \"1\" of field \"x\": type code 501 holds no value"},
        {"bad_boolean.xml", 6, "bad alwaysEnterSession \"yes\": expected true, false, 1 or 0"},
        {"bad_bus_clock.xml", 2,
         "bad busClockPeriod \"4294967296\": out of range for unsigned 32-bit"}};
    for (const auto& [file, line, reason] : bad) {
        const std::string path = hostDataFile(file);
        std::string error;
        EXPECT_EQ(ICDHandler::load(path, &error), nullptr) << file;
        EXPECT_EQ(error, path + ":" + std::to_string(line) + ": " + reason);
    }
    const std::string missing = hostDataFile("no_such_file.xml");
    std::string error;
    EXPECT_EQ(ICDHandler::load(missing, &error), nullptr);
    EXPECT_EQ(error, missing + ": cannot open the file: No such file or directory");
}

}  // namespace
