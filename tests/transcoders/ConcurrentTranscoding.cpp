// Host threads encode and decode fields of two plug-ins (two sub-interpreters) while both scripts'
// event callables run, a thread holding one session transcodes the other session's fields, and a
// Python bus driver's thread transcodes from inside its session: nothing deadlocks and every
// result is the one the right interpreter computes.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ICDHandler.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Watchdog.h"
#include "tests/transcoders/TranscoderFixture.h"

using namespace std::chrono_literals;

namespace {

// The factor is the running interpreter's tag plus one (2 in plug-in A, 3 in B): a result
// computed in the wrong sub-interpreter is wrong.
const char* const kPluginScript = R"(
factor = lambda: __import__('sys').interp_tag + 1
class Scaler: encode = lambda self, v: v * factor(); decode = lambda self, raw: raw // factor()
class Upper: encode = lambda self, v: v.upper(); decode = lambda self, raw: raw.lower()
scaler, upper, events = Scaler(), Upper(), []
on_event = events.append
)";

struct Plugin {
    PySession* session;
    unsigned long long factor;
    std::unique_ptr<ICDHandler> handler;
    std::unique_ptr<ProxyPluginPyHandlerInterface> bridge;
};

// Encodes and decodes fields n<index> and, with `text`, s<index>; empty when both gave what
// `plugin` computes, else what went wrong.
std::string check(Plugin& plugin, int index, int value, bool text) {
    ICDMessage* work = plugin.handler->findMessage("WORK");
    ICDGenericMessageField* n = work->findMessageField("n" + std::to_string(index));
    ICDGenericMessageField* s = work->findMessageField("s" + std::to_string(index));
    const std::string word = "v" + std::to_string(value);
    const bool ok = n->setValue(ICDGenericMessageField::Value(value)) && n->encode() &&
                    n->getRaw() == value * plugin.factor && n->decode(n->getRaw() + 1, false) &&
                    std::get<int>(n->getValue()) == value &&
                    (!text || (s->setValue(ICDGenericMessageField::Value(word)) && s->encode() &&
                               s->getRawText() == "V" + word.substr(1) && s->decodeText("RAW") &&
                               std::get<std::string>(s->getValue()) == "raw"));
    return ok ? "" : "field " + std::to_string(index) + " value " + std::to_string(value) + "; ";
}

class ConcurrentTranscoding : public ::testing::Test {
protected:
    void SetUp() override {
        CaptureOutput quiet;
        for (int i = 0; i < 2; ++i) {
            Plugin& plugin = i == 0 ? a : b;
            plugin.session = plugin_sessions::session(i);
            plugin.factor = i + 2;
            std::string error;
            plugin.handler =
                ICDHandler::load(PPP_TEST_DATA_DIR "/transcoders/concurrency.xml", &error);
            ASSERT_TRUE(plugin.handler) << error;
            // Plug-in A drives its bus from Python: its transcoders call Python directly when its
            // own session's code asks for them.
            if (i == 0) {
                ProxyPythonPlugin::glob_python_driver_set.insert(a.handler.get());
            }
            ASSERT_TRUE(plugin.session->eval(
                "import sys\nsys.interp_tag = " + std::to_string(i + 1) + kPluginScript));
            plugin.bridge = std::make_unique<ProxyPluginPyHandlerInterface>(plugin.handler.get(),
                                                                            plugin.session);
            PySession::Use use(plugin.session);
            auto global = [&](const char* name) {
                return plugin_sessions::global(plugin.session, name);
            };
            PyRef previous = PyRef::steal(plugin.bridge->setOnConsumeICDEvent(global("on_event")));
            for (int n = 0; n <= 5; ++n) {
                PyRef number = PyRef::steal(plugin.bridge->setEncodingFrom(
                    "WORK", "n" + std::to_string(n), global("scaler")));
                PyRef text = PyRef::steal(plugin.bridge->setEncodingFrom(
                    "WORK", "s" + std::to_string(n), global("upper")));
                installed += (number.get() == Py_True) + (text.get() == Py_True);
            }
            plugin.bridge->init();
        }
    }
    void TearDown() override { ProxyPythonPlugin::glob_python_driver_set.erase(a.handler.get()); }

    Plugin a;
    Plugin b;
    int installed = 0;
};

TEST_F(ConcurrentTranscoding, HostThreadsScriptsAndADriverTranscodeTogetherWithCorrectResults) {
    ASSERT_EQ(installed, 24);
    Watchdog watchdog("concurrent transcoding of two plug-ins", 100s);
    std::vector<std::string> failures(6);
    onThreads(6, [&](int t) {
        for (int i = 0; i < 300; ++i) {
            if (t < 4) {  // a host thread: no interpreter held; its own fields, events on both
                for (Plugin* plugin : {&a, &b}) {
                    failures[t] += check(*plugin, t, i * 7 + t, true);
                    plugin->handler->deliverICDEvent(100000 + i, 0);
                }
            } else if (i % 10 == 0) {
                // In batches of ten: holding one plug-in's session, transcodes the other's fields
                // (field 4); a Python bus driver's thread, inside plug-in A's session, transcodes
                // A's (field 5).
                const bool aHeld = t == 5 || (i / 10) % 2 == 0;
                PySession::Use use(aHeld ? a.session : b.session);
                for (int j = i; j < i + 10; ++j) {
                    failures[t] += check(t == 5 || !aHeld ? a : b, t, j, t == 5);
                }
            }
        }
    });
    ASSERT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s));
    EXPECT_EQ(failures, std::vector<std::string>(6)) << "by thread";
    for (Plugin* plugin : {&a, &b}) {
        EXPECT_EQ(plugin_sessions::evalRepr(plugin->session, "len(events)"), "1200");
        EXPECT_EQ(plugin->bridge->getLastError(), "");
    }
}

}  // namespace
