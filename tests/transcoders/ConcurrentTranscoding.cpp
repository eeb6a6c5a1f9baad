// Host threads encode and decode fields of two plug-ins (two sub-interpreters) while both scripts'
// event callables run, a thread holding one session transcodes the other session's fields, and
// Python bus drivers transcode from inside their sessions: nothing deadlocks and every result is
// the one the right interpreter computes.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "ICDHandler.h"
#include "Watchdog.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "TranscoderFixture.h"

using namespace std::chrono_literals;

namespace {

// The factor is the running interpreter's tag plus one (2 in plug-in A, 3 in B): a result
// computed in the wrong sub-interpreter is wrong.
const char* const kPluginScript = R"(
import sys
class Scaler:
    def encode(self, value):
        return value * (__import__('sys').interp_tag + 1)
    def decode(self, raw):
        return raw // (__import__('sys').interp_tag + 1)
class Upper:
    def encode(self, value):
        return value.upper()
    def decode(self, raw):
        return raw.lower()
scaler = Scaler()
upper = Upper()
events = []
def on_event(n):
    events.append(n)
    if n % 10 == 0:
        driver_transcode(n)
)";

constexpr int kHostThreads = 4;
constexpr int kIterations = 300;

struct Plugin {
    PySession* session;
    long long factor;
    std::unique_ptr<ICDHandler> handler;
    std::unique_ptr<ProxyPluginPyHandlerInterface> bridge;
    std::atomic<int> driverCalls{0};
    std::atomic<int> driverFailures{0};

    ICDGenericMessageField* field(const std::string& name) {
        return handler->findMessage("WORK")->findMessageField(name);
    }
};

// Encodes and decodes an integer field; an empty text when both gave what `plugin` computes.
std::string checkNumber(Plugin& plugin, ICDGenericMessageField* field, int value) {
    if (!field->setValue(ICDGenericMessageField::Value(value)) || !field->encode()) {
        return "encode failed";
    }
    const unsigned long long raw = field->getRaw();
    if (raw != static_cast<unsigned long long>(value * plugin.factor)) {
        return "raw " + std::to_string(raw) + " for " + std::to_string(value);
    }
    if (!field->decode(raw + 1, false)) {
        return "decode failed";
    }
    const int decoded = std::get<int>(field->getValue());
    if (decoded != value) {
        return "decoded " + std::to_string(decoded) + " for " + std::to_string(value);
    }
    return std::string();
}

std::string checkText(ICDGenericMessageField* field, int value) {
    const std::string text = "value " + std::to_string(value);
    if (!field->setValue(ICDGenericMessageField::Value(text)) || !field->encode()) {
        return "text encode failed";
    }
    if (field->getRawText() != "VALUE " + std::to_string(value)) {
        return "raw text " + field->getRawText();
    }
    if (!field->decodeText("RAW " + std::to_string(value)) ||
        std::get<std::string>(field->getValue()) != "raw " + std::to_string(value)) {
        return "text decode failed";
    }
    return std::string();
}

class ConcurrentTranscoding : public TranscoderFixture {
protected:
    void SetUp() override {
        TranscoderFixture::SetUp();
        a.session = plugin_sessions::sessionA();
        b.session = plugin_sessions::sessionB();
        a.factor = 2;
        b.factor = 3;
        ASSERT_TRUE(plugin_sessions::run(a.session, "import sys\nsys.interp_tag = 1"));
        ASSERT_TRUE(plugin_sessions::run(b.session, "import sys\nsys.interp_tag = 2"));
        for (Plugin* plugin : {&a, &b}) {
            std::string error;
            plugin->handler =
                ICDHandler::load(PPP_TEST_DATA_DIR "/transcoders/concurrency.xml", &error);
            ASSERT_TRUE(plugin->handler) << error;
            ASSERT_TRUE(plugin_sessions::run(plugin->session, kPluginScript));
            // The event callable transcodes field n6 of its own handler from inside the session,
            // as a Python bus driver does.
            plugin_sessions::bindHostCall(plugin->session, "driver_transcode", [plugin] {
                static thread_local int value = 0;
                ++value;
                ++plugin->driverCalls;
                if (!checkNumber(*plugin, plugin->field("n6"), value).empty()) {
                    ++plugin->driverFailures;
                }
            });
        }
        // Plug-in A drives its bus from Python: its transcoders call Python directly when its
        // own session's code asks for them.
        ProxyPythonPlugin::glob_python_driver_set.insert(a.handler.get());
        CaptureOutput quiet;
        for (Plugin* plugin : {&a, &b}) {
            plugin->bridge = std::make_unique<ProxyPluginPyHandlerInterface>(plugin->handler.get(),
                                                                             plugin->session);
            PySession::Use use(plugin->session);
            PyObject* globals = plugin->session->globals();
            PyRef stored = PyRef::steal(
                plugin->bridge->setOnConsumeICDEvent(PyDict_GetItemString(globals, "on_event")));
            for (int n = 0; n <= 6; ++n) {
                PyRef numeric = PyRef::steal(plugin->bridge->setEncodingFrom(
                    "WORK", "n" + std::to_string(n), PyDict_GetItemString(globals, "scaler")));
                PyRef text = PyRef::steal(plugin->bridge->setEncodingFrom(
                    "WORK", "s" + std::to_string(n), PyDict_GetItemString(globals, "upper")));
                installed += (numeric.get() == Py_True) + (text.get() == Py_True);
            }
            plugin->bridge->init();
        }
    }
    void TearDown() override {
        ProxyPythonPlugin::glob_python_driver_set.erase(a.handler.get());
        a.bridge.reset();
        b.bridge.reset();
    }

