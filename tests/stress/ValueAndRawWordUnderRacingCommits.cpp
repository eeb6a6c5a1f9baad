// One field encoded by a Python encoder, committed at once by the script's event callable on the
// bridge thread and by a thread of the script, while host threads set new values and encode them
// as icdhost's `set` does. The encodes finish in any order; once all have ended, the raw word is
// the encoding of the value the field holds, in every round.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "tests/host/HostTestSupport.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/Barrier.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;

// Many short rounds: each one's end, where the last host set races the commits still running, is
// where an older encode can finish last.
constexpr int kRounds = 1500 / harness::kSlowdown;
constexpr int kHostSets = 30;       // per setting thread and round
constexpr int kBridgeCommits = 60;  // events sent per round
constexpr int kScriptCommits = 20;  // by the script's thread per round

// The encoder is slow enough for several encodes of one field to overlap.
const char* const kScript = R"(
import threading
import proxyplugin as pp
ID, KEY = pp.__proxy_plugin_identifier__, pp.__proxy_plugin_icd_identifier__
refused = []
commits = {'event': 0, 'thread': 0}

class Coder:
    name = 'scaled'
    def encode(self, value):
        sum(range(20))
        return value * 3 + 1
    def decode(self, raw):
        return (raw - 1) // 3

def commit(by):
    if pp.commitSingleMessageField(ID, KEY, 'STATUS', 'mode') is True:
        commits[by] += 1
    elif len(refused) < 5:
        refused.append(by)

pp.setEncodingFrom(ID, KEY, 'STATUS', 'mode', Coder())
reserved = pp.setMessageFieldReserved(ID, KEY, 'STATUS', 'mode', True)
pp.setConsumeICDEventCallback(ID, KEY, lambda event: commit('event'))

def start_committer(count):
    def run():
        for _ in range(count):
            commit('thread')
    worker = threading.Thread(target=run)
    worker.start()
    return worker
)";

TEST(ValueAndRawWordUnderRacingCommits, TheRawWordIsTheEncodingOfTheLastValueSet) {
    Watchdog watchdog("racing commits of one field", 240s);
    harness::ScratchDir dir;
    ICDHandler* handler = harness::loadHandler(harness::dataPath("plugin", "plugin_bus.xml"));
    auto plugin = std::make_unique<ProxyPythonPlugin>("ProxyPythonPlugin?");
    {
        CaptureOutput quiet;
        harness::setUp(plugin.get(), dir.write("racing.py", kScript), {handler});
    }
    PySession* session = plugin->getSession();
    ASSERT_EQ(harness::evalText(session, "reserved"), "True");
    ICDGenericMessageField* field = handler->findMessage("STATUS")->findMessageField("mode");
    ASSERT_EQ(field->getEncoderName(), "scaled");

    std::vector<std::string> disagreements;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(harness::run(
            session, "worker = start_committer(" + std::to_string(kScriptCommits) + ")"));
        std::vector<int> failedSets(2);
        onThreads(3, [&](int t) {
            if (t == 2) {
                for (int i = 0; i < kBridgeCommits; ++i) {
                    handler->sendICDEvent(static_cast<unsigned int>(i));
                }
                return;
            }
            // Values below 65536 / 3, so that every raw word fits the ushort field.
            for (int i = 0; i < kHostSets; ++i) {
                const int value = (round * kHostSets + i) * 2 + t;
                if (!field->setValueFromText(std::to_string(value % 20000), nullptr) ||
                    !field->encode()) {
                    ++failedSets[t];
                }
            }
        });
        ASSERT_TRUE(harness::run(session, "worker.join()"));
        ASSERT_TRUE(ProxyPluginPyHandlerInterface::waitUntilAllIdle(60s));
        EXPECT_EQ(failedSets, std::vector<int>(2)) << "round " << round;
        const std::string value = field->valueText();
        const std::string raw = field->rawText();
        if (std::to_string(std::stoull(value) * 3 + 1) != raw) {
            disagreements.push_back("value " + value + " raw " + raw);
        }
    }
    EXPECT_EQ(disagreements, std::vector<std::string>());
    EXPECT_EQ(harness::evalText(session, "refused"), "[]");
    EXPECT_EQ(harness::evalText(session, "commits['thread']"),
              std::to_string(kRounds * kScriptCommits));
    EXPECT_EQ(harness::evalText(session, "commits['event'] > 0"), "True");
    CaptureOutput quiet;
    plugin.reset();
}

}  // namespace
