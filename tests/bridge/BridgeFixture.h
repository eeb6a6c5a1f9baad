// A bridge on tests/data/bridge/bridge.xml in the first shared session, and helpers to call its
// operations as a module function calls them (session held).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ICDHandler.h"
#include "ICDHost.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "tests/bridge/PluginSessions.h"

class BridgeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        handler = ICDHandler::load(PPP_TEST_DATA_DIR "/bridge/bridge.xml", &error);
        ASSERT_TRUE(handler) << error;
        bridge = std::make_unique<ProxyPluginPyHandlerInterface>(handler.get(), session);
    }
    void TearDown() override {
        bridge.reset();  // before its handler
        ICDHost::setRefusedEvents({});
        ProxyPythonPlugin::glob_python_driver_set.erase(handler.get());
    }

    // repr() of an operation's result (released), "<error>" if it left a Python error pending.
    // Asserts nothing: some callers capture the output meanwhile.
    template <typename Operation>
    std::string call(Operation operation) {
        PySession::Use use(session);
        PyRef result = PyRef::steal(operation());
        PyRef text = PyRef::steal(result ? PyObject_Repr(result.get()) : nullptr);
        if (PyErr_Occurred() != nullptr || !text) {
            PyErr_Clear();
            return "<error>";
        }
        return PyUnicode_AsUTF8(text.get());
    }
    PyObject* global(const char* name) { return plugin_sessions::global(session, name); }
    ICDGenericMessageField* field(const char* message, const char* name) {
        return handler->findMessage(message)->findMessageField(name);
    }

    PySession* session = plugin_sessions::session(0);
    std::unique_ptr<ICDHandler> handler;
    std::unique_ptr<ProxyPluginPyHandlerInterface> bridge;
};