    Plugin a;
    Plugin b;
    int installed = 0;
};

TEST_F(ConcurrentTranscoding, HostThreadsScriptsAndDriversTranscodeTogetherWithCorrectResults) {
    ASSERT_EQ(installed, 28);
    Watchdog watchdog("concurrent transcoding of two plug-ins", 100s);
    constexpr int kThreads = kHostThreads + 2;
    Barrier barrier(kThreads);
    std::vector<std::vector<std::string>> failures(kThreads);
    std::vector<std::thread> threads;

    for (int t = 0; t < kHostThreads; ++t) {
        // Host threads: no interpreter held; each its own fields, and events on both handlers.
        threads.emplace_back([&, t] {
            const std::string n = "n" + std::to_string(t);
            const std::string s = "s" + std::to_string(t);
            barrier.arriveAndWait();
            for (int i = 0; i < kIterations; ++i) {
                for (Plugin* plugin : {&a, &b}) {
                    const int value = i * 7 + t;
                    for (const std::string& failure :
                         {checkNumber(*plugin, plugin->field(n), value),
                          checkText(plugin->field(s), value)}) {
                        if (!failure.empty()) {
                            failures[t].push_back(failure);
                        }
                    }
                    plugin->handler->deliverICDEvent(100000 + t * 1000 + i, 0);
                }
            }
        });
    }
    // Holding one plug-in's session, transcodes the other's fields, in batches per entry.
    threads.emplace_back([&] {
        barrier.arriveAndWait();
        for (int i = 0; i < kIterations; i += 10) {
            Plugin& held = (i / 10) % 2 == 0 ? a : b;
            Plugin& target = &held == &a ? b : a;
            PySession::Use use(held.session);
            for (int j = i; j < i + 10; ++j) {
                const std::string failure = checkNumber(target, target.field("n4"), j);
                if (!failure.empty()) {
                    failures[kHostThreads].push_back("across: " + failure);
                }
            }
        }
    });
    // A Python bus driver's thread: inside plug-in A's session, transcodes A's fields.
    threads.emplace_back([&] {
        barrier.arriveAndWait();
        for (int i = 0; i < kIterations; i += 10) {
            PySession::Use use(a.session);
            for (int j = i; j < i + 10; ++j) {
                for (const std::string& failure :
                     {checkNumber(a, a.field("n5"), j), checkText(a.field("s5"), j)}) {
                    if (!failure.empty()) {
                        failures[kHostThreads + 1].push_back("driver: " + failure);
                    }
                }
            }
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    const bool idle = ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s);

    ASSERT_TRUE(idle);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_TRUE(failures[t].empty()) << "thread " << t << ": " << failures[t].size()
                                         << " failures, first " << failures[t].front();
    }
    for (Plugin* plugin : {&a, &b}) {
        EXPECT_EQ(plugin_sessions::evalInteger(plugin->session, "len(events)"),
                  kHostThreads * kIterations);
        EXPECT_EQ(plugin_sessions::evalInteger(plugin->session,
                                               "len([n for n in events if n % 10 == 0])"),
                  plugin->driverCalls.load());
        EXPECT_EQ(plugin->driverFailures.load(), 0);
        EXPECT_EQ(plugin->bridge->getLastError(), "");
    }
}

}  // namespace
