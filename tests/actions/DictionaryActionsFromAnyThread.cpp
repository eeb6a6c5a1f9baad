// A script's dictionary action called by a host thread: the action enters its own session when
// the caller holds no interpreter or another one, and leaves the caller as it found it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/plugin/ScriptedPluginSupport.h"
#include "tests/support/Watchdog.h"

using namespace plugintest;

namespace {

// The body's reference count and the registered action named "Add", made by the script.
struct AddingScript {
    AddingScript() {
        script.run(
            "def add(a, b):\n"
            "    '''Adds a and b.'''\n"
            "    import proxyplugin\n"  // the module of the interpreter running the body
            "    return {'sum': a + b, 'in': proxyplugin.__proxy_plugin_identifier__}\n"
            "pp.addCallableAction(ID, 7, 'Add', add)");
        for (unsigned int i = 0; i < script.plugin->getPluginActionSize(); ++i) {
            if (script.action(i)->getName() == "Add") {
                add = script.action(i);
            }
        }
    }
    Py_ssize_t bodyReferences() {
        PySession::Use use(script.plugin->getSession());
        PyRef body = script.value("add");
        return body ? Py_REFCNT(body.get()) - 1 : -1;
    }

    ScriptedPlugin script;
    ICDPluginAction* add = nullptr;
};

// What one call of the action gave, as text: "True sum=42 in ID" (ID: the identifier of the
// plug-in whose interpreter ran the body) or "False".
std::string runAdd(ICDPluginAction* action, long a, long b) {
    ICDDictionary input;
    input.setLong("a", a);
    input.setLong("b", b);
    ICDDictionary output;
    const bool done = action->execute(input, &output);
    return std::string(done ? "True" : "False") +
           (output.isLong("sum") ? " sum=" + std::to_string(output.getLong("sum")) : "") +
           (output.isString("in") ? " in " + output.getString("in") : "");
}

}  // namespace

TEST(DictionaryActionsFromAnyThread,
     AThreadHoldingNoInterpreterRunsTheBodyAndItsHelpAndHoldsNothingAfter) {
    Watchdog watchdog("dictionary action on a fresh thread", std::chrono::seconds(60));
    AddingScript adding;
    ASSERT_NE(adding.add, nullptr);
    const Py_ssize_t referencesBefore = adding.bodyReferences();
    std::string result, help;
    bool heldAfter = true;
    std::thread host([&] {
        result = runAdd(adding.add, 2, 40);
        help = adding.add->help();
        heldAfter = PyInterpreterRelease::threadHoldsInterpreter();
    });
    host.join();
    EXPECT_EQ(result, "True sum=42 in " + adding.script.registry().getIdentifier());
    EXPECT_EQ(help, "Adds a and b.");
    EXPECT_FALSE(heldAfter);
    EXPECT_EQ(adding.bodyReferences(), referencesBefore);
}

TEST(DictionaryActionsFromAnyThread, ACallerHoldingTheSessionOrAnotherOneStillHoldsItAfterTheCall) {
    Watchdog watchdog("dictionary action inside sessions", std::chrono::seconds(60));
    AddingScript adding;
    ScriptedPlugin other;
    ASSERT_NE(adding.add, nullptr);
    std::string inOwn, inOther;
    bool ownKept = false, otherKept = false;
    std::thread host([&] {
        {
            PySession::Use use(adding.script.plugin->getSession());
            inOwn = runAdd(adding.add, 1, 1);
            ownKept = pycompat::interpreterOf(PyThreadState_Get()) ==
                      adding.script.plugin->getSession()->interpreter();
        }
        PySession::Use use(other.plugin->getSession());
        inOther = runAdd(adding.add, 3, 4);
        otherKept = pycompat::interpreterOf(PyThreadState_Get()) ==
                    other.plugin->getSession()->interpreter();
    });
    host.join();
    const std::string own = adding.script.registry().getIdentifier();
    EXPECT_EQ(inOwn, "True sum=2 in " + own);
    EXPECT_EQ(inOther, "True sum=7 in " + own);
    EXPECT_TRUE(ownKept);
    EXPECT_TRUE(otherKept);
}
