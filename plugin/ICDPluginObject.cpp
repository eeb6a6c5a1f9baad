// The non-inline part of the plug-in object model. The accessors stay inline in the SDK header so
// that a host compiles them without linking the plug-in library.
#include "ICDPluginObject.h"

ICDPluginObject::ICDPluginObject(std::string name) : _name(std::move(name)), _handler(nullptr) {}

ICDPluginObject::~ICDPluginObject() {
    // setICDHandler keeps the object registered on the stored handler only, so this is the one
    // registration left; afterwards no delivery reaches the object being destroyed.
    if (_handler != nullptr) {
        _handler->unregisterUiObject(this);
    }
}

std::string ICDPluginObject::getVersion() {
    return std::string();
}
