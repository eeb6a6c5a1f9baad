// The plug-in object the host creates, starts, stops and deletes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ICDPlatform.h"
#include "ICDHandler.h"
#include "ICDPluginAction.h"
#include "ICDUiObject.h"

// Defined in full in this header: a host compiles the whole class itself, its type information
// included, and needs no link against the plug-in library (UndefinedBehaviorSanitizer's vptr
// check on a host's calls needs that type information too). The plug-in library still emits and
// exports the constructor, destructor and getVersion, for modules that link against it.
#if defined(PPP_BUILDING) && !defined(_WIN32)
#define PPP_EXPORTED_INLINE PPP_API __attribute__((used))
#else
#define PPP_EXPORTED_INLINE
#endif

class PPP_API ICDPluginObject : public ICDUiObject {
public:
    PPP_EXPORTED_INLINE explicit ICDPluginObject(std::string name)
        : _name(std::move(name)), _handler(nullptr) {}
    PPP_EXPORTED_INLINE ~ICDPluginObject() override;

    virtual void onPluginAction(unsigned int id) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void onSetICDHandler(ICDHandler* handler) = 0;
    PPP_EXPORTED_INLINE virtual std::string getVersion() { return std::string(); }

    // Stores the handler and registers this object on it. A different handler set later replaces
    // the registration: the object stays registered on exactly the handler stored, so deleting
    // it never leaves a dangling registration behind. Does not call onSetICDHandler.
    void setICDHandler(ICDHandler* handler);
    ICDHandler* getICDHandler() const { return _handler; }
    void setFileName(std::string fileName) { _fileName = std::move(fileName); }
    std::string getFileName() const { return _fileName; }
    std::string getName() const { return _name; }
    // A null action is ignored; duplicates are not checked. The list does not own its actions.
    void addPluginAction(ICDPluginAction* action) {
        if (action != nullptr) {
            _actions.push_back(action);
        }
    }
    unsigned int getPluginActionSize() const { return static_cast<unsigned int>(_actions.size()); }
    ICDPluginAction* getPluginAction(unsigned int index) const {
        return index < _actions.size() ? _actions[index] : nullptr;
    }

protected:
    std::vector<ICDPluginAction*> _actions;
    std::string _name;
    std::string _fileName;
    ICDHandler* _handler;
};

inline ICDPluginObject::~ICDPluginObject() {
    // setICDHandler keeps the object registered on the stored handler only, so this is the one
    // registration left; afterwards no delivery reaches the object being destroyed.
    if (_handler != nullptr) {
        _handler->unregisterUiObject(this);
    }
}

inline void ICDPluginObject::setICDHandler(ICDHandler* handler) {
    if (_handler != nullptr && _handler != handler) {
        _handler->unregisterUiObject(this);
    }
    _handler = handler;
    if (_handler != nullptr) {
        _handler->registerUiObject(this);
    }
}

#undef PPP_EXPORTED_INLINE
