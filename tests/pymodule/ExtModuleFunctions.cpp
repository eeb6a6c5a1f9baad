// Module proxyplugin_ext beside proxyplugin: made in every plug-in's interpreter without changing
// proxyplugin, its functions on proxyplugin's identifier and handler-key rules and error lines,
// a field's value read without an encoder, and the callable that receives each event's data.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "pymodule/ProxyPluginExtModule.h"
#include "tests/plugin/ScriptedPluginSupport.h"

using plugintest::ScriptedPlugin;

namespace {

#define WRONG_ARGS "AttributeError: wrong args: must be "

const std::string kStubDir = std::string(PPP_EXAMPLES_DIR) + "/../pymodule/";

// A plug-in on bridge.xml, whose fields cover every value type; binds `ext` too.
struct ExtPlugin : ScriptedPlugin {
    ExtPlugin()
        : ScriptedPlugin(plugintest::dataPath("names.py"),
                         testfiles::loadHandler(testfiles::dataPath("bridge", "bridge.xml"))) {
        EXPECT_TRUE(run("import proxyplugin_ext as ext"));
    }
};

TEST(ExtModule, EachPluginImportsItsOwnBesideProxypluginWhichKeepsItsTwentyOneFunctions) {
    ExtPlugin mine, theirs;
    const std::string functions =
        "sorted(n for n in dir(MODULE) if type(getattr(MODULE, n)).__name__ == "
        "'builtin_function_or_method')";
    const std::string pp = mine.text(std::regex_replace(functions, std::regex("MODULE"), "pp"));
    EXPECT_EQ(std::count(pp.begin(), pp.end(), ','), 20) << pp;
    EXPECT_EQ(mine.text(std::regex_replace(functions, std::regex("MODULE"), "ext")),
              "['getAsUInt', 'setConsumeICDEventDataCallback']");
    // Each interpreter has its module object; the plug-in's import yields the registered one.
    EXPECT_EQ(mine.text("__import__('sys').modules['proxyplugin_ext'] is ext"), "True");
    EXPECT_NE(mine.text("id(ext)"), theirs.text("id(ext)"));
}

// The stub's functions, in table order, each docstring starting with the function's own
// documentation; its constants with the values the module publishes.
TEST(ExtModule, TheStubMatchesTheMethodTableAndTheConstantsOfTheModule) {
    std::string table, stub;
    for (PyMethodDef* entry = ProxyPluginExtModule_methods(); entry->ml_name != nullptr; ++entry) {
        table += std::string(entry->ml_name) + ": " + entry->ml_doc + "\n";
    }
    const std::string text = testfiles::readFile(kStubDir + "proxyplugin_ext.pyi");
    const std::regex def("\ndef (\\w+)\\([\\s\\S]*?\n    \"\"\"([^\n\"]*)");
    for (std::sregex_iterator it(text.begin(), text.end(), def), end; it != end; ++it) {
        stub += (*it)[1].str() + ": " + (*it)[2].str() + "\n";
    }
    EXPECT_EQ(stub, table);

    ExtPlugin plugin;
    std::string published, typed;
    const std::regex constant("\n([A-Z_]+): Final = (-?[0-9]+)");
    for (std::sregex_iterator it(text.begin(), text.end(), constant), end; it != end; ++it) {
        typed += (*it)[1].str() + "=" + (*it)[2].str() + " ";
        published += (*it)[1].str() + "=" + plugin.text("ext." + (*it)[1].str()) + " ";
    }
    EXPECT_EQ(published, typed);
    // proxyplugin.pyi, whose module has no such names, lists the same numbers as values.
    std::string listed;
    const std::string other = testfiles::readFile(kStubDir + "proxyplugin.pyi");
    const std::regex value("\\b([0-9]+) ((BUTTONS|ICON|ANSWER)_[A-Z_]+)");
    for (std::sregex_iterator it(other.begin(), other.end(), value), end; it != end; ++it) {
        listed += (*it)[2].str() + "=" + (*it)[1].str() + " ";
    }
    EXPECT_EQ(listed, typed);
    // Every int the module publishes is in the stub.
    EXPECT_EQ(plugin.text("len([n for n in dir(ext) if isinstance(getattr(ext, n), int)])"),
              std::to_string(std::count(typed.begin(), typed.end(), ' ')));
}

TEST(ExtModule, RefusedCallsPrintTheReportsOfModuleProxypluginAndGiveNone) {
    const std::pair<const char*, const char*> rows[] = {
        {"getAsUInt(ID, KEY, 'COMMAND')", WRONG_ARGS "msg,field [string,string]\n"},
        {"getAsUInt(ID, KEY, 'COMMAND', 5)", WRONG_ARGS "msg,field [string,string]\n"},
        {"getAsUInt('x', KEY, 'COMMAND', 'mode')", "RuntimeError: no proxyinterface found\n"},
        {"getAsUInt(ID, ID, 'COMMAND', 'mode')", "RuntimeError: no proxyHandlderinterface found\n"},
        {"setConsumeICDEventDataCallback(ID, KEY)", "TypeError: setConsumeICDEventDataCallback()"},
        {"setConsumeICDEventDataCallback(ID[:-1], KEY, print)",
         "RuntimeError: no proxyinterface found\n"},
        {"setConsumeICDEventDataCallback(ID, 'ffff', print)",
         "RuntimeError: no proxyHandlderinterface found\n"},
        {"setConsumeICDEventDataCallback(ID, KEY, 5)",
         "ReferenceError: Object passed as argument is not a callable one\n"
         " Failed to setCallbackByRef. 0x"},
    };
    ExtPlugin script;
    for (const auto& [call, report] : rows) {
        CaptureOutput capture;
        const bool none = script.run(std::string("r = ext.") + call + "\nassert r is None");
        const std::string err = capture.err(), expected = report;
        const bool whole = expected.back() == '\n';
        EXPECT_TRUE(none) << call << "\n" << err;
        EXPECT_EQ(whole ? err : err.substr(0, expected.size()), expected) << call;
    }
}

TEST(ExtModule, GetAsUIntGivesAnIntegerFieldsValueWithoutAnEncoderOrNone) {
    ExtPlugin script;
    ASSERT_TRUE(script.run(R"(
class Spy:
    calls = []
    def encode(self, value):
        Spy.calls.append(value)
        return value
    def decode(self, raw):
        Spy.calls.append(raw)
        return raw
assert pp.setEncodingFrom(ID, KEY, 'COMMAND', 'mode', Spy())
)"));
    ICDGenericMessageField* mode = script.handler->findMessage("COMMAND")->findMessageField("mode");
    ASSERT_TRUE(mode->setValue(ICDGenericMessageField::Value(4294967295u)));
    ASSERT_TRUE(script.run("Spy.calls.clear()"));
    // An unsigned 32-bit value, and None for everything the host's getAsUInt refuses.
    EXPECT_EQ(script.text("[ext.getAsUInt(ID, KEY, 'COMMAND', f) for f in "
                          "('mode', 'offset', 'huge', 'label', 'no_such')]"),
              "[4294967295, None, None, None, None]");
    EXPECT_EQ(script.text("[ext.getAsUInt(ID, KEY, 'TYPES', f) for f in "
                          "('bits', 'short', 'ushort', 'int', 'ulonglong', 'float', 'double')]"),
              "[0, 0, 0, 0, 0, None, None]");
    EXPECT_EQ(script.text("ext.getAsUInt(ID, KEY, 'NO_SUCH', 'mode')"), "None");
    EXPECT_EQ(script.text("Spy.calls"), "[]");

    // The script owns the one reference to a result (a fresh int: well above the small ints).
    PySession::Use use(script.plugin->getSession());
    PyRef function = PyRef::steal(PyObject_GetAttrString(script.value("ext").get(), "getAsUInt"));
    PyRef args = script.value("(ID, KEY, 'COMMAND', 'mode')");
    PyRef result = PyRef::steal(PyObject_CallObject(function.get(), args.get()));
    ASSERT_TRUE(result);
    EXPECT_FALSE(PyErr_Occurred());
    EXPECT_EQ(PyLong_AsUnsignedLong(result.get()), 4294967295ul);
    EXPECT_EQ(Py_REFCNT(result.get()), 1);
}

// The bridge holds one reference to its data callable: registering it takes one, registering it
// again takes none, replacing it gives the old one's back. A refused object changes nothing.
TEST(ExtModule, TheDataCallableIsHeldByOneReference) {
    ExtPlugin script;
    CaptureOutput quiet;  // the refused object's report
    ASSERT_TRUE(script.run(R"(
import sys
def first(event, data): pass
def second(event, data): pass
counts = [sys.getrefcount(first)]
ext.setConsumeICDEventDataCallback(ID, KEY, first)
counts.append(sys.getrefcount(first))
ext.setConsumeICDEventDataCallback(ID, KEY, first)
counts.append(sys.getrefcount(first))
ext.setConsumeICDEventDataCallback(ID, KEY, 'not callable')
counts.append(sys.getrefcount(first))
ext.setConsumeICDEventDataCallback(ID, KEY, second)
counts.append(sys.getrefcount(first))
counts = [c - counts[0] for c in counts]
)"));
    EXPECT_EQ(script.text("counts"), "[0, 1, 1, 1, 0]");
}

}  // namespace
