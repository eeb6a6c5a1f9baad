// Event bridge: construction and destruction, the host's delivery path, the background loop and
// the call of the script's event callable.
#include "bridge/ProxyPluginPyHandlerInterface.h"

#include "ICDHandler.h"
#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "pymodule/PyCallUtils.h"
#include "plugin/ScriptErrors.h"

namespace {

// Bus control events the host handles itself; the script never sees them.
constexpr unsigned int kBusControlEvent = 3000;
constexpr unsigned int kFirstBusStateEvent = 4000;
constexpr unsigned int kLastBusStateEvent = 4002;

bool isForwarded(unsigned int event) {
    return event != kBusControlEvent && (event < kFirstBusStateEvent || event > kLastBusStateEvent);
}

// str() of an exception value in the locale's encoding; UTF-8 when the locale cannot represent
// it, empty when even that fails. Leaves no Python error pending. Precondition: the session is
// held.
std::string exceptionText(PyObject* value) {
    if (value == nullptr) {
        return std::string();
    }
    std::string text;
    PyRef str = PyRef::steal(PyObject_Str(value));
    if (str) {
        PyRef bytes = PyRef::steal(PyUnicode_EncodeLocale(str.get(), nullptr));
        if (bytes) {
            text = PyBytes_AsString(bytes.get());  // borrowed buffer, up to the first NUL
        } else {
            PyErr_Clear();
            const char* utf8 = PyUnicode_AsUTF8(str.get());  // borrowed, lives with `str`
            if (utf8 != nullptr) {
                text = utf8;
            }
        }
    }
    PyErr_Clear();
    return text;
}

}  // namespace

ProxyPluginPyHandlerInterface::ProxyPluginPyHandlerInterface(ICDHandler* handler,
                                                             PySession* session)
    : ICDUiObject(), _handler(handler), _session(session), _lastError(), _running(false) {
    addToProcessList(this);
    if (_handler != nullptr) {
        // Events may arrive from now on: they wait in the queue for init().
        _handler->registerUiObject(this);
    }
}

ProxyPluginPyHandlerInterface::~ProxyPluginPyHandlerInterface() {
    if (_handler != nullptr) {
        _handler->unregisterUiObject(this);
    }
    removeFromProcessList(this);
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _running = false;
        _stopping = true;
    }
    _eventReady.notify_one();
    _idle.notify_all();
    if (_thread.joinable()) {
        // The loop may need the session to finish its current event: a caller holding an
        // interpreter gives it up while it waits. Precondition: not on the bridge's own thread.
        PyInterpreterRelease release;
        _thread.join();
    }
    std::unique_lock<std::mutex> lock(_mutex);
    _idle.wait(lock, [this] { return _pins == 0; });
    // The event callables keep their references and the reservation holders stay registered: the
    // session is not entered here.
}

void ProxyPluginPyHandlerInterface::init() {
    if (_thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _running = true;
    }
    _thread = std::thread(&ProxyPluginPyHandlerInterface::_backgroundLoop, this);
}

bool ProxyPluginPyHandlerInterface::consumeICDEvent(unsigned int event, unsigned long data) {
    if (!ICDUiAbstractObject::consumeICDEvent(event, data)) {
        return false;
    }
    if (_session == nullptr || !isForwarded(event)) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _eventQueue.push_back(event);
        if (_carryData) {
            for (int word = 0; word < kDataWords; ++word) {
                _eventQueue.push_back(static_cast<unsigned int>(data >> (32 * word)));
            }
        }
    }
    _eventReady.notify_all();
    return true;
}

void ProxyPluginPyHandlerInterface::_backgroundLoop(ProxyPluginPyHandlerInterface* bridge) {
    std::unique_lock<std::mutex> lock(bridge->_mutex);
    std::deque<unsigned int> taken;  // entries out of the queue, not yet delivered
    EventTarget target;              // the event callables as last read from the slots
    for (;;) {
        bridge->_eventReady.wait(
            lock, [bridge] { return !bridge->_eventQueue.empty() || !bridge->_running; });
        if (!bridge->_running) {
            return;  // what is still queued is dropped
        }
        // _running is not looked at while draining: a stop takes effect once the queue is empty.
        while (!bridge->_eventQueue.empty()) {
            // Everything queued is taken at once, so that host threads queuing meanwhile meet
            // the lock once per batch instead of once per event. Delivery order is the queue's:
            // events queued during the batch, the callable's own included, follow it in this
            // same pass.
            taken.swap(bridge->_eventQueue);
            std::size_t plain = bridge->_plainEntries;  // the batch's layout, read with it
            const bool carried = bridge->_carryData;
            bridge->_plainEntries = 0;
            bridge->_busy = true;
            lock.unlock();
            for (auto entry = taken.begin(); entry != taken.end();) {
                const unsigned int event = *entry++;
                const bool withData = carried && plain == 0;
                unsigned long data = 0;
                if (withData) {
                    for (int word = 0; word < kDataWords; ++word) {
                        data |= static_cast<unsigned long>(*entry++) << (32 * word);
                    }
                } else if (plain > 0) {
                    --plain;
                }
                bridge->deliver(kNumberSlot, event, data, target);
                if (withData) {
                    bridge->deliver(kDataSlot, event, data, target);
                }
            }
            taken.clear();
            lock.lock();
            bridge->_busy = false;
        }
        bridge->_idle.notify_all();
    }
}

