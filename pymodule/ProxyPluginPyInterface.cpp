// The per-script registry object and the process-wide tables of scripts and handler bridges.
#include "pymodule/ProxyPluginPyInterface.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <shared_mutex>
#include <string_view>
#include <unordered_map>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "actions/ProxyPythonPluginAction.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "pymodule/PyCallUtils.h"
#include "transcoders/ProxyPluginPyBaseTrascoder.h"
#include "plugin/ScriptErrors.h"

std::int32_t ProxyPluginPyInterface::instance_id = 0;
std::vector<ProxyPluginPyInterface*> ProxyPluginPyInterface::_proxy_instance_vect;
std::map<std::string, ProxyPluginPyHandlerInterface*> ProxyPluginPyInterface::_proxy_handler_map;

namespace {

// Guards instance_id, _proxy_instance_vect and _proxy_handler_map: a plug-in may initialise on
// the host's thread while another plug-in's bridge thread looks an identifier or a key up.
// Held only for the lookup or the insertion itself, never while Python runs: a leaf
// (docs/design.md).
std::shared_mutex& registryMutex() {
    static std::shared_mutex* mutex = new std::shared_mutex();  // used during process exit too
    return *mutex;
}

// Hash indexes of _proxy_instance_vect and _proxy_handler_map, guarded by registryMutex() too.
// Entries are only ever added, first one wins, as a search of the vector or the map would find.
// The views point into identifierTexts and keyTexts (a deque never moves its elements), never
// into the vector or the map: those are destroyed when the process exits, while a script's own
// thread may still look a key up.
struct RegistryIndex {
    std::deque<std::string> identifierTexts;
    std::deque<std::string> keyTexts;
    std::unordered_map<std::string_view, ProxyPluginPyInterface*> byIdentifier;
    std::unordered_map<std::string_view, ProxyPluginPyHandlerInterface*> byKey;
    // Every bridge by handler key and the interpreter of the plug-in that made it: with a lock per
    // interpreter a script's lookups resolve to its own plug-in's bridge.
    std::map<std::pair<std::string_view, const PyInterpreterState*>, ProxyPluginPyHandlerInterface*>
        byKeyInInterpreter;
};

RegistryIndex& registryIndex() {
    static RegistryIndex* index = new RegistryIndex();  // lookups may run during process exit
    return *index;
}

// The calling thread's last successful lookup in one index: a script calls the module with its
// own identifier and handler key again and again, and this answers without the lock. It stays
// right for ever, since entries are never removed nor replaced; failures are not remembered, as
// the text may be registered later.
template <typename Value>
struct LastFound {
    char text[64];
    std::size_t length;
    Value* value;
};

thread_local LastFound<ProxyPluginPyInterface> lastInterface = {};
thread_local LastFound<ProxyPluginPyHandlerInterface> lastBridge = {};
// The last lookup by key and interpreter, and that interpreter.
thread_local LastFound<ProxyPluginPyHandlerInterface> lastOwnBridge = {};
thread_local const PyInterpreterState* lastOwnInterpreter = nullptr;

// The bridge of `key` that the plug-in running in the calling thread's interpreter made; the
// first bridge of the key when that plug-in made none for it (or no interpreter is held).
ProxyPluginPyHandlerInterface* lookUpOwnBridge(std::string_view wanted) {
    PyThreadState* current = pycompat::currentThreadStateUnchecked();
    const PyInterpreterState* interpreter =
        current != nullptr ? pycompat::interpreterOf(current) : nullptr;
    LastFound<ProxyPluginPyHandlerInterface>& last = lastOwnBridge;
    if (last.value != nullptr && interpreter == lastOwnInterpreter &&
        wanted.size() == last.length && std::memcmp(wanted.data(), last.text, last.length) == 0) {
        return last.value;
    }
    ProxyPluginPyHandlerInterface* value = nullptr;
    {
        std::shared_lock<std::shared_mutex> lock(registryMutex());
        RegistryIndex& index = registryIndex();
        auto own = index.byKeyInInterpreter.find({wanted, interpreter});
        if (own != index.byKeyInInterpreter.end()) {
            value = own->second;
        } else {
            auto first = index.byKey.find(wanted);
            value = first != index.byKey.end() ? first->second : nullptr;
        }
    }
    if (value != nullptr && wanted.size() <= sizeof last.text) {
        std::memcpy(last.text, wanted.data(), wanted.size());
        last.length = wanted.size();
        last.value = value;
        lastOwnInterpreter = interpreter;
    }
    return value;
}

template <typename Value>
Value* lookUp(const std::unordered_map<std::string_view, Value*>& index, std::string_view wanted,
              LastFound<Value>& last) {
    if (last.value != nullptr && wanted.size() == last.length &&
        std::memcmp(wanted.data(), last.text, last.length) == 0) {
        return last.value;
    }
    Value* value = nullptr;
    {
        std::shared_lock<std::shared_mutex> lock(registryMutex());
        auto found = index.find(wanted);
        value = found != index.end() ? found->second : nullptr;
    }
    if (value != nullptr && wanted.size() <= sizeof last.text) {
        std::memcpy(last.text, wanted.data(), wanted.size());
        last.length = wanted.size();
        last.value = value;
    }
    return value;
}

PyObject* newBool(bool value) {
    if (value) {
        Py_RETURN_TRUE;
    }
    Py_RETURN_FALSE;
}

void printRuntimeError(const char* text) {
    PyErr_SetString(PyExc_RuntimeError, text);
    ProxyPythonPluginNS::noteScriptError();
    pycompat::printPendingError();
}

ICDPluginActionType mapActionType(unsigned int type) {
    switch (type) {
        case ACTION_TYPE_MENU:
        case ACTION_TYPE_EX_GROUP:
        case ACTION_TYPE_CHECKABLE:
            return static_cast<ICDPluginActionType>(type);
        default:
            return ACTION_TYPE_NORMAL;
    }
}

const char* const kInvalidParent = "invalid parent id";
const char* const kPluginDeleted = "the plug-in object of this script has been deleted";

}  // namespace

