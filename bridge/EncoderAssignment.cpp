// Installing a script's object as the Python encoder of one field: the transcoder is picked by
// the field's value-type code. Runs on a script thread with the script's session held, which the
// transcoder constructors need. The transcoder calls the encoder in the session of the script
// that installed it (the rule of PySession::current), which need not be this bridge's: any script
// reaches any bridge through the handler key.
#include <iostream>

#include "ICDHandler.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "PyInterpreter.h"
#include "bridge/ProxyPluginPyHandlerInterface.h"
#include "plugin/ProxyPythonPlugin.h"
#include "transcoders/ProxyPluginPyNumericTranscoder.h"
#include "transcoders/ProxyPluginPyStringTranscoder.h"
#include "plugin/ScriptErrors.h"
#include "PrintLine.h"

namespace {

// Offers `transcoder` to the field through the overload of `Interface`. An accepted transcoder
// belongs to the field. A refused one stays ours: its Python references are released while the
// session is still held, then it is deleted, so neither it nor the encoder's references leak.
template <typename Interface, typename Transcoder>
bool offer(ICDGenericMessageField* field, Transcoder* transcoder) {
    if (field->setTranscoder(static_cast<Interface*>(transcoder))) {
        return true;
    }
    transcoder->releasePythonReferences();
    delete transcoder;
    return false;
}

template <typename T>
bool installNumeric(ICDGenericMessageField* field, PySession* session, PyObject* encoder,
                    bool alwaysEnterSession, bool pythonDriver) {
    return offer<ICDGenericTranscoder<T>>(
        field,
        new ProxyPluginPyNumericTranscoder<T>(session, encoder, alwaysEnterSession, pythonDriver));
}

}  // namespace

PyObject* ProxyPluginPyHandlerInterface::setEncodingFrom(std::string message, std::string field,
                                                         PyObject* encoder) {
    if (_handler == nullptr) {
        return PyBool_FromLong(0);
    }
    ICDMessage* owner = _handler->findMessage(message);
    if (owner == nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "setEncoding Error::No Message named ", message);
        return PyBool_FromLong(0);
    }
    const bool alwaysEnterSession = owner->_alwaysEnterSession;
    ICDGenericMessageField* target = owner->findMessageField(field);
    const bool pythonDriver = ProxyPythonPlugin::glob_python_driver_set.count(_handler) != 0;
    if (pythonDriver) {
        ppp_output::printLine(std::cout, "INFO:: Using Python Encoder within a Python Bus Driver");
    }
    if (target == nullptr) {
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "setEncoding Error::No Field named ", field,
                              " in Message named ", message);
        return PyBool_FromLong(0);
    }

    PySession* session = PySession::current();
    if (session == nullptr) {
        session = _session;  // a host's own interpreter: the bridge's session is all there is
    }
    bool accepted = false;
    switch (target->getDataType()) {
        case ICD_TYPE_BITS:
        case ICD_TYPE_UINT:
            accepted = installNumeric<unsigned int>(target, session, encoder, alwaysEnterSession,
                                                    pythonDriver);
            break;
        case ICD_TYPE_SHORT:
            accepted =
                installNumeric<short>(target, session, encoder, alwaysEnterSession, pythonDriver);
            break;
        case ICD_TYPE_USHORT:
            accepted = installNumeric<unsigned short>(target, session, encoder, alwaysEnterSession,
                                                      pythonDriver);
            break;
        case ICD_TYPE_INT:
            accepted =
                installNumeric<int>(target, session, encoder, alwaysEnterSession, pythonDriver);
            break;
        case ICD_TYPE_LONG:
            accepted =
                installNumeric<long>(target, session, encoder, alwaysEnterSession, pythonDriver);
            break;
        case ICD_TYPE_ULONG:
            accepted = installNumeric<unsigned long>(target, session, encoder, alwaysEnterSession,
                                                     pythonDriver);
            break;
        case ICD_TYPE_LONGLONG:
            accepted = installNumeric<long long>(target, session, encoder, alwaysEnterSession,
                                                 pythonDriver);
            break;
        case ICD_TYPE_ULONGLONG:
            accepted = installNumeric<unsigned long long>(target, session, encoder,
                                                          alwaysEnterSession, pythonDriver);
            break;
        case ICD_TYPE_FLOAT:
            accepted =
                installNumeric<float>(target, session, encoder, alwaysEnterSession, pythonDriver);
            break;
        case ICD_TYPE_DOUBLE:
            accepted =
                installNumeric<double>(target, session, encoder, alwaysEnterSession, pythonDriver);
            break;
        case ICD_TYPE_STRING:
            accepted = offer<ICDStringTranscoder>(
                target, new ProxyPluginPyStringTranscoder(session, encoder, alwaysEnterSession,
                                                          pythonDriver));
            break;
        default:
            break;  // no transcoder for this code
    }

    // The name the field reports now: the new encoder's after success, the current one's after a
    // failure.
    if (accepted) {
        ppp_output::printLine(std::cout, "INFO:: Encoder '", target->getEncoderName(),
                              "' on field '", target->getName(), "' applied properly");
        return PyBool_FromLong(1);
    }
    ProxyPythonPluginNS::noteScriptError();
    ppp_output::printLine(std::cout, "ERROR:: Encoder '", target->getEncoderName(), "' on field '",
                          target->getName(), "' failed");
    return PyBool_FromLong(0);
}