bool ProxyPluginPyHandlerInterface::onConsumeICDEvent(unsigned int event) {
    EventTarget target;
    return deliver(kNumberSlot, event, 0, target);
}

bool ProxyPluginPyHandlerInterface::onConsumeICDEventData(unsigned int event, unsigned long data) {
    EventTarget target;
    return deliver(kDataSlot, event, data, target);
}

bool ProxyPluginPyHandlerInterface::deliver(int which, unsigned int event, unsigned long data,
                                            EventTarget& target) {
    for (;;) {
        // One atomic load per event while nothing changes; the slots are read under _mutex only
        // after a replacement.
        if (target.generation != _eventGeneration.load(std::memory_order_acquire)) {
            std::lock_guard<std::mutex> lock(_mutex);
            target.slots[kNumberSlot] = _eventSlots[kNumberSlot];
            target.slots[kDataSlot] = _eventSlots[kDataSlot];
            target.generation = _eventGeneration.load(std::memory_order_relaxed);
        }
        const EventSlot slot = target.slots[which];
        if (slot.callable == nullptr) {
            return false;
        }
        PySession::Use use(slot.session);
        // Replaced between the read and the entry: the copy may be released already. While the
        // session is held, a replacement cannot release it (that needs the same session), so a
        // generation still current here keeps the copy valid for the whole call.
        if (target.generation != _eventGeneration.load(std::memory_order_acquire)) {
            continue;
        }
        return which == kNumberSlot ? callEventCallable(slot.callable, event)
                                    : callEventDataCallable(slot.callable, event, data);
    }
}

bool ProxyPluginPyHandlerInterface::callEventCallable(PyObject* callable, unsigned int event) {
    if (!PyCallable_Check(callable)) {
        return false;
    }
    PyRef result;
    {
        // The event number as a signed 32-bit int: 2**31 and above arrive negative. The extra
        // reference keeps the callable alive should it replace itself while it runs. The call is
        // the one Py_BuildValue("(i)") and PyObject_CallObject make, without parsing a format
        // and building a tuple at every event, which cost as much as entering the session.
        PyRef argument = PyRef::steal(PyLong_FromLong(static_cast<int>(event)));
        PyRef kept = PyRef::borrow(callable);
        if (argument) {
            result = PyRef::steal(pycompat::callOneArgument(kept.get(), argument.get()));
        }
    }
    return finishEventCall(static_cast<bool>(result));
}

bool ProxyPluginPyHandlerInterface::callEventDataCallable(PyObject* callable, unsigned int event,
                                                          unsigned long data) {
    if (!PyCallable_Check(callable)) {
        return false;
    }
    PyRef result;
    {
        // The number as for the other callable; the data word unsigned, as the host gave it.
        PyRef number = PyRef::steal(PyLong_FromLong(static_cast<int>(event)));
        PyRef word = PyRef::steal(number ? PyLong_FromUnsignedLong(data) : nullptr);
        PyRef kept = PyRef::borrow(callable);
        if (word) {
            result = PyRef::steal(pycompat::callTwoArguments(kept.get(), number.get(), word.get()));
        }
    }
    return finishEventCall(static_cast<bool>(result));
}

bool ProxyPluginPyHandlerInterface::finishEventCall(bool returned) {
    if (returned) {
        if (_lastErrorSet) {
            setLastError(std::string());
            _lastErrorSet = false;
        }
        return true;
    }
    std::string text;
    {
        pycompat::ErrorScope pending;  // printed below
        text = exceptionText(pending.value());
    }
    setLastError(std::move(text));
    _lastErrorSet = true;
    ProxyPythonPluginNS::noteScriptError();
    // Not PyErr_Print: a callable raising SystemExit must not end the host.
    pycompat::printPendingError();
    return false;
}

PyObject* ProxyPluginPyHandlerInterface::setOnConsumeICDEvent(PyObject* callable) {
    return setEventSlot(kNumberSlot, callable);
}

PyObject* ProxyPluginPyHandlerInterface::setOnConsumeICDEventData(PyObject* callable) {
    PyObject* stored = setEventSlot(kDataSlot, callable);
    if (stored != nullptr) {
        // From now on every event carries its data word; those queued already have none.
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_carryData) {
            _carryData = true;
            _plainEntries = _eventQueue.size();
        }
    }
    return stored;
}

PyObject* ProxyPluginPyHandlerInterface::setEventSlot(int which, PyObject* callable) {
    EventSlot stored;
    PyRef accepted = PyRef::steal(setCallbackByRef(&stored.callable, callable));
    if (!accepted) {
        return nullptr;
    }
    stored.session = PySession::current();
    if (stored.session == nullptr) {
        // Handed over from an interpreter that is no session (a host's own Python): delivered
        // in the bridge's session, the only one there is to enter.
        stored.session = _session;
    }
    EventSlot previous;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        previous = _eventSlots[which];
        _eventSlots[which] = stored;
        _eventGeneration.fetch_add(1, std::memory_order_release);
    }
    // Outside _mutex: entering another session may wait.
    releaseInSession(previous.session, previous.callable);
    return accepted.release();
}

void ProxyPluginPyHandlerInterface::sendICDEvent(unsigned int event) {
    if (_handler != nullptr) {
        _handler->sendICDEvent(event);
    }
}

std::string ProxyPluginPyHandlerInterface::getLastError() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _lastError;
}

void ProxyPluginPyHandlerInterface::setLastError(std::string text) {
    std::lock_guard<std::mutex> lock(_mutex);
    _lastError = std::move(text);
}
