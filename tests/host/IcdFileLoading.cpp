#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>

#include "tests/host/HostTestSupport.h"
#include "tests/support/TestFiles.h"

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
    // A folder opens, but reading it fails.
    const std::string folder = testing::TempDir();
    EXPECT_EQ(ICDHandler::load(folder, &error), nullptr);
    EXPECT_EQ(error, folder + ": cannot read the file: Is a directory");
}

// Files that are not XML although a lenient parser takes them, and names a script or icdhost's
// MSG.FIELD could not tell apart or print safely. Each row is a whole file and the error after
// "FILE:"; control characters in the error are escaped.
TEST(IcdFileLoading, FilesThatAreNotXmlOrHoldUnusableNamesAreRefusedOnTheLineAtFault) {
    const std::string head = "<icd name=\"BAD\">\n<message name=\"M\">\n";
    const std::string tail = "</message>\n</icd>\n";
    const std::string good = head + "<field name=\"x\" type=\"int\"/>\n" + tail;
    const struct {
        std::string file;
        std::string error;
    } bad[] = {
        {head + "<field name=\"a<b\" type=\"int\"/>\n" + tail,
         "3: malformed XML: not well-formed (invalid token) at \"<\""},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + head +
             "<field name=\"caf\xe9\" type=\"int\"/>\n" + tail,
         "4: malformed XML: not UTF-8 (byte 0xE9)"},
        {head + "<field name=\"a\xc0\xaf\" type=\"int\"/>\n" + tail,
         "3: malformed XML: not UTF-8 (byte 0xC0)"},
        {head + "<field name=\"a\xed\xa0\x80\" type=\"int\"/>\n" + tail,
         "3: malformed XML: not UTF-8 (byte 0xED)"},
        {head + "<field\nname=\"a&#xD800;\" type=\"int\"/>\n" + tail,
         "4: malformed XML: reference to invalid character number \"&#xD800;\""},
        {head + "<field name=\"x\" type=\"string\"\nvalue=\"cut&#0;here\"/>\n" + tail,
         "4: malformed XML: reference to invalid character number \"&#0;\""},
        {head + "<field name=\"x\" type=\"string\"\nvalue=\"a&bogus;b\"/>\n" + tail,
         "4: malformed XML: undefined entity \"&bogus;\""},
        {"<!DOCTYPE icd [<!ENTITY e \"E\">]>\n" + head + "<field name=\"&e;\" type=\"int\"/>\n" +
             tail,
         "1: a document type declaration (<!DOCTYPE ...>) is not allowed"},
        {good + "trailing text\n", "6: malformed XML: junk after document element"},
        {good + std::string("\0", 1), "6: malformed XML: a NUL byte"},
        {good + "<?xml version=\"1.0\"?>\n", "6: malformed XML: junk after document element"},
        {head + "<field name=\"a&#9;b\" type=\"int\"/>\n" + tail,
         "3: name \"a\\tb\" of <field> holds a control character"},
        {head + "<field name=\"a&#x7F;[2J\" type=\"int\"/>\n" + tail,
         "3: name \"a\\x7f[2J\" of <field> holds a control character"},
        {"<icd name=\"BAD\">\n<message name=\"next\xc2\x85line\"/>\n</icd>\n",
         "2: name \"next\\u0085line\" of <message> holds a control character"},
        {"<icd name=\"&#13;BAD\"/>\n", "1: name \"\\rBAD\" of <icd> holds a control character"},
        {head + "<field name=\" x\" type=\"int\"/>\n" + tail,
         "3: name \" x\" of <field> begins or ends with a blank"},
        {head + "<field name=\"x\t\" type=\"int\"/>\n" + tail,
         "3: name \"x \" of <field> begins or ends with a blank"},
        {"<icd name=\"BAD\xc2\xa0\"/>\n",
         "1: name \"BAD\xc2\xa0\" of <icd> begins or ends with a blank"},
        {"<icd name=\"BAD\">\n<message name=\"A.B\"/>\n</icd>\n",
         "2: name \"A.B\" of <message> holds \".\", which separates message and field names"},
        {head + "<field name=\"B.C\" type=\"int\"/>\n" + tail,
         "3: name \"B.C\" of <field> holds \".\", which separates message and field names"},
        {head + "<field name=\"\x1b[2J\" type=\"int\"/>\n" + tail,
         "3: malformed XML: not well-formed (invalid token) at \"\\x1b\""},
    };
    testfiles::ScratchDir dir;
    for (const auto& [file, reason] : bad) {
        const std::string path = dir.write("bad.xml", file);
        std::string error;
        EXPECT_EQ(ICDHandler::load(path, &error), nullptr) << file;
        EXPECT_EQ(error, path + ":" + reason);
    }
    // The path as given, escaped too.
    std::string error;
    EXPECT_EQ(ICDHandler::load(dir.path() + "no\x1b[31mfile.xml", &error), nullptr);
    EXPECT_EQ(error,
              dir.path() + "no\\x1b[31mfile.xml: cannot open the file: No such file or directory");
}

TEST(IcdFileLoading, NamesMayHoldAnyOtherTextAndTheIcdNameADot) {
    testfiles::ScratchDir dir;
    const std::string path = dir.write(
        "good.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- a comment -->\n"
        "<icd name=\"nav.bus 2\">\n<message name=\"H\xc3\xb6he &amp; Lage\">\n"
        "<field name=\"x&#x1F600;y\" type=\"string\" value=\"tab&#9;&lt;cr&#13;\xc2\x85\"/>\n"
        "</message>\n</icd>\n<!-- after -->\n");
    std::string error;
    auto handler = ICDHandler::load(path, &error);
    ASSERT_NE(handler, nullptr) << error;
    EXPECT_EQ(handler->getName(), "nav.bus 2");
    ICDMessage* message = handler->findMessage("H\xc3\xb6he & Lage");
    ASSERT_NE(message, nullptr);
    ICDGenericMessageField* field = message->findMessageField("x\xf0\x9f\x98\x80y");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->getRawText(), "tab\t<cr\r\xc2\x85");
}

}  // namespace
