// Transcoders of numeric fields: the script object's encode and decode called with numbers.
#include "ProxyPluginPyNumericTranscoder.h"

#include <iostream>
#include <type_traits>

#include "PyCompat.h"
#include "pymodule/PyCallUtils.h"
#include "PyRef.h"
#include "plugin/ScriptErrors.h"
#include "PrintLine.h"

namespace {

// T's format unit of Python's value building and argument parsing, and the C-API call that builds
// the Python value for that unit exactly as Py_BuildValue does (short and unsigned short widened
// to int, float to double, as variadic arguments are). Building directly saves parsing the format
// at every call, which is a good part of a call's own cost. "l" and "k" follow the platform's
// long. The unit is null for any other T.
template <typename T>
struct NumericFormat {
    static constexpr const char* unit = nullptr;
};
#define PPP_NUMERIC_FORMAT(T, UNIT, BUILD)                \
    template <>                                           \
    struct NumericFormat<T> {                             \
        static constexpr const char* unit = UNIT;         \
        static PyObject* build(T value) { return BUILD; } \
    }
PPP_NUMERIC_FORMAT(int, "i", PyLong_FromLong(value));
PPP_NUMERIC_FORMAT(unsigned int, "I", PyLong_FromUnsignedLong(value));
PPP_NUMERIC_FORMAT(short, "h", PyLong_FromLong(value));
PPP_NUMERIC_FORMAT(unsigned short, "H", PyLong_FromLong(value));
PPP_NUMERIC_FORMAT(long, "l", PyLong_FromLong(value));
PPP_NUMERIC_FORMAT(unsigned long, "k", PyLong_FromUnsignedLong(value));
PPP_NUMERIC_FORMAT(long long, "L", PyLong_FromLongLong(value));
PPP_NUMERIC_FORMAT(unsigned long long, "K", PyLong_FromUnsignedLongLong(value));
PPP_NUMERIC_FORMAT(float, "f", PyFloat_FromDouble(value));
PPP_NUMERIC_FORMAT(double, "d", PyFloat_FromDouble(value));
#undef PPP_NUMERIC_FORMAT

// The raw word as Python receives it: "L" for the signed decode (a word with the top bit set
// arrives negative), "K" for the unsigned one.
PyObject* buildRaw(long long raw) {
    return PyLong_FromLongLong(raw);
}
PyObject* buildRaw(unsigned long long raw) {
    return PyLong_FromUnsignedLongLong(raw);
}

// Calls `method` with one positional argument, `argument` (a new reference, released here; null
// leaves its error pending and calls nothing). A new reference, or null with an error pending:
// CPython turns a result that comes with a pending error into an error of its own.
PyObject* callWithOne(PyObject* method, PyObject* argument) {
    PyRef owned = PyRef::steal(argument);
    return owned ? pycompat::callOneArgument(method, owned.get()) : nullptr;
}

constexpr unsigned long long kAllOnes = ~0ULL;  // also PyLong_AsUnsignedLongLong's failure value

}  // namespace

template <typename T>
ProxyPluginPyNumericTranscoder<T>::ProxyPluginPyNumericTranscoder(PySession* session,
                                                                  PyObject* object,
                                                                  bool alwaysEnterSession,
                                                                  bool pythonDriver)
    : ProxyPluginPyBaseTrascoder(session, object, alwaysEnterSession, pythonDriver),
      ICDGenericTranscoder<T>("ProxyPluginPyTranscoder") {
    _format = NumericFormat<T>::unit;
    PyObject* found = nullptr;  // a new reference when the lookup finds a name
    if (object != nullptr && pycompat::lookupAttribute(object, "name", &found) > 0) {
        PyRef name = PyRef::steal(found);
        PyRef bytes = PyRef::steal(encodeLocaleUpToNul(name.get()));
        if (bytes) {
            this->_name = PyBytes_AsString(bytes.get());
        }
    }
    // A name that raises, is not text or is not representable keeps the default, quietly.
    PyErr_Clear();
    _valid = _valid && _format != nullptr;
}

// The references stay: see References in ProxyPluginPyBaseTrascoder.h.
template <typename T>
ProxyPluginPyNumericTranscoder<T>::~ProxyPluginPyNumericTranscoder() = default;

