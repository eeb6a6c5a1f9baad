// With a lock per interpreter (PROXYPLUGIN_ISOLATION=own-gil, CPython 3.12+) each plug-in's
// encoders run under a transcoder mutex of their own: a host thread encodes through plug-in B
// while another host thread is inside one of plug-in A's encoders, instead of waiting for it.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "plugin/ProxyPythonPluginNS.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;
using Value = ICDGenericMessageField::Value;

// Installs on STATUS.int an encoder that doubles; with `wait`, each encode first says it is inside
// and waits (up to 20 s) until the test lets it go, then says it left.
std::string encoderScript(bool wait) {
    return std::string(
               "import threading\n"
               "import proxyplugin as pp\n"
               "inside = threading.Event()\n"
               "go_on = threading.Event()\n"
               "left = threading.Event()\n"
               "class Doubling:\n"
               "    def encode(self, value):\n") +
           (wait ? "        inside.set()\n        go_on.wait(20)\n        left.set()\n" : "") +
           "        return value * 2\n"
           "    def decode(self, raw):\n"
           "        return raw // 2\n"
           "pp.setEncodingFrom(pp.__proxy_plugin_identifier__, pp.__proxy_plugin_icd_identifier__, "
           "'STATUS', 'int', Doubling())\n"
           "class ProxyPluginObject:\n"
           "    pass\n";
}

TEST(TranscodersWithOwnLocks, AHostThreadEncodesThroughOnePluginWhileAnotherWaitsInsideAnother) {
    if (std::string(ProxyPythonPluginIsolation()) != "own-gil") {
        GTEST_SKIP() << "runs with a lock per interpreter (PROXYPLUGIN_ISOLATION=own-gil)";
    }
    Watchdog watchdog("encoders of two plug-ins at once", 60s);
    harness::ScratchDir dir;
    ICDHandler* handlers[] = {
        harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml")),
        harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"))};
    ProxyPythonPlugin* plugins[2];
    CaptureOutput output;
    for (int i = 0; i < 2; ++i) {
        plugins[i] = static_cast<ProxyPythonPlugin*>(ProxyPythonPluginNS::onCreate());
        harness::setUp(plugins[i],
                       dir.write("p" + std::to_string(i) + ".py", encoderScript(i == 0)),
                       {handlers[i]});
    }
    ICDGenericMessageField* fields[2];
    for (int i = 0; i < 2; ++i) {
        fields[i] = handlers[i]->findMessage("STATUS")->findMessageField("int");
    }
    bool waitingEncoded = false;
    std::thread waiting([&] {
        waitingEncoded =
            fields[0]->setValue(Value(5)) && fields[0]->encode() && fields[0]->getRaw() == 10u;
    });
    ASSERT_TRUE(harness::run(plugins[0]->getSession(), "assert inside.wait(20)"));
    const bool otherEncoded =
        fields[1]->setValue(Value(7)) && fields[1]->encode() && fields[1]->getRaw() == 14u;
    const std::string firstStillInside =
        harness::evalText(plugins[0]->getSession(), "not left.is_set()");
    ASSERT_TRUE(harness::run(plugins[0]->getSession(), "go_on.set()"));
    waiting.join();
    output.stop();
    EXPECT_TRUE(otherEncoded);
    EXPECT_EQ(firstStillInside, "True");
    EXPECT_TRUE(waitingEncoded);
    EXPECT_EQ(output.err(), "");
    CaptureOutput quiet;
    ProxyPythonPluginNS::onDestroy();
}

}  // namespace
