// Message and field operations the script calls on its handler's ICD. Each runs with the
// script's session held; _reservations has its own guard, since with a lock per interpreter two
// plug-ins' scripts may reach one bridge at the same time. None prints, raises or leaves a Python
// error pending: a failure is only a False or None result.
#include "ICDHandler.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "PyInterpreter.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"

namespace {

// Holds a bridge's _reservationsMutex. Precondition: the holder calls nothing that may run Python
// (no commit, no encoder). A thread holding an interpreter that finds the mutex taken waits with
// the interpreter released: the owner may be waiting for that interpreter.
class ReservationsLock {
public:
    explicit ReservationsLock(std::mutex& mutex) : _mutex(mutex) {
        if (!_mutex.try_lock()) {
            PyInterpreterRelease release;
            _mutex.lock();
        }
    }
    ~ReservationsLock() { _mutex.unlock(); }
    ReservationsLock(const ReservationsLock&) = delete;
    ReservationsLock& operator=(const ReservationsLock&) = delete;

private:
    std::mutex& _mutex;
};

PyObject* newBool(bool value) {
    return PyBool_FromLong(value ? 1 : 0);  // new reference
}

PyObject* newNone() {
    Py_INCREF(Py_None);
    return Py_None;
}

// A handler's field by message and field name, or null.
ICDGenericMessageField* findField(ICDHandler* handler, const std::string& message,
                                  const std::string& field) {
    if (handler == nullptr) {
        return nullptr;
    }
    ICDMessage* found = handler->findMessage(message);
    return found != nullptr ? found->findMessageField(field) : nullptr;
}

}  // namespace

PyObject* ProxyPluginPyHandlerInterface::raiseError(std::string text, int severity) {
    if (_handler == nullptr) {
        return newBool(false);
    }
    // Only the upper bound: negative severities pass unchanged.
    _handler->raiseError(text, severity > 3 ? 3 : severity);
    return newBool(true);
}

PyObject* ProxyPluginPyHandlerInterface::commitSingleMessage(std::string message) {
    ICDMessage* found = _handler != nullptr ? _handler->findMessage(message) : nullptr;
    if (found == nullptr) {
        return newBool(false);
    }
    found->commitChanges();
    found->touch();
    return newBool(true);
}

PyObject* ProxyPluginPyHandlerInterface::commitSingleMessageField(std::string message,
                                                                  std::string field) {
    ICDMessage* found = _handler != nullptr ? _handler->findMessage(message) : nullptr;
    if (found == nullptr) {
        return newBool(false);
    }
    // Only fields this bridge reserved may be committed (a missing field is never a key).
    ICDGenericMessageField* target = found->findMessageField(field);
    {
        ReservationsLock lock(_reservationsMutex);
        if (_reservations.find(target) == _reservations.end()) {
            return newBool(false);
        }
    }
    return newBool(found->commitSingleField(target));
}

PyObject* ProxyPluginPyHandlerInterface::setMessageFieldReserved(std::string message,
                                                                 std::string field, bool reserve) {
    ICDGenericMessageField* target = findField(_handler, message, field);
    if (target == nullptr) {
        return newBool(false);
    }
    // Held for the whole change, so that two scripts never hand out or delete one holder twice.
    ReservationsLock lock(_reservationsMutex);
    if (reserve) {
        if (target->isReserved()) {
            return newBool(false);
        }
        // A holder lives until its reservation is released: one stays registered on its field for
        // good when the host refuses the reservation, and an earlier entry for the field is kept.
        ICDUiObject* holder = new ICDUiObject();
        _reservations.emplace(target, holder);
        target->registerUiObject(holder);
        target->setReservationTo(holder);
        return newBool(target->isReserved());
    }
    if (!target->isReserved()) {
        return newBool(false);
    }
    auto entry = _reservations.find(target);
    if (entry == _reservations.end()) {
        return newBool(false);  // another holder's reservation
    }
    ICDUiObject* holder = entry->second;
    const bool released = target->releaseReservationTo(holder);
    target->unregisterUiObject(holder);
    if (!released) {
        return newBool(false);
    }
    _reservations.erase(entry);
    // Unregistered, it receives nothing more and nothing points at it: each reservation would
    // otherwise leave its holder behind.
    delete holder;
    return newBool(true);
}

PyObject* ProxyPluginPyHandlerInterface::getEncoderName(std::string message, std::string field) {
    ICDGenericMessageField* target = findField(_handler, message, field);
    if (target == nullptr) {
        return newNone();
    }
    PyObject* name = Py_BuildValue("s", target->getEncoderName().c_str());  // new reference
    if (name == nullptr) {
        PyErr_Clear();  // a name that is not UTF-8 reads as no name
        return newNone();
    }
    return name;
}

PyObject* ProxyPluginPyHandlerInterface::getAsUInt(std::string message, std::string field) {
    ICDGenericMessageField* target = findField(_handler, message, field);
    unsigned int value = 0;
    if (target == nullptr || !target->getAsUInt(&value)) {
        return newNone();
    }
    return Py_BuildValue("I", value);  // new reference
}
