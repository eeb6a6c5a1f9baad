// The module definition and its method table: names, order, calling convention, documentation.
#include <gtest/gtest.h>

#include <cstring>

#include "ScriptFixture.h"

namespace {

struct Entry {
    const char* name;
    const char* doc;
};

const Entry kEntries[] = {
    {"setStartCallback", "Assign the python method on bus Start event"},
    {"setStopCallback", "Assign the python method on bus Stop event"},
    {"setOnPluginActionCallback",
     "Assign the python method to manage a request of plugin action based on identifier"},
    {"setConsumeICDEventCallback",
     "Assign the python method to manage events provided by ICD environment"},
    {"setName", "Assign the plugin name"},
    {"addSimpleAction", "Append action to the plugin"},
    {"addCallableAction", "Append callable action to the plugin"},
    {"setChecked", "Set checkable Action value"},
    {"getChecked", "Get checkable Action value"},
    {"raiseError",
     "Raise an Error to the application based on message string and severity passed as "
     "arguments"},
    {"messageBox", "Utility to open a messageBox dialog"},
    {"inputBox", "Utility to open a inputBox dialog"},
    {"openFileDialog", "Utility to open a openFile dialog"},
    {"saveFileDialog", "Utility to open a saveFile dialog"},
    {"openDirDialog", "Utility to open a openDir dialog"},
    {"commitSingleMessageField",
     "In case of reserved message field it performs an hidden message commitment (no events or "
     "sending operation are performed)"},
    {"commitSingleMessage",
     "It performs a single message commitment (no events or sending operation are performed)"},
    {"sendICDEvent", "Send event to the ICD"},
    {"setMessageFieldReserved", "Set reservation handle (for writing ) on message field"},
    {"setEncodingFrom", "Set encoder for message field"},
    {"getEncoderName", "Get encoder name for message field"},
};

TEST(ModuleDefinition, NamesTheModuleWithOnePointerOfStateAndNoFreeFunction) {
    PyModuleDef* def = ProxyPluginPyModule_def();
    ASSERT_NE(def, nullptr);
    EXPECT_STREQ(def->m_name, "proxyplugin");
    EXPECT_STREQ(def->m_doc, "Proxy plugin python extension");
    EXPECT_EQ(def->m_size, static_cast<Py_ssize_t>(sizeof(PyObject*)));
    EXPECT_EQ(def->m_methods, ProxyPluginPyModule_methods());
    EXPECT_EQ(def->m_slots, nullptr);
    EXPECT_NE(def->m_traverse, nullptr);
    EXPECT_NE(def->m_clear, nullptr);
    EXPECT_EQ(def->m_free, nullptr);
}

TEST(ModuleDefinition, ListsTheTwentyOneFunctionsInOrderTakingPositionalArgumentsOnly) {
    PyMethodDef* methods = ProxyPluginPyModule_methods();
    for (std::size_t i = 0; i < 21; ++i) {
        SCOPED_TRACE(kEntries[i].name);
        ASSERT_NE(methods[i].ml_name, nullptr);
        EXPECT_STREQ(methods[i].ml_name, kEntries[i].name);
        EXPECT_STREQ(methods[i].ml_doc, kEntries[i].doc);
        EXPECT_EQ(methods[i].ml_flags, METH_VARARGS);
        EXPECT_NE(methods[i].ml_meth, nullptr);
    }
    EXPECT_EQ(methods[21].ml_name, nullptr);
    EXPECT_EQ(methods[21].ml_meth, nullptr);
}

TEST(ModuleDefinition, EachInterpreterGetsItsOwnModuleWithEmptyStateFromTheEntryPoint) {
    ScriptFixture script;
    PySession::Use use(script.session());

    PyRef module = PyRef::steal(PyInit_proxyplugin());

    ASSERT_TRUE(module);
    EXPECT_NE(module.get(), script.module());
    EXPECT_STREQ(PyModule_GetName(module.get()), "proxyplugin");
    auto* state = static_cast<PyObject**>(PyModule_GetState(module.get()));
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(*state, nullptr);
    EXPECT_EQ(ProxyPluginPyModule_def()->m_clear(module.get()), 0);
    PyRef doc = PyRef::steal(PyObject_GetAttrString(module.get(), "__doc__"));
    EXPECT_STREQ(PyUnicode_AsUTF8(doc.get()), "Proxy plugin python extension");
}

TEST(ModuleDefinition, ClearingTheStateEmptiesTheSlotAndReleasesTheObject) {
    ScriptFixture script;
    PySession::Use use(script.session());
    PyRef module = PyRef::steal(PyInit_proxyplugin());
    PyRef held = PyRef::steal(PyList_New(0));
    auto* state = static_cast<PyObject**>(PyModule_GetState(module.get()));
    *state = PyRef::borrow(held.get()).release();  // the state's own reference
    const Py_ssize_t withState = Py_REFCNT(held.get());

    EXPECT_EQ(ProxyPluginPyModule_def()->m_clear(module.get()), 0);

    EXPECT_EQ(*state, nullptr);
    EXPECT_EQ(Py_REFCNT(held.get()), withState - 1);
}

}  // namespace
