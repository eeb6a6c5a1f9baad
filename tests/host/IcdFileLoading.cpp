#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>

#include "HostTestSupport.h"

namespace {

TEST(IcdFileLoading, GoodFilesGiveTheirMessagesFieldsAndEncodedInitialValues) {
    std::string error;
    auto handler = ICDHandler::load(PPP_TEST_DATA_DIR "/host/nav_bus.xml", &error);
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
    auto minimal = ICDHandler::load(PPP_TEST_DATA_DIR "/host/minimal.xml", &error);
    ASSERT_NE(minimal, nullptr) << error;
    EXPECT_EQ(minimal->getBusClockPeriod(), 1000u) << "the default bus clock";
}

// Each row is line 3 of a file whose line 2 is a good message: a null result shows that nothing
// of the file was kept.
TEST(IcdFileLoading, EachKindOfBadFileGivesOneErrorLineWithFileLineAndReasonAndLoadsNothing) {
    const struct {
        const char* line3;
        const char* error;
    } bad[] = {
        {"<field name=\"y\" type=\"int\"", "4: malformed XML: Error parsing start element tag"},
        {"<field type=\"int\"/>", "3: missing attribute \"name\" on <field>"},
        {"<signal name=\"y\"/>", "3: unknown element <signal> in <message>"},
        {"<field name=\"y\" type=\"int\" unit=\"m\"/>", "3: unknown attribute \"unit\" on <field>"},
        {"</message><message name=\"M\">", "3: duplicate message name \"M\""},
        {"<field name=\"y\" type=\"int\"/><field name=\"y\" type=\"uint\"/>",
         "3: duplicate field name \"y\" in message \"N\""},
        {"<field name=\"y\" type=\"int32\"/>", "3: unknown type name \"int32\" of field \"y\""},
        {"<field name=\"y\" type=\"int\" typeCode=\"505\"/>",
         "3: field \"y\" has both \"type\" and \"typeCode\""},
        {"<field name=\"y\" value=\"3\"/>", "3: field \"y\" has neither \"type\" nor \"typeCode\""},
        {"<field name=\"y\" type=\"double\" value=\"1.5kg\"/>",
         "3: bad value \"1.5kg\" of field \"y\": not a number"},
        {"<field name=\"y\" type=\"ushort\" value=\"65536\"/>",
         "3: bad value \"65536\" of field \"y\": out of range for ushort"},
        {"</message><message name=\"P\" alwaysEnterSession=\"yes\">",
         "3: bad alwaysEnterSession \"yes\": expected true, false, 1 or 0"}};
    const std::string path = testing::TempDir() + "bad_icd_" + std::to_string(getpid()) + ".xml";
    for (const auto& [line3, reason] : bad) {
        std::ofstream(path) << "<icd name=\"BAD\">\n<message name=\"M\"><field name=\"x\" "
                               "type=\"int\" value=\"1\"/></message>\n<message name=\"N\">"
                            << line3 << "\n</message></icd>\n";
        std::string error;
        EXPECT_EQ(ICDHandler::load(path, &error), nullptr) << line3;
        EXPECT_EQ(error, path + ":" + reason);
    }
    std::remove(path.c_str());
    std::string error;
    EXPECT_EQ(ICDHandler::load(path, &error), nullptr);
    EXPECT_EQ(error, path + ": cannot open the file: No such file or directory");
}

}  // namespace
