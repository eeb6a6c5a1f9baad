// The handler bridge: joins one ICD handler to one script. Registered on the handler as a UI
// object, it queues each event's number and data word on the host's thread and hands them one at
// a time to the script's event callables on a background thread of its own: the one of module
// proxyplugin gets the number, the one of module proxyplugin_ext the number and the data word.
// It also carries the message, field and encoder operations the script calls.
//
// Lock rules: _mutex guards _eventQueue, _running, _lastError and the idle bookkeeping; it is held
// only for constant work, never while Python runs nor while waiting for an interpreter (a thread
// holding the session may take it briefly). _eventCallback, _eventDataCallback and _reservations
// are touched only with the script's session held. The process-wide list of bridges has a mutex of
// its own, held only to add, remove or pin bridges (order: that mutex, then a bridge's _mutex).
#pragma once

#include <Python.h>

#include <chrono>
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
    bool onConsumeICDEvent(unsigned int event);
    PyObject* setOnConsumeICDEvent(PyObject* callable);
    // The callable of module proxyplugin_ext, called with (event, data) after the one above.
    // Precondition for both: the script's session is held.
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
    // Precondition: the caller holds no interpreter session (the event call may need it).
    bool waitUntilIdle(std::chrono::milliseconds timeout);
    // The same over every bridge of the process.
    static bool waitUntilAllIdle(std::chrono::milliseconds timeout);

    ICDHandler* getHandler() const { return _handler; }
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
    std::map<ICDGenericMessageField*, ICDUiObject*> _reservations;
    PyObject* _eventCallback;
    PyObject* _eventDataCallback = nullptr;
    // _lastError holds a text: a successful call then has to empty it. Read and written only with
    // the script's session held, so that a call that succeeds after another did not take _mutex.
    bool _lastErrorSet = false;

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
    // text in _lastError and prints it. True when it returned. Precondition: session held.
    bool finishEventCall(bool returned);
    static void addToProcessList(ProxyPluginPyHandlerInterface* bridge);
    static void removeFromProcessList(ProxyPluginPyHandlerInterface* bridge);
};