template <typename T>
bool ProxyPluginPyNumericTranscoder<T>::encode(T value, unsigned long long* raw) {
    if (!_valid) {
        return false;
    }
    return runInSession([&] { return _encode(value, raw); });
}

template <typename T>
bool ProxyPluginPyNumericTranscoder<T>::decode(unsigned long long raw, T* value) {
    if (!_valid) {
        return false;
    }
    return runInSession([&] { return _decode(raw, value); });
}

template <typename T>
bool ProxyPluginPyNumericTranscoder<T>::decode(long long raw, T* value) {
    if (!_valid) {
        return false;
    }
    return runInSession([&] { return _decode(raw, value); });
}

template <typename T>
bool ProxyPluginPyNumericTranscoder<T>::_encode(T value, unsigned long long* raw) {
    if (PyErr_Occurred()) {
        PyErr_Clear();
    }
    if (_encodeMethod == nullptr || !PyCallable_Check(_encodeMethod)) {
        PyErr_SetString(PyExc_MemoryError, "encode method no more availlable");
        return errorPath("encode");
    }
    PyRef result = PyRef::steal(callWithOne(_encodeMethod, NumericFormat<T>::build(value)));
    if (!result) {
        if (PyErr_Occurred()) {
            return errorPath("encode");
        }
        _lastError = "ERROR: encode returns none object";
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, _lastError);
        return false;
    }
    // Accepts ints only; negative values, floats and 2**64 - 1 or more all give the all-ones
    // word, which is refused although it is a valid bit pattern.
    const unsigned long long converted = PyLong_AsUnsignedLongLong(result.get());
    if (converted == kAllOnes) {
        PyErr_Clear();  // a rejected result leaves nothing pending for the script
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "ERROR: return value out of range");
        return false;
    }
    *raw = converted;
    return true;
}

template <typename T>
template <typename R>
bool ProxyPluginPyNumericTranscoder<T>::_decode(R raw, T* value) {
    static_assert(std::is_same_v<R, long long> || std::is_same_v<R, unsigned long long>);
    if (PyErr_Occurred()) {
        PyErr_Clear();
    }
    if (_decodeMethod == nullptr || !PyCallable_Check(_decodeMethod)) {
        PyErr_SetString(PyExc_MemoryError, "decode method no more availlable");
        return errorPath("decode");
    }
    PyRef result = PyRef::steal(callWithOne(_decodeMethod, buildRaw(raw)));
    if (!result) {
        if (PyErr_Occurred()) {
            return errorPath("decode");
        }
        ProxyPythonPluginNS::noteScriptError();
        ppp_output::printLine(std::cerr, "ERROR: decode returns none object");
        return false;
    }
    PyRef tuple = PyRef::steal(PyTuple_New(1));
    if (!tuple) {
        PyErr_Clear();
        return false;
    }
    PyTuple_SET_ITEM(tuple.get(), 0, result.release());  // steals the result
    T parsed{};
    if (!PyArg_ParseTuple(tuple.get(), _format, &parsed)) {
        PyErr_Clear();  // a rejected result leaves nothing pending for the script
        return false;
    }
    *value = parsed;
    // Any earlier failure of this transcoder that set _lastError makes decode report false, the
    // value stored all the same.
    return _lastError.empty();
}

template <typename T>
bool ProxyPluginPyNumericTranscoder<T>::errorPath(const char* direction) {
    // Takes the error out of the interpreter: nothing stays pending.
    _lastError = PyError2StdString(PyErr_Occurred());
    ProxyPythonPluginNS::noteScriptError();
    ppp_output::printLine(std::cerr, "ERROR: ", direction, " returns python errors", "\n",
                          _lastError);
    return false;
}

template class ProxyPluginPyNumericTranscoder<short>;
template class ProxyPluginPyNumericTranscoder<unsigned short>;
template class ProxyPluginPyNumericTranscoder<int>;
template class ProxyPluginPyNumericTranscoder<unsigned int>;
template class ProxyPluginPyNumericTranscoder<long>;
template class ProxyPluginPyNumericTranscoder<unsigned long>;
template class ProxyPluginPyNumericTranscoder<long long>;
template class ProxyPluginPyNumericTranscoder<unsigned long long>;
template class ProxyPluginPyNumericTranscoder<float>;
template class ProxyPluginPyNumericTranscoder<double>;
