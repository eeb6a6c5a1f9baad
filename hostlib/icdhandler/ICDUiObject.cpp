// UI objects' base behaviour: the default event handling, which refuses the events the host
// controls refuse, and the preferred representation.
#include "ICDUiObject.h"

#include "HostControls.h"

ICDUiAbstractObject::ICDUiAbstractObject() = default;

ICDUiAbstractObject::~ICDUiAbstractObject() = default;

bool ICDUiAbstractObject::consumeICDEvent(unsigned int event, unsigned long /*data*/) {
    return !icdhost_controls::isRefusedEvent(event);
}

void ICDUiAbstractObject::raiseICDEvent(unsigned int event) {
    consumeICDEvent(event, 0);
}

void ICDUiAbstractObject::setPreferredUiRapresentation(std::string representation) {
    _preferredUiRapresentation = std::move(representation);
}

std::string ICDUiAbstractObject::getPreferredUiRapresentation() {
    return _preferredUiRapresentation;
}

ICDUiObject::ICDUiObject() = default;