// Holds an interface's _mutex. Re-entrant for the owning thread. Precondition: none as to the
// interpreter; a thread that must wait for another owner releases the interpreter it holds while
// it waits, so nobody ever waits on _mutex holding an interpreter.
class InterfaceLock {
public:
    explicit InterfaceLock(ProxyPluginPyInterface& owner) : _owner(owner) {
        const std::thread::id self = std::this_thread::get_id();
        if (_owner._mutexOwner.load() == self) {
            ++_owner._mutexDepth;
            return;
        }
        if (!_owner._mutex.try_lock()) {
            PyInterpreterRelease release;
            // A Python encode or decode waiting here gives up the transcoder mutex: the owner may
            // be an action callable committing a message, waiting for that mutex. It is taken
            // back after this lock, the order action callables take the two in.
            TranscoderLockRelease transcoding;
            _owner._mutex.lock();
        }
        _owner._mutexOwner.store(self);
        _owner._mutexDepth = 1;
    }
    ~InterfaceLock() {
        if (--_owner._mutexDepth == 0) {
            _owner._mutexOwner.store(std::thread::id());
            _owner._mutex.unlock();
        }
    }
    InterfaceLock(const InterfaceLock&) = delete;
    InterfaceLock& operator=(const InterfaceLock&) = delete;

private:
    ProxyPluginPyInterface& _owner;
};

ProxyPluginPyInterface* ProxyPluginPyInterface::new_ProxyPluginPyInterface(
    ProxyPythonPlugin* owner) {
    std::unique_lock<std::shared_mutex> lock(registryMutex());
    const std::int32_t number = instance_id++;
    // The owner's address as the platform's sprintf "%p" writes it there: 16 upper-case digits.
    char identifier[96];
    std::snprintf(identifier, sizeof identifier, "%s#%d@%016lX", "proxyplugin", number,
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(owner)));
    auto* created = new ProxyPluginPyInterface(owner, identifier);
    _proxy_instance_vect.push_back(created);
    RegistryIndex& index = registryIndex();
    index.identifierTexts.emplace_back(identifier);
    index.byIdentifier.emplace(index.identifierTexts.back(), created);
    return created;
}

ProxyPluginPyInterface* ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(
    std::string identifier) {
    return lookUp(registryIndex().byIdentifier, identifier, lastInterface);
}

ProxyPluginPyInterface* ProxyPluginPyInterface::get_ProxyPluginPyInterfaceById(
    const char* identifier) {
    return lookUp(registryIndex().byIdentifier, identifier != nullptr ? identifier : "",
                  lastInterface);
}

