// UI objects of the host's object model: anything that can be registered on an ICD item (a handler
// or a field) and receive its events.
#pragma once

#include <string>

#include "ICDPlatform.h"

class ICD_HOST_API ICDUiEventConsumer {
public:
    virtual bool consumeICDEvent(unsigned int event, unsigned long data) = 0;
    virtual ~ICDUiEventConsumer() = default;
};

class ICD_HOST_API ICDUiAbstractObject : public ICDUiEventConsumer {
public:
    ICDUiAbstractObject();
    ICDUiAbstractObject(const ICDUiAbstractObject&) = delete;
    ICDUiAbstractObject& operator=(const ICDUiAbstractObject&) = delete;

    // The default handling: true to handle the event further, false when the host refuses it
    // (see ICDHost::setRefusedEvents).
    bool consumeICDEvent(unsigned int event, unsigned long data) override;
    ~ICDUiAbstractObject() override;
    // Hands `event` to this object's own consumeICDEvent, as if an item had delivered it.
    virtual void raiseICDEvent(unsigned int event);
    virtual void setPreferredUiRapresentation(std::string representation);
    virtual std::string getPreferredUiRapresentation();

private:
    std::string _preferredUiRapresentation;
};

class ICD_HOST_API ICDUiObject : public ICDUiAbstractObject {
public:
    ICDUiObject();  // host library
    ~ICDUiObject() override {}
    virtual int connectUi() { return 0; }
};
