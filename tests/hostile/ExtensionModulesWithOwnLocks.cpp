// With a lock per interpreter (PROXYPLUGIN_ISOLATION=own-gil, CPython 3.12+) a standard extension
// module without multi-phase initialisation is refused before its initialisation runs, with
// CPython's ImportError, in every plug-in: importing it in a second interpreter would otherwise
// run that initialisation again (on 3.12 _decimal and _datetime then abort the process). The
// standard library's pure-Python replacements take over where there are some.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/ProxyPythonPluginNS.h"
#include "tests/hostile/PluginHarness.h"
#include "tests/support/CaptureOutput.h"
#include "tests/support/Watchdog.h"

namespace {

using namespace std::chrono_literals;

TEST(ExtensionModulesWithOwnLocks, SinglePhaseModulesAreRefusedInEveryPluginAndFallbacksWork) {
    if (std::string(ProxyPythonPluginIsolation()) != "own-gil") {
        GTEST_SKIP() << "runs with a lock per interpreter (PROXYPLUGIN_ISOLATION=own-gil)";
    }
    Watchdog watchdog("single-phase modules in three plug-ins", 60s);
    harness::ScratchDir dir;
    const std::string script =
        dir.write("imports.py",
                  "import datetime, decimal, json, sqlite3, zoneinfo\n"
                  "values = (str(decimal.Decimal(1) / 4), datetime.date(2024, 2, 29).isoformat(),\n"
                  "          sqlite3.connect(':memory:').execute('select 6 * 7').fetchone()[0])\n"
                  "try:\n"
                  "    import readline\n"
                  "    refused = None\n"
                  "except ImportError as error:\n"
                  "    refused = (type(error).__name__, str(error), error.name)\n"
                  "class ProxyPluginObject:\n"
                  "    pass\n");
    ICDHandler* handler = harness::loadHandler(harness::dataPath("hostile", "hostile_bus.xml"));
    std::vector<ProxyPythonPlugin*> plugins;
    CaptureOutput output;
    for (int i = 0; i < 3; ++i) {
        plugins.push_back(static_cast<ProxyPythonPlugin*>(ProxyPythonPluginNS::onCreate()));
        harness::setUp(plugins.back(), script, {handler});
    }
    output.stop();
    EXPECT_EQ(output.err(), "");
    for (ProxyPythonPlugin* plugin : plugins) {
        EXPECT_EQ(harness::evalText(plugin->getSession(), "values, refused"),
                  "(('0.25', '2024-02-29', 42), ('ImportError', 'module readline does not support "
                  "loading in subinterpreters', 'readline'))");
    }
    CaptureOutput quiet;
    ProxyPythonPluginNS::onDestroy();
}

}  // namespace
