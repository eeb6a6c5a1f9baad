// The per-script registry object: what a script registers through module proxyplugin (name,
// start/stop/action callables, actions), found by the script identifier; and the process-wide
// table of handler bridges by handler key.
//
// Lock rules:
//  - _mutex is never waited for while the calling thread holds an interpreter: a thread that finds
//    it taken by another thread releases the interpreter while it waits and takes it back after.
//    So a bridge thread's event callable calling setChecked while an action callable runs under
//    _mutex on the host's thread cannot deadlock: the host's thread gets the interpreter back,
//    finishes, and unlocks.
//  - A thread inside a Python encode or decode that finds _mutex taken also gives up the
//    transcoder mutex while it waits, and takes it back after _mutex: an action callable running
//    under _mutex may be committing a message, waiting for the transcoder mutex.
//  - _mutex is re-entrant for its owner thread: script code running under it (an action
//    callable, or the stop callable run by setChecked) may call setChecked or add a top-level
//    action on the same thread.
//  - The static registry and handler table are guarded by their own reader/writer lock, held
//    only for the lookup or insertion itself (never while Python runs). Lookups go through hash
//    indexes kept beside them, which give what a search of the vector or the map would give.
// Every lock of the process, its order and the threads that take it: docs/design.md.
//
// Guarded by (words of the glossary in PyInterpreter.h):
//   instance_id, _proxy_instance_vect,
//   _proxy_handler_map (and their indexes)   registryMutex() in the .cpp; a leaf
//   _identifier                              nothing: set at construction, never changed
//   _plugin                                  _mutex (InterfaceLock), tried, otherwise released
//   _onStart, _onStop, _onPluginAction and
//   their sessions, _actionsById             the interpreter lock (a script's session is held)
//   _name                                    _nameMutex; a leaf, so any thread reads it
//   _mutexOwner                              atomic; only the owner writes its own id
//   _mutexDepth                              the thread that owns _mutex
#pragma once

#include <Python.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ICDPlatform.h"

class ProxyPythonPlugin;
class ProxyPluginPyHandlerInterface;
class ICDPluginAction;
class PySession;

class PPP_API ProxyPluginPyInterface {
public:
    static ProxyPluginPyInterface* new_ProxyPluginPyInterface(ProxyPythonPlugin* owner);
    static ProxyPluginPyInterface* get_ProxyPluginPyInterfaceById(std::string identifier);
    // The same lookup for a text the caller already has (the module functions' parsed
    // arguments), without copying it. Constant time: registry size does not matter.
    static ProxyPluginPyInterface* get_ProxyPluginPyInterfaceById(const char* identifier);

    ProxyPluginPyInterface(ProxyPythonPlugin* owner, std::string identifier);
    ProxyPluginPyInterface(const ProxyPluginPyInterface&) = delete;
    ProxyPluginPyInterface& operator=(const ProxyPluginPyInterface&) = delete;

    std::string getIdentifier() const;
    // The name the script gave with setName (its identifier until then). Any thread, session
    // held or not: the host reads it while a thread of the script may be renaming the plug-in.
    std::string getName() const;

    // Callable setters: result of setCallbackByRef on the slot (None, or null when refused).
    PyObject* setOnStart(PyObject* callable);
    PyObject* setOnStop(PyObject* callable);
    PyObject* setOnPluginAction(PyObject* callable);
    void setName(std::string name);

    // Preconditions of all below: the script's session is held.
    bool start();
    bool stop();
    void onPluginAction(unsigned int id);
    PyObject* setChecked(unsigned int id, bool value);
    PyObject* getChecked(unsigned int id);
    PyObject* addAction(unsigned int id, char* name, unsigned int type, int parentId);
    PyObject* addAction(unsigned int id, char* name, PyObject* callable, int parentId);

    void addHandlerInterface(std::string key, ProxyPluginPyHandlerInterface* bridge);
    // The bridge registered first under a handler key, or null. The table is process-wide: any
    // script reaches any bridge whose key it knows. With a lock per interpreter
    // (PyMainInterp::ownLocks) the bridge made by the plug-in whose interpreter the calling thread
    // runs comes first, when it made one for that key: a second plug-in on one ICD keeps its own
    // bridge. Lock free after the calling thread's first success.
    static ProxyPluginPyHandlerInterface* getHandlerInterface(const std::string& key);
    static ProxyPluginPyHandlerInterface* getHandlerInterface(const char* key);

    // Hands `action` to the plug-in as a top-level action under this interface's lock, as the
    // script's own top-level actions are (a thread of the script may be adding one right now);
    // does nothing once the plug-in is detached. For the plug-in's help action.
    void attachTopLevelAction(ICDPluginAction* action);

    // Called by the plug-in's destructor: from then on nothing reaches the deleted plug-in, and
    // adding a top-level action fails with a printed RuntimeError. Precondition: the caller does
    // not run under this interface's lock on another thread's behalf.
    void detachPlugin();

    static std::int32_t instance_id;
    static std::vector<ProxyPluginPyInterface*> _proxy_instance_vect;
    static std::map<std::string, ProxyPluginPyHandlerInterface*> _proxy_handler_map;

private:
    ProxyPythonPlugin* _plugin;
    std::string _identifier;
    // Each callable with the session of the script that registered it, where it is called and
    // released (the rule of PySession::current): the identifier a script passes need not be its
    // own. Touched with a script's session held.
    PyObject* _onStart;
    PyObject* _onStop;
    PyObject* _onPluginAction;
    PySession* _onStartSession = nullptr;
    PySession* _onStopSession = nullptr;
    PySession* _onPluginActionSession = nullptr;
    // Guards the three pairs above: with a lock per interpreter a script may replace a pair
    // (through this interface's identifier) while a host thread calls it. A leaf, held only to
    // read or write a pair and to take a reference to the callable of the pair read, never while
    // Python runs.
    std::mutex _slotsMutex;
    // Stores `callable` with the calling script's session in a pair and releases the previous one
    // in its own session. Precondition: the registering script's session is held.
    PyObject* setSlot(PyObject** slot, PySession** sessionSlot, PyObject* callable);
    // Enters the session of the pair and runs `run(callable)` with a reference of its own, the
    // pair read again inside that session; false without running when the slot is empty.
    // Precondition: no session held that another thread needs to let this one enter.
    template <typename Run>
    bool runSlot(PyObject* const& slot, PySession* const& sessionSlot, Run&& run);
    std::string _name;
    // A leaf (docs/design.md): held only to copy _name, so any thread may take it.
    mutable std::mutex _nameMutex;
    // Taken through InterfaceLock: tried, otherwise released (docs/design.md).
    std::mutex _mutex;
    std::map<unsigned int, ICDPluginAction*> _actionsById;

    // The parent an action is added under: null for a top-level action (parentId 0 or less).
    // False, with the invalid-parent report printed, when parentId names no known action.
    bool findParent(int parentId, ICDPluginAction*& parent);

    // Re-entry bookkeeping of _mutex (see the lock rules above).
    std::atomic<std::thread::id> _mutexOwner{};
    int _mutexDepth = 0;
    friend class InterfaceLock;
};
