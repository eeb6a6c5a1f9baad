// Reservation of a message field by one UI object at a time.
#include <mutex>

#include "ICDHost.h"
#include "ICDMessageField.h"

// Lock rule (a leaf, docs/design.md): `mutex` guards `holder` only; nothing else runs under it.
struct ICDUiGenericMessageField::Reservation {
    mutable std::mutex mutex;
    ICDUiObject* holder = nullptr;
};

ICDUiGenericMessageField::ICDUiGenericMessageField()
    : _reservation(std::make_unique<Reservation>()) {}

ICDUiGenericMessageField::~ICDUiGenericMessageField() = default;

bool ICDUiGenericMessageField::isReserved() const {
    std::lock_guard<std::mutex> lock(_reservation->mutex);
    return _reservation->holder != nullptr;
}

void ICDUiGenericMessageField::setReservationTo(ICDUiObject* holder) {
    bool granted = false;
    {
        std::lock_guard<std::mutex> lock(_reservation->mutex);
        if (holder != nullptr && _reservation->holder == nullptr) {
            _reservation->holder = holder;
            granted = true;
        }
    }
    if (ICDHost::traceEnabled()) {
        ICDHost::trace("setReservationTo " + traceName() +
                       (granted ? " -> granted" : " -> refused"));
    }
}

bool ICDUiGenericMessageField::releaseReservationTo(ICDUiObject* holder) {
    bool released = false;
    {
        std::lock_guard<std::mutex> lock(_reservation->mutex);
        if (holder != nullptr && _reservation->holder == holder) {
            _reservation->holder = nullptr;
            released = true;
        }
    }
    if (ICDHost::traceEnabled()) {
        ICDHost::trace("releaseReservationTo " + traceName() +
                       (released ? " -> released" : " -> refused"));
    }
    return released;
}

ICDUiObject* ICDUiGenericMessageField::reservationHolder() const {
    std::lock_guard<std::mutex> lock(_reservation->mutex);
    return _reservation->holder;
}
