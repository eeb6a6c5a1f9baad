// Installing a script's object as the encoder of a field: the transcoder follows the field's
// value-type code, and every outcome is one exact line.
#include "tests/bridge/BridgeFixture.h"
#include "tests/support/CaptureOutput.h"

namespace {

class EncoderAssignment : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        ASSERT_TRUE(session->eval(R"(
class Plus: encode = lambda self, value: int(value) + 1; decode = lambda self, raw: raw - 1
class Named(Plus): name = "Probe"
class Shout: encode = lambda self, value: value.upper(); decode = lambda self, raw: raw.lower()
)"));
    }
    // "result|standard output|standard error" of setEncodingFrom with a new object of class
    // `encoder`; " kept" follows a refusal that kept a reference to the object.
    std::string assign(const char* message, const char* name, const char* encoder) {
        CaptureOutput output;
        Py_ssize_t kept = 0;
        const std::string result = call([&] {
            PyRef object = PyRef::steal(PyObject_CallObject(global(encoder), nullptr));
            PyObject* done = bridge->setEncodingFrom(message, name, object.get());
            kept = Py_REFCNT(object.get()) - 1;
            return done;
        });
        return result + (result == "False" && kept != 0 ? " kept|" : "|") + output.out() + "|" +
               output.err();
    }
    std::string applied(const std::string& encoder, const std::string& name) {
        return "INFO:: Encoder '" + encoder + "' on field '" + name + "' applied properly\n";
    }
};

// The host takes a transcoder only of the field's own value type: acceptance shows the type
// chosen (bits and uint both take the unsigned int one).
TEST_F(EncoderAssignment, EveryValueTypeCodeGetsATranscoderConvertingThroughPython) {
    for (const char* name : {"bits", "short", "ushort", "int", "uint", "long", "ulong", "longlong",
                             "ulonglong", "float", "double"}) {
        EXPECT_EQ(assign("TYPES", name, "Plus"),
                  "True|" + applied("ProxyPluginPyTranscoder", name) + "|");
        ICDGenericMessageField* target = field("TYPES", name);
        ASSERT_TRUE(target->setValueFromText("41", nullptr)) << name;
        EXPECT_TRUE(target->encode() && target->getRaw() == 42u) << name;
        EXPECT_TRUE(target->decode(10, false)) << name;
        EXPECT_EQ(target->valueText(), "9") << name;
    }
    EXPECT_EQ(assign("TYPES", "string", "Shout"),
              "True|" + applied("ProxyPluginPyStringTranscoder", "string") + "|");
    EXPECT_TRUE(field("TYPES", "string")->encode());
    EXPECT_EQ(field("TYPES", "string")->getRawText(), "IDLE");
    EXPECT_EQ(assign("TYPES", "int", "Named"), "True|" + applied("Probe", "int") + "|");
    for (const char* name : {"spare", "future"}) {
        EXPECT_EQ(assign("TYPES", name, "Plus"),
                  std::string("False|ERROR:: Encoder 'default' on field '") + name + "' failed\n|");
    }
}

TEST_F(EncoderAssignment, APythonDriversHandlerAnnouncesTheEncoderUnlessTheMessageIsMissing) {
    ProxyPythonPlugin::glob_python_driver_set.insert(handler.get());
    const std::string driverLine = "INFO:: Using Python Encoder within a Python Bus Driver\n";
    EXPECT_EQ(assign("NO_SUCH", "int", "Plus"),
              "False||setEncoding Error::No Message named NO_SUCH\n");
    EXPECT_EQ(assign("TYPES", "no_such", "Plus"),
              "False|" + driverLine +
                  "|setEncoding Error::No Field named no_such in Message named TYPES\n");
    EXPECT_EQ(assign("TYPES", "int", "Plus"),
              "True|" + driverLine + applied("ProxyPluginPyTranscoder", "int") + "|");
}

}  // namespace
