// Installing a script's object as the encoder of a field: the transcoder follows the field's
// value-type code, and every outcome is one exact line.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureOutput.h"
#include "ICDHandler.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "tests/bridge/PluginSessions.h"

namespace {

const char* const kEncoderScript = R"(
class Plus:
    """encode adds one to the raw word; decode takes it off."""
    def encode(self, value):
        return int(value) + 1
    def decode(self, raw):
        return raw - 1
class Named(Plus):
    name = "Probe"
class Shout:
    def encode(self, value):
        return value.upper()
    def decode(self, raw):
        return raw.lower()
plus = Plus()
named = Named()
shout = Shout()
)";

class EncoderAssignment : public ::testing::Test {
protected:
    void SetUp() override {
        session = plugin_sessions::sessionA();
        std::string error;
        handler = ICDHandler::load(PPP_TEST_DATA_DIR "/bridge/bridge.xml", &error);
        ASSERT_TRUE(handler) << error;
        ASSERT_TRUE(plugin_sessions::run(session, kEncoderScript));
        bridge = std::make_unique<ProxyPluginPyHandlerInterface>(handler.get(), session);
        bridge->init();
    }
    void TearDown() override {
        bridge.reset();
        ProxyPythonPlugin::glob_python_driver_set.erase(handler.get());
    }

    // setEncodingFrom with the named global of the session as encoder, the session held as a
    // module function holds it; its result as "True" or "False". Nothing is asserted here: the
    // callers capture the output while they call it.
    std::string assign(const std::string& message, const std::string& field, const char* encoder) {
        PySession::Use use(session);
        PyObject* object = std::string(encoder) == "None"
                               ? Py_None
                               : PyDict_GetItemString(session->globals(), encoder);  // borrowed
        PyRef result = PyRef::steal(bridge->setEncodingFrom(message, field, object));
        if (PyErr_Occurred() != nullptr) {
            PyErr_Clear();
            return "error pending";
        }
        return result.get() == Py_True ? "True" : result.get() == Py_False ? "False" : "?";
    }
    // assign() with standard output and standard error captured.
    struct Outcome {
        std::string result;
        std::string out;
        std::string err;
    };
    Outcome captured(const std::string& message, const std::string& field, const char* encoder) {
        CaptureOutput output;
        Outcome outcome;
        outcome.result = assign(message, field, encoder);
        outcome.out = output.out();
        outcome.err = output.err();
        return outcome;
    }
    Py_ssize_t refcount(const char* name) {
        PySession::Use use(session);
        return Py_REFCNT(PyDict_GetItemString(session->globals(), name));
    }
    ICDGenericMessageField* field(const char* message, const char* name) {
        return handler->findMessage(message)->findMessageField(name);
    }

    PySession* session = nullptr;
    std::unique_ptr<ICDHandler> handler;
    std::unique_ptr<ProxyPluginPyHandlerInterface> bridge;
};

TEST_F(EncoderAssignment, EveryNumericCodeGetsATranscoderThatConvertsThroughPython) {
    // The host accepts a transcoder only through the overload of the field's own value type, so
    // acceptance shows the type chosen (bits and uint both take the unsigned int one).
    for (const char* name : {"bits", "short", "ushort", "int", "uint", "long", "ulong", "longlong",
                             "ulonglong", "float", "double"}) {
        const Outcome outcome = captured("TYPES", name, "plus");
        EXPECT_EQ(outcome.result, "True") << name;
        EXPECT_EQ(outcome.out, std::string("INFO:: Encoder 'ProxyPluginPyTranscoder' on field '") +
                                   name + "' applied properly\n");
        EXPECT_EQ(outcome.err, "");
        ICDGenericMessageField* target = field("TYPES", name);
        std::string parseError;
        ASSERT_TRUE(target->setValueFromText("41", &parseError)) << parseError;
        EXPECT_TRUE(target->encode()) << name;
        EXPECT_EQ(target->getRaw(), 42u) << name;
        EXPECT_TRUE(target->decode(10, false)) << name;
        EXPECT_EQ(target->valueText(), "9") << name;
    }
}

