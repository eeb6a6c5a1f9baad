// The plug-in object the host creates, starts, stops and deletes.
#pragma once

#include <string>
#include <vector>

#include "ICDPlatform.h"
#include "ICDHandler.h"
#include "ICDPluginAction.h"
#include "ICDUiObject.h"

class PPP_API ICDPluginObject : public ICDUiObject {
public:
    explicit ICDPluginObject(std::string name);
    ~ICDPluginObject() override;

    virtual void onPluginAction(unsigned int id) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void onSetICDHandler(ICDHandler* handler) = 0;
    virtual std::string getVersion();

    // Stores the handler and registers this object on it. A different handler set later replaces
    // the registration: the object stays registered on exactly the handler stored, so deleting
    // it never leaves a dangling registration behind. Does not call onSetICDHandler.
    // Defined here so that a host compiles them itself and needs no link against the plug-in.
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

inline void ICDPluginObject::setICDHandler(ICDHandler* handler) {
    if (_handler != nullptr && _handler != handler) {
        _handler->unregisterUiObject(this);
    }
    _handler = handler;
    if (_handler != nullptr) {
        _handler->registerUiObject(this);
    }
}
