// Transcoders built around the encoder objects of tests/data/transcoders/encoders.py, in a real
// sub-interpreter, as the encoder assignment builds them (session held), and called as the host
// calls them (no session held).
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>

#include "CaptureOutput.h"
#include "tests/bridge/PluginSessions.h"
#include "transcoders/ProxyPluginPyNumericTranscoder.h"
#include "transcoders/ProxyPluginPyStringTranscoder.h"

// Releases the transcoder's Python references with its session held, then deletes it.
struct ReleaseTranscoder {
    PySession* session;
    template <typename Transcoder>
    void operator()(Transcoder* transcoder) const {
        {
            PySession::Use use(session);
            transcoder->releasePythonReferences();
        }
        delete transcoder;
    }
};

template <typename Transcoder>
using TranscoderPtr = std::unique_ptr<Transcoder, ReleaseTranscoder>;

// Sets the C library's character-type locale for a scope (the locale Python's locale encoding
// follows), and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : _previous(std::setlocale(LC_CTYPE, nullptr)) {
        _applied = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_CTYPE, _previous.c_str()); }
    bool applied() const { return _applied; }

private:
    std::string _previous;
    bool _applied = false;
};

class TranscoderFixture : public ::testing::Test {
protected:
    static constexpr const char* kEncodersPath = PPP_TEST_DATA_DIR "/transcoders/encoders.py";

    void SetUp() override {
        session = plugin_sessions::sessionA();
        ASSERT_TRUE(session->exec_file(kEncodersPath)) << session->_errorText;
    }

    // Binds `name` to the value of `expression` in the session and builds a transcoder of type
    // Transcoder around it. Fails the test if construction leaves a Python error pending.
    template <typename Transcoder>
    TranscoderPtr<Transcoder> make(const std::string& name, const std::string& expression,
                                   bool alwaysEnterSession = false, bool pythonDriver = false,
                                   PySession* in = nullptr) {
        PySession* target = in != nullptr ? in : session;
        EXPECT_TRUE(plugin_sessions::run(target, name + " = " + expression));
        PySession::Use use(target);
        PyObject* object = PyDict_GetItemString(target->globals(), name.c_str());  // borrowed
        auto* made = new Transcoder(target, object, alwaysEnterSession, pythonDriver);
        EXPECT_EQ(PyErr_Occurred(), nullptr) << "construction left an error pending";
        PyErr_Clear();
        return TranscoderPtr<Transcoder>(made, ReleaseTranscoder{target});
    }
    template <typename T>
    TranscoderPtr<ProxyPluginPyNumericTranscoder<T>> numeric(const std::string& name,
                                                             const std::string& expression,
                                                             bool alwaysEnterSession = false,
                                                             bool pythonDriver = false) {
        return make<ProxyPluginPyNumericTranscoder<T>>(name, expression, alwaysEnterSession,
                                                       pythonDriver);
    }
    TranscoderPtr<ProxyPluginPyStringTranscoder> text(const std::string& name,
                                                      const std::string& expression) {
        return make<ProxyPluginPyStringTranscoder>(name, expression);
    }

    std::string repr(const std::string& expression) {
        return plugin_sessions::evalRepr(session, expression);
    }
    // Whether a Python error is pending in the session (it is cleared).
    bool errorPending() {
        PySession::Use use(session);
        const bool pending = PyErr_Occurred() != nullptr;
        PyErr_Clear();
        return pending;
    }
    Py_ssize_t refcount(const std::string& name) {
        PySession::Use use(session);
        return Py_REFCNT(PyDict_GetItemString(session->globals(), name.c_str()));
    }

    PySession* session = nullptr;
};
