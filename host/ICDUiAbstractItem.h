// Items that deliver events to registered UI objects: handlers and message fields.
#pragma once

#include <cstddef>
#include <memory>

#include "ICDPlatform.h"

class ICDUiObject;

class ICD_HOST_API ICDUiAbstractItem {
public:
    ICDUiAbstractItem();
    virtual ~ICDUiAbstractItem();
    ICDUiAbstractItem(const ICDUiAbstractItem&) = delete;
    ICDUiAbstractItem& operator=(const ICDUiAbstractItem&) = delete;

    // Registering an object twice keeps one registration. Both are safe from any thread and from
    // inside a delivery. When unregisterUiObject returns, no delivery to that object runs on
    // another thread and none will start, so the object may be deleted at once.
    void registerUiObject(ICDUiObject* object);
    void unregisterUiObject(ICDUiObject* object);

    // Host side: hands the event to every registered object's consumeICDEvent, on the calling
    // thread, in registration order. Returns how many objects answered true.
    std::size_t deliverICDEvent(unsigned int event, unsigned long data);
    std::size_t registeredUiObjectCount() const;
    bool isRegistered(const ICDUiObject* object) const;

private:
    struct Registry;
    std::unique_ptr<Registry> _registry;
};