TEST_F(EncoderAssignment, TextFieldsGetTheStringTranscoder) {
    const Outcome outcome = captured("TYPES", "string", "shout");
    EXPECT_EQ(outcome.result, "True");
    EXPECT_EQ(
        outcome.out,
        "INFO:: Encoder 'ProxyPluginPyStringTranscoder' on field 'string' applied properly\n");
    ICDGenericMessageField* target = field("TYPES", "string");
    EXPECT_TRUE(target->encode());
    EXPECT_EQ(target->getRawText(), "IDLE");
}

TEST_F(EncoderAssignment, AssigningAgainReplacesTheEncoderWhichANameAttributeNames) {
    EXPECT_EQ(assign("TYPES", "int", "plus"), "True");
    const Outcome outcome = captured("TYPES", "int", "named");
    EXPECT_EQ(outcome.result, "True");
    EXPECT_EQ(outcome.out, "INFO:: Encoder 'Probe' on field 'int' applied properly\n");
    EXPECT_EQ(field("TYPES", "int")->getEncoderName(), "Probe");
}

TEST_F(EncoderAssignment, CodesWithoutATranscoderFailNamingTheCurrentEncoderAndBuildNothing) {
    const Py_ssize_t before = refcount("plus");
    const Outcome spare = captured("TYPES", "spare", "plus");
    const Outcome future = captured("TYPES", "future", "plus");
    EXPECT_EQ(spare.result, "False");
    EXPECT_EQ(spare.out, "ERROR:: Encoder 'default' on field 'spare' failed\n");
    EXPECT_EQ(future.result, "False");
    EXPECT_EQ(future.out, "ERROR:: Encoder 'default' on field 'future' failed\n");
    EXPECT_EQ(spare.err + future.err, "");
    EXPECT_EQ(refcount("plus"), before);
}

TEST_F(EncoderAssignment, ANoneEncoderIsInstalledAndFailsEveryConversion) {
    const Outcome outcome = captured("TYPES", "int", "None");
    EXPECT_EQ(outcome.result, "True");
    EXPECT_EQ(outcome.out,
              "INFO:: Encoder 'ProxyPluginPyTranscoder' on field 'int' applied properly\n");
    EXPECT_FALSE(field("TYPES", "int")->encode());
    EXPECT_FALSE(field("TYPES", "int")->decode(1, false));
}

TEST_F(EncoderAssignment, AMissingMessageWritesOnlyItsOwnLineWhateverTheDriverSet) {
    ProxyPythonPlugin::glob_python_driver_set.insert(handler.get());
    const Outcome outcome = captured("NO_SUCH", "int", "plus");
    EXPECT_EQ(outcome.result, "False");
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "setEncoding Error::No Message named NO_SUCH\n");
}

TEST_F(EncoderAssignment, AMissingFieldIsReportedAfterTheDriverLine) {
    ProxyPythonPlugin::glob_python_driver_set.insert(handler.get());
    const Outcome outcome = captured("TYPES", "no_such", "plus");
    EXPECT_EQ(outcome.result, "False");
    EXPECT_EQ(outcome.out, "INFO:: Using Python Encoder within a Python Bus Driver\n");
    EXPECT_EQ(outcome.err, "setEncoding Error::No Field named no_such in Message named TYPES\n");
}

TEST_F(EncoderAssignment, ADriverHandlersFieldIsAnnouncedThenInstalled) {
    ProxyPythonPlugin::glob_python_driver_set.insert(handler.get());
    const Outcome outcome = captured("TYPES", "int", "plus");
    EXPECT_EQ(outcome.result, "True");
    EXPECT_EQ(outcome.out,
              "INFO:: Using Python Encoder within a Python Bus Driver\n"
              "INFO:: Encoder 'ProxyPluginPyTranscoder' on field 'int' applied properly\n");
}

TEST_F(EncoderAssignment, WithoutAHandlerNothingIsAssignedOrPrinted) {
    bridge = std::make_unique<ProxyPluginPyHandlerInterface>(nullptr, session);
    const Outcome outcome = captured("TYPES", "int", "plus");
    EXPECT_EQ(outcome.result, "False");
    EXPECT_EQ(outcome.out + outcome.err, "");
}

}  // namespace
