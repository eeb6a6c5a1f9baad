// The handler bridge: joins one ICD handler to one script. Registered on the handler as a UI
// object, it queues each event's number and data word on the host's thread and hands them one at
// a time to the script's event callables on a background thread of its own: the one of module
// proxyplugin gets the number, the one of module proxyplugin_ext the number and the data word.
// It also carries the message, field and encoder operations the script calls.
//
// Lock rules: _mutex guards _eventQueue, _running, _lastError and the idle bookkeeping; it is held
// only for constant work, never while Python runs nor while waiting for an interpreter (a thread
// holding the session may take it briefly). _reservations is guarded by _reservationsMutex, held
// while a reservation is made or released (calls into the host library that run no Python); a
// thread holding an interpreter that finds it taken waits with the interpreter released. The
// process-wide list of bridges has a mutex of its own, held only to add, remove or pin bridges
// (order: that mutex, then a bridge's _mutex). Every lock and its order: docs/design.md.
//
// The event callables may come from another script than the bridge's own: any script reaches any
// bridge through the handler key, and with two plug-ins on one ICD the first plug-in's bridge
// delivers the callable the second one registered (with a lock per interpreter each plug-in's
// lookups find its own bridge first: see ProxyPluginPyInterface::getHandlerInterface). Each runs in
// the session of the script that registered it (the rule of PySession::current), never in the
// bridge's: a callable and that session are stored and replaced together under _mutex, and
// _eventGeneration counts the replacements so that the delivering thread reads the slots again only
// when they changed.
#pragma once

#include <Python.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "ICDPlatform.h"
#include "ICDUiObject.h"

class ICDHandler;
class ICDGenericMessageField;
class PySession;

class PPP_API ProxyPluginPyHandlerInterface : public ICDUiObject {
public:
    ProxyPluginPyHandlerInterface(ICDHandler* handler, PySession* session);
    ~ProxyPluginPyHandlerInterface() override;

    void init();
    bool consumeICDEvent(unsigned int event, unsigned long data) override;
    static void _backgroundLoop(ProxyPluginPyHandlerInterface* bridge);
    // Delivers one event to the event callable as the background loop does, inside the
    // callable's own session; false when there is no callable or it raised. Precondition: the
    // caller holds no session another thread needs in order to let it enter the callable's.
    bool onConsumeICDEvent(unsigned int event);
    // Precondition: the registering script's session is held (a module function).
    PyObject* setOnConsumeICDEvent(PyObject* callable);
    // The callable of module proxyplugin_ext, called with (event, data) after the one above.
    // Preconditions as for the two above.
    bool onConsumeICDEventData(unsigned int event, unsigned long data);
    PyObject* setOnConsumeICDEventData(PyObject* callable);
    void sendICDEvent(unsigned int event);

    // Message and field operations; each returns a new reference.
    PyObject* raiseError(std::string text, int severity);
    PyObject* commitSingleMessage(std::string message);
    PyObject* commitSingleMessageField(std::string message, std::string field);
    PyObject* setMessageFieldReserved(std::string message, std::string field, bool reserve);
    PyObject* getEncoderName(std::string message, std::string field);
    PyObject* getAsUInt(std::string message, std::string field);
    PyObject* setEncodingFrom(std::string message, std::string field, PyObject* encoder);

    // Waits until the queue is empty and no event call runs, or `timeout` passes; true when idle.
    // Precondition: no session is held (the event call may need it).
    bool waitUntilIdle(std::chrono::milliseconds timeout);
    // The same over every bridge of the process.
    static bool waitUntilAllIdle(std::chrono::milliseconds timeout);

    ICDHandler* getHandler() const { return _handler; }
    // The session of the plug-in that made the bridge.
    PySession* getSession() const { return _session; }
    std::string getLastError() const;

private:
    ICDHandler* _handler;
    PySession* _session;
    std::string _lastError;
    bool _running;
    mutable std::mutex _mutex;
    std::thread _thread;
    std::condition_variable _eventReady;
    // Each event's number, followed by its data word split into kDataWords entries (low first)
    // once a data callable has been registered on this bridge: the data word travels with its
    // event, and a bridge without a data callable queues 4 bytes per event, as it did before data
    // was carried (16 bytes per entry cost the host's delivery call a tenth more, in memory
    // traffic and allocations, while a script is busy).
    static constexpr int kDataWords = sizeof(unsigned long) / sizeof(unsigned int);
    std::deque<unsigned int> _eventQueue;
    bool _carryData = false;  // set for good by the first data callable; guarded by _mutex
    // Leading entries of _eventQueue queued before _carryData was set: numbers without data,
    // which the data callable never gets. Guarded by _mutex.
    std::size_t _plainEntries = 0;
    std::map<ICDGenericMessageField*, ICDUiObject*> _reservations;  // _reservationsMutex
    std::mutex _reservationsMutex;
    // An event callable and the session that registered it, where it is called and released.
    struct EventSlot {
        PyObject* callable = nullptr;  // owned by the bridge's slots, borrowed in a copy
        PySession* session = nullptr;
    };
    static constexpr int kNumberSlot = 0;            // proxyplugin's callable: (event)
    static constexpr int kDataSlot = 1;              // proxyplugin_ext's callable: (event, data)
    EventSlot _eventSlots[2];                        // _mutex
    std::atomic<std::uint64_t> _eventGeneration{0};  // written under _mutex, read without
    // _lastError holds a text: a successful call then has to empty it. Touched only by the thread
    // delivering events, so that a call that succeeds after another does not take _mutex.
    bool _lastErrorSet = false;

    // The delivering thread's copy of the slots. A copied callable is only used while its session
    // is held and `generation` is still current: a replacement releases the previous callable
    // inside that same session, so it cannot go while the copy is in use.
    struct EventTarget {
        EventSlot slots[2];
        std::uint64_t generation = ~std::uint64_t{0};  // matches no generation: read first
    };
    // Calls the callable of slot `which` inside its session; false when there is none or it
    // raised. Precondition: no session held that the call's session waits for.
    bool deliver(int which, unsigned int event, unsigned long data, EventTarget& target);
    // Precondition of both: the callable's (borrowed, may be null) session is held.
    bool callEventCallable(PyObject* callable, unsigned int event);
    bool callEventDataCallable(PyObject* callable, unsigned int event, unsigned long data);
    // Stores `callable` in slot `which` with the calling thread's session. Precondition: the
    // registering script's session is held.
    PyObject* setEventSlot(int which, PyObject* callable);

    bool _busy = false;             // an event call runs; guarded by _mutex
    std::condition_variable _idle;  // signalled when the queue empties and no call runs, when a
                                    // waiter unpins the bridge, and when the bridge stops
    bool _stopping = false;         // the destructor runs; guarded by _mutex
    int _pins = 0;                  // waitUntilAllIdle callers using this bridge; guarded by _mutex

    bool idleLocked() const { return _eventQueue.empty() && !_busy; }
    // Waits on _idle until idle, stopping or `deadline`; false on timeout. `waited` tells whether
    // the bridge was busy when the wait began. Precondition: `lock` holds _mutex.
    bool waitIdleLocked(std::unique_lock<std::mutex>& lock,
                        std::chrono::steady_clock::time_point deadline, bool* waited);
    void setLastError(std::string text);
    // After an event call: `returned` false means it raised, with the error pending; records its
    // text in _lastError and prints it. True when it returned. Precondition: the session is held.
    bool finishEventCall(bool returned);
    static void addToProcessList(ProxyPluginPyHandlerInterface* bridge);
    static void removeFromProcessList(ProxyPluginPyHandlerInterface* bridge);
};