ProxyPluginPyInterface::ProxyPluginPyInterface(ProxyPythonPlugin* owner, std::string identifier)
    : _plugin(owner),
      _identifier(std::move(identifier)),
      _onStart(nullptr),
      _onStop(nullptr),
      _onPluginAction(nullptr),
      _name(_identifier) {}

std::string ProxyPluginPyInterface::getIdentifier() const {
    return _identifier;
}

std::string ProxyPluginPyInterface::getName() const {
    std::lock_guard<std::mutex> lock(_nameMutex);
    return _name;
}

PyObject* ProxyPluginPyInterface::setSlot(PyObject** slot, PySession** sessionSlot,
                                          PyObject* callable) {
    PyObject* stored = nullptr;
    PyRef accepted = PyRef::steal(setCallbackByRef(&stored, callable));
    if (!accepted) {
        return nullptr;
    }
    PySession* registering = PySession::current();
    PyObject* previous = nullptr;
    PySession* previousSession = nullptr;
    {
        std::lock_guard<std::mutex> lock(_slotsMutex);
        previous = *slot;
        previousSession = *sessionSlot;
        *slot = stored;
        *sessionSlot = registering;
    }
    releaseInSession(previousSession, previous);
    return accepted.release();
}

PyObject* ProxyPluginPyInterface::setOnStart(PyObject* callable) {
    return setSlot(&_onStart, &_onStartSession, callable);
}

PyObject* ProxyPluginPyInterface::setOnStop(PyObject* callable) {
    return setSlot(&_onStop, &_onStopSession, callable);
}

PyObject* ProxyPluginPyInterface::setOnPluginAction(PyObject* callable) {
    return setSlot(&_onPluginAction, &_onPluginActionSession, callable);
}

void ProxyPluginPyInterface::setName(std::string name) {
    std::lock_guard<std::mutex> lock(_nameMutex);
    _name.swap(name);  // the old text is freed after the lock is released
}

template <typename Run>
bool ProxyPluginPyInterface::runSlot(PyObject* const& slot, PySession* const& sessionSlot,
                                     Run&& run) {
    for (;;) {
        PyObject* seen = nullptr;
        PySession* session = nullptr;
        {
            std::lock_guard<std::mutex> lock(_slotsMutex);
            seen = slot;
            session = sessionSlot;
        }
        if (seen == nullptr) {
            return false;
        }
        PySession::Use use(session);
        PyRef callable;
        {
            // Still the pair read above: its release, inside this session, has not happened.
            std::lock_guard<std::mutex> lock(_slotsMutex);
            if (slot == seen && sessionSlot == session) {
                callable = PyRef::borrow(seen);
            }
        }
        if (callable) {
            return run(callable.get());
        }
    }
}

namespace {

// A start or stop callable's run: true only when it returned True itself. Precondition: its
// session is held.
bool runLifecycleCallable(PyObject* callable) {
    if (!PyCallable_Check(callable)) {
        return false;
    }
    PyRef result = PyRef::steal(evalCallback(callable, nullptr));
    return result.get() == Py_True;
}

}  // namespace

bool ProxyPluginPyInterface::start() {
    return runSlot(_onStart, _onStartSession, runLifecycleCallable);
}

bool ProxyPluginPyInterface::stop() {
    return runSlot(_onStop, _onStopSession, runLifecycleCallable);
}

void ProxyPluginPyInterface::onPluginAction(unsigned int id) {
    runSlot(_onPluginAction, _onPluginActionSession, [&](PyObject* callable) {
        if (!PyCallable_Check(callable)) {
            return false;
        }
        PyRef args = PyRef::steal(Py_BuildValue("(i)", static_cast<int>(id)));
        if (!args) {
            ProxyPythonPluginNS::noteScriptError();
            pycompat::printPendingError();
            return false;
        }
        {
            InterfaceLock lock(*this);
            PyRef result = PyRef::steal(PyObject_CallObject(callable, args.get()));
        }
        if (PyErr_Occurred() != nullptr) {
            ProxyPythonPluginNS::noteScriptError();
            pycompat::printPendingError();
        }
        return true;
    });
}

PyObject* ProxyPluginPyInterface::setChecked(unsigned int id, bool value) {
    auto found = _actionsById.find(id);
    if (found == _actionsById.end() || found->second == nullptr ||
        found->second->getActionType() != ACTION_TYPE_CHECKABLE) {
        return newBool(false);
    }
    ICDPluginAction* action = found->second;
    {
        InterfaceLock lock(*this);
        stop();
        action->setChecked(value);
    }
    return newBool(true);
}

