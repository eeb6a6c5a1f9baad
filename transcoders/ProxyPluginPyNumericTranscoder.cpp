#include "ProxyPluginPyNumericTranscoder.h"

#include <iostream>
#include <type_traits>

#include "pymodule/PyCallUtils.h"
#include "PyRef.h"

namespace {

// T's format unit of Python's value building and argument parsing, and the one-argument tuple
// format built from it. "l" and "k" follow the platform's long. Null for any other T.
template <typename T>
struct NumericFormat {
    static constexpr const char* unit = nullptr;
    static constexpr const char* tuple = nullptr;
};
#define PPP_NUMERIC_FORMAT(T, UNIT)                        \
    template <>                                            \
    struct NumericFormat<T> {                              \
        static constexpr const char* unit = UNIT;          \
        static constexpr const char* tuple = "(" UNIT ")"; \
    }
PPP_NUMERIC_FORMAT(int, "i");
PPP_NUMERIC_FORMAT(unsigned int, "I");
PPP_NUMERIC_FORMAT(short, "h");
PPP_NUMERIC_FORMAT(unsigned short, "H");
PPP_NUMERIC_FORMAT(long, "l");
PPP_NUMERIC_FORMAT(unsigned long, "k");
PPP_NUMERIC_FORMAT(long long, "L");
PPP_NUMERIC_FORMAT(unsigned long long, "K");
PPP_NUMERIC_FORMAT(float, "f");
PPP_NUMERIC_FORMAT(double, "d");
#undef PPP_NUMERIC_FORMAT

// The raw word's format: signed words reach Python as negative ints when the top bit is set.
template <typename R>
constexpr const char* rawTupleFormat() {
    static_assert(std::is_same_v<R, long long> || std::is_same_v<R, unsigned long long>);
    return std::is_same_v<R, long long> ? "(L)" : "(K)";
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
    if (object != nullptr && PyObject_HasAttrString(object, "name")) {
        PyRef name = PyRef::steal(PyObject_GetAttrString(object, "name"));
        PyRef bytes = PyRef::steal(name ? encodeLocaleUpToNul(name.get()) : nullptr);
        if (bytes) {
            this->_name = PyBytes_AsString(bytes.get());
        }
        // A name that is not text, or not representable, keeps the default and leaves no error.
        PyErr_Clear();
    }
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
    PyErr_Clear();
    if (_encodeMethod == nullptr || !PyCallable_Check(_encodeMethod)) {
        PyErr_SetString(PyExc_MemoryError, "encode method no more availlable");
        return errorPath("encode");
    }
    PyRef result;
    {
        // Short and float arguments are widened to int and double by the variadic call.
        PyRef args = PyRef::steal(Py_BuildValue(NumericFormat<T>::tuple, value));
        if (args) {
            result = PyRef::steal(PyObject_Call(_encodeMethod, args.get(), nullptr));
        }
    }
    if (PyErr_Occurred()) {
        return errorPath("encode");
    }
    if (!result) {
        _lastError = "ERROR: encode returns none object";
        std::cerr << _lastError << std::endl;
        return false;
    }
    // Accepts ints only; negative values, floats and 2**64 - 1 or more all give the all-ones
    // word, which is refused although it is a valid bit pattern.
    const unsigned long long converted = PyLong_AsUnsignedLongLong(result.get());
    if (converted == kAllOnes) {
        PyErr_Clear();  // a rejected result leaves nothing pending for the script
        std::cerr << "ERROR: return value out of range" << std::endl;
        return false;
    }
    *raw = converted;
    return true;
}

template <typename T>
template <typename R>
bool ProxyPluginPyNumericTranscoder<T>::_decode(R raw, T* value) {
    PyErr_Clear();
    if (_decodeMethod == nullptr || !PyCallable_Check(_decodeMethod)) {
        PyErr_SetString(PyExc_MemoryError, "decode method no more availlable");
        return errorPath("decode");
    }
    PyRef result;
    {
        PyRef args = PyRef::steal(Py_BuildValue(rawTupleFormat<R>(), raw));
        if (args) {
            result = PyRef::steal(PyObject_Call(_decodeMethod, args.get(), nullptr));
        }
    }
    if (PyErr_Occurred()) {
        return errorPath("decode");
    }
    if (!result) {
        std::cerr << "ERROR: decode returns none object" << std::endl;
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
    std::cerr << "ERROR: " << direction << " returns python errors" << std::endl
              << _lastError << std::endl;
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
