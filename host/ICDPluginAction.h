// Plug-in actions: the entries a plug-in shows in the host's menus. Defined in full here because
// both the plug-in library and the interpreter library (PyPluginAction) derive from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ICDPlatform.h"
#include "ICDDictionary.h"

enum ICDPluginActionType : std::int32_t {
    ACTION_TYPE_NORMAL = 1,
    ACTION_TYPE_MENU = 2,
    ACTION_TYPE_EX_GROUP = 3,   // checking a child clears its checkable siblings
    ACTION_TYPE_CHECKABLE = 4,  // the only type whose checked flag is stored and reported
};

enum ICDPluginActionKind : std::int32_t {
    ACTION_KIND_MENU = 1,        // help and script menu actions
    ACTION_KIND_DICTIONARY = 3,  // a body that takes and returns dictionaries
};

// No virtual destructor: actions live until the process ends and are never deleted through this
// type.
class ICDPluginAction {
public:
    ICDPluginAction(unsigned int id, std::string name, ICDPluginActionType type,
                    ICDPluginActionKind kind, ICDPluginAction* parent)
        : _id(id),
          _name(std::move(name)),
          _checked(false),
          _type(type),
          _kind(kind),
          _parent(parent) {}

    virtual std::string help() { return std::string(); }
    virtual bool execute(ICDDictionary input, ICDDictionary* output) {
        (void)input;
        (void)output;
        return false;
    }

    unsigned int getId() const { return _id; }
    std::string getName() const { return _name; }
    ICDPluginActionType getActionType() const { return _type; }
    ICDPluginActionKind getActionKind() const { return _kind; }
    ICDPluginAction* getParent() const { return _parent; }
    const std::vector<ICDPluginAction*>& getChildren() const { return _children; }

    void setChecked(bool value) {
        if (_parent != nullptr && _parent->_type == ACTION_TYPE_EX_GROUP) {
            for (ICDPluginAction* child : _parent->_children) {
                if (child != nullptr && child->_type == ACTION_TYPE_CHECKABLE) {
                    child->_checked = false;
                }
            }
        }
        if (_type == ACTION_TYPE_CHECKABLE) {
            _checked = value;
        }
    }
    bool getChecked() const { return _type == ACTION_TYPE_CHECKABLE && _checked; }

    // Fixed-layout help text built from an action's input and output dictionaries (defined in
    // the plug-in library).
    PPP_API std::string getHelpFromDictionaries(ICDDictionary inputs, ICDDictionary outputs,
                                                std::string description);

    // Sub-actions in the order added; filled by whoever adds an action under this one; not owned.
    std::vector<ICDPluginAction*> _children;
    std::uint32_t _id;
    std::string _name;
    bool _checked;
    ICDPluginActionType _type;
    ICDPluginActionKind _kind;
    ICDPluginAction* _parent;
};

// Renders one dictionary, a line per key: four blanks, the key, " as TYPE".
PPP_API std::string DictionaryToString(ICDDictionary dictionary);
