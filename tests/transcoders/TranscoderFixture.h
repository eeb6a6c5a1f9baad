// Transcoders built around the encoder objects of tests/data/transcoders/encoders.py, in a real
// sub-interpreter, as the encoder assignment builds them (session held), and called as the host
// calls them (no session held).
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>

#include "tests/bridge/PluginSessions.h"
#include "tests/support/CaptureOutput.h"
#include "transcoders/ProxyPluginPyNumericTranscoder.h"
#include "transcoders/ProxyPluginPyStringTranscoder.h"

// Releases the transcoder's Python references with its session held, then deletes it.
struct ReleaseTranscoder {
    PySession* session;
    template <typename Transcoder>
    void operator()(Transcoder* transcoder) const {
        PySession::Use use(session);
        transcoder->releasePythonReferences();
        delete transcoder;
    }
};

class TranscoderFixture : public ::testing::Test {
protected:
    using Text = ProxyPluginPyStringTranscoder;
    static constexpr const char* kEncodersPath = PPP_TEST_DATA_DIR "/transcoders/encoders.py";

    void SetUp() override { ASSERT_TRUE(session->exec_file(kEncodersPath)) << session->_errorText; }

    // Binds global `enc` to the value of `expression` and builds a Transcoder around it, for a
    // Python bus driver's handler when `driver` is set.
    template <typename Transcoder>
    std::unique_ptr<Transcoder, ReleaseTranscoder> make(const std::string& expression,
                                                        bool driver = false) {
        EXPECT_TRUE(session->eval("enc = " + expression));
        PySession::Use use(session);
        auto* made =
            new Transcoder(session, plugin_sessions::global(session, "enc"), false, driver);
        EXPECT_EQ(PyErr_Occurred(), nullptr) << "construction left an error pending";
        return std::unique_ptr<Transcoder, ReleaseTranscoder>(made, ReleaseTranscoder{session});
    }
    template <typename T>
    auto numeric(const std::string& expression) {
        return make<ProxyPluginPyNumericTranscoder<T>>(expression);
    }
    std::string repr(const std::string& expression) {
        return plugin_sessions::evalRepr(session, expression);
    }
    // One call with standard output and error captured: "true" or "false", then what was printed.
    template <typename Call>
    std::string printed(Call call) {
        CaptureOutput output;
        const bool ok = call();
        return std::string(ok ? "true" : "false") + "|" + output.out() + output.err();
    }

    PySession* session = plugin_sessions::session(0);
};
