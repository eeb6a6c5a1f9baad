// Registration of UI objects on an item and delivery of its events to them, from any thread.
#include "ICDUiAbstractItem.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ICDUiObject.h"

// Lock rule (a leaf, docs/design.md): `mutex` guards every member of the registry and of its
// entries; it is never held while an object's consumeICDEvent runs, so a consumer may register,
// unregister or deliver on any item, this one included.
struct ICDUiAbstractItem::Registry {
    struct Entry {
        ICDUiObject* object = nullptr;
        bool registered = true;
        // Deliveries to this entry now running, per thread (a thread counts more than once when a
        // consumer delivers on this item again from inside its own delivery).
        std::vector<std::pair<std::thread::id, unsigned>> inFlight;
    };

    mutable std::mutex mutex;
    std::condition_variable deliveryEnded;
    // Registration order. An unregistered entry stays here while deliveries to it still run, so
    // that unregisterUiObject can wait for them; the last delivery to end removes it.
    std::vector<std::shared_ptr<Entry>> entries;
    // Threads now waiting inside unregisterUiObject, with the object each waits for.
    std::vector<std::pair<const ICDUiObject*, std::thread::id>> unregistering;

    static void addInFlight(Entry& entry, std::thread::id thread) {
        for (auto& slot : entry.inFlight) {
            if (slot.first == thread) {
                ++slot.second;
                return;
            }
        }
        entry.inFlight.emplace_back(thread, 1u);
    }

    static void removeInFlight(Entry& entry, std::thread::id thread) {
        for (auto it = entry.inFlight.begin(); it != entry.inFlight.end(); ++it) {
            if (it->first == thread) {
                if (--it->second == 0) {
                    entry.inFlight.erase(it);
                }
                return;
            }
        }
    }

    bool isUnregistering(const ICDUiObject* object, std::thread::id thread) const {
        return std::find(unregistering.begin(), unregistering.end(),
                         std::make_pair(object, thread)) != unregistering.end();
    }

    // A delivery to `object` that must end before unregisterUiObject on `self` may return: one
    // on another thread, unless that thread is itself waiting to unregister the same object
    // (two deliveries that each unregister their own object would otherwise wait for each
    // other for ever). The calling thread's own deliveries never count: they run below it.
    bool mustWaitFor(const ICDUiObject* object, std::thread::id self) const {
        for (const auto& entry : entries) {
            // Deliveries to a registration made again after the unregistering are not waited for.
            if (entry->object != object || entry->registered) {
                continue;
            }
            for (const auto& slot : entry->inFlight) {
                if (slot.first != self && !isUnregistering(object, slot.first)) {
                    return true;
                }
            }
        }
        return false;
    }

    void dropIdleUnregistered() {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [](const std::shared_ptr<Entry>& entry) {
                                         return !entry->registered && entry->inFlight.empty();
                                     }),
                      entries.end());
    }
};

ICDUiAbstractItem::ICDUiAbstractItem() : _registry(std::make_unique<Registry>()) {}

ICDUiAbstractItem::~ICDUiAbstractItem() = default;

void ICDUiAbstractItem::registerUiObject(ICDUiObject* object) {
    if (object == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(_registry->mutex);
    for (const auto& entry : _registry->entries) {
        if (entry->object == object && entry->registered) {
            return;
        }
    }
    auto entry = std::make_shared<Registry::Entry>();
    entry->object = object;
    _registry->entries.push_back(std::move(entry));
}

void ICDUiAbstractItem::unregisterUiObject(ICDUiObject* object) {
    if (object == nullptr) {
        return;
    }
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(_registry->mutex);
    for (const auto& entry : _registry->entries) {
        if (entry->object == object) {
            entry->registered = false;
        }
    }
    _registry->dropIdleUnregistered();
    if (!_registry->mustWaitFor(object, self)) {
        return;
    }
    _registry->unregistering.emplace_back(object, self);
    // Another thread waiting for this object may now stop waiting for this thread's delivery.
    _registry->deliveryEnded.notify_all();
    _registry->deliveryEnded.wait(lock, [&] { return !_registry->mustWaitFor(object, self); });
    auto& waiting = _registry->unregistering;
    waiting.erase(std::find(waiting.begin(), waiting.end(),
                            std::make_pair(static_cast<const ICDUiObject*>(object), self)));
    _registry->deliveryEnded.notify_all();
}

std::size_t ICDUiAbstractItem::deliverICDEvent(unsigned int event, unsigned long data) {
    const std::thread::id self = std::this_thread::get_id();
    std::vector<std::shared_ptr<Registry::Entry>> snapshot;
    {
        std::lock_guard<std::mutex> lock(_registry->mutex);
        snapshot.reserve(_registry->entries.size());
        for (const auto& entry : _registry->entries) {
            if (entry->registered) {
                snapshot.push_back(entry);
            }
        }
    }
    std::size_t accepted = 0;
    for (const auto& entry : snapshot) {
        {
            std::lock_guard<std::mutex> lock(_registry->mutex);
            // Unregistered since the snapshot: unregisterUiObject may already have returned.
            if (!entry->registered) {
                continue;
            }
            Registry::addInFlight(*entry, self);
        }
        bool answered = false;
        try {
            answered = entry->object->consumeICDEvent(event, data);
        } catch (...) {
            std::lock_guard<std::mutex> lock(_registry->mutex);
            Registry::removeInFlight(*entry, self);
            _registry->dropIdleUnregistered();
            _registry->deliveryEnded.notify_all();
            throw;
        }
        if (answered) {
            ++accepted;
        }
        std::lock_guard<std::mutex> lock(_registry->mutex);
        Registry::removeInFlight(*entry, self);
        if (!entry->registered) {
            _registry->dropIdleUnregistered();
            _registry->deliveryEnded.notify_all();
        }
    }
    return accepted;
}

std::size_t ICDUiAbstractItem::registeredUiObjectCount() const {
    std::lock_guard<std::mutex> lock(_registry->mutex);
    return static_cast<std::size_t>(std::count_if(
        _registry->entries.begin(), _registry->entries.end(),
        [](const std::shared_ptr<Registry::Entry>& entry) { return entry->registered; }));
}

bool ICDUiAbstractItem::isRegistered(const ICDUiObject* object) const {
    std::lock_guard<std::mutex> lock(_registry->mutex);
    for (const auto& entry : _registry->entries) {
        if (entry->object == object && entry->registered) {
            return true;
        }
    }
    return false;
}