PyObject* ProxyPluginPyInterface::getChecked(unsigned int id) {
    auto found = _actionsById.find(id);
    if (found == _actionsById.end() || found->second == nullptr ||
        found->second->getActionType() != ACTION_TYPE_CHECKABLE) {
        Py_RETURN_NONE;
    }
    return newBool(found->second->getChecked());
}

bool ProxyPluginPyInterface::findParent(int parentId, ICDPluginAction*& parent) {
    parent = nullptr;
    if (parentId <= 0) {
        return true;
    }
    auto found = _actionsById.find(static_cast<unsigned int>(parentId));
    if (found == _actionsById.end()) {
        printRuntimeError(kInvalidParent);
        return false;
    }
    parent = found->second;
    return true;
}

PyObject* ProxyPluginPyInterface::addAction(unsigned int id, char* name, unsigned int type,
                                            int parentId) {
    const std::string actionName = name != nullptr ? name : "";
    ICDPluginAction* parent = nullptr;
    if (!findParent(parentId, parent)) {
        Py_RETURN_NONE;
    }

    ICDPluginAction* action = nullptr;
    if (parent != nullptr) {
        action = new ICDPluginAction(id, actionName, mapActionType(type), ACTION_KIND_MENU, parent);
        parent->_children.push_back(action);
    } else {
        InterfaceLock lock(*this);
        if (_plugin == nullptr) {
            printRuntimeError(kPluginDeleted);
            Py_RETURN_NONE;
        }
        action =
            new ICDPluginAction(id, actionName, mapActionType(type), ACTION_KIND_MENU, nullptr);
        _plugin->addPluginAction(action);
    }
    _actionsById.emplace(id, action);
    Py_RETURN_NONE;
}

PyObject* ProxyPluginPyInterface::addAction(unsigned int id, char* name, PyObject* callable,
                                            int parentId) {
    const std::string actionName = name != nullptr ? name : "";
    ICDPluginAction* parent = nullptr;
    if (!findParent(parentId, parent)) {
        return newBool(false);
    }

    // Not entered in _actionsById: a callable action is neither a parent nor checkable.
    if (parent != nullptr) {
        parent->_children.push_back(new ProxyPythonPluginAction(id, actionName, parent, callable));
        return newBool(true);
    }
    InterfaceLock lock(*this);
    if (_plugin == nullptr) {
        printRuntimeError(kPluginDeleted);
        return newBool(false);
    }
    _plugin->addPluginAction(new ProxyPythonPluginAction(id, actionName, nullptr, callable));
    return newBool(true);
}

void ProxyPluginPyInterface::addHandlerInterface(std::string key,
                                                 ProxyPluginPyHandlerInterface* bridge) {
    {
        std::unique_lock<std::shared_mutex> lock(registryMutex());
        RegistryIndex& index = registryIndex();
        index.keyTexts.push_back(key);
        const std::string_view text = index.keyTexts.back();
        auto added = _proxy_handler_map.emplace(std::move(key), bridge);
        if (added.second) {
            index.byKey.emplace(text, bridge);
        }
        PySession* session = bridge != nullptr ? bridge->getSession() : nullptr;
        if (session != nullptr && session->interpreter() != nullptr) {
            index.byKeyInInterpreter.emplace(std::make_pair(text, session->interpreter()), bridge);
        }
    }
    if (bridge != nullptr) {
        bridge->init();
    }
}

ProxyPluginPyHandlerInterface* ProxyPluginPyInterface::getHandlerInterface(const std::string& key) {
    return getHandlerInterface(key.c_str());
}

ProxyPluginPyHandlerInterface* ProxyPluginPyInterface::getHandlerInterface(const char* key) {
    if (PyMainInterp::ownLocks()) {
        return lookUpOwnBridge(key != nullptr ? key : "");
    }
    return lookUp(registryIndex().byKey, key != nullptr ? key : "", lastBridge);
}

void ProxyPluginPyInterface::attachTopLevelAction(ICDPluginAction* action) {
    InterfaceLock lock(*this);
    if (_plugin != nullptr) {
        _plugin->addPluginAction(action);
    }
}

void ProxyPluginPyInterface::detachPlugin() {
    InterfaceLock lock(*this);
    _plugin = nullptr;
}
