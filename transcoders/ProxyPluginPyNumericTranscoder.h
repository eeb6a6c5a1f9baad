// Transcoders of numeric fields: one template over the engineering value type T. `encode` hands
// Python the value (widened as variadic arguments are) and takes back the raw bus word, an int
// from 0 to 2**64 - 2; `decode` hands Python the raw word (signed or unsigned as the host asks)
// and parses the result with T's format unit. The ten types the host knows are instantiated in
// ProxyPluginPyNumericTranscoder.cpp; no other T is built.
#pragma once

#include <Python.h>

#include <string>

#include "ICDPlatform.h"
#include "ICDTranscoder.h"
#include "ProxyPluginPyBaseTrascoder.h"

template <typename T>
class PPP_API ProxyPluginPyNumericTranscoder : public ProxyPluginPyBaseTrascoder,
                                               public ICDGenericTranscoder<T> {
public:
    // Precondition: `session` is held. `object` is borrowed.
    ProxyPluginPyNumericTranscoder(PySession* session, PyObject* object, bool alwaysEnterSession,
                                   bool pythonDriver);
    ~ProxyPluginPyNumericTranscoder() override;

    // The output pointer must not be null.
    bool encode(T value, unsigned long long* raw) override;
    bool decode(unsigned long long raw, T* value) override;
    bool decode(long long raw, T* value) override;

    // Precondition: the caller holds transcoder_mutex and the session.
    bool _encode(T value, unsigned long long* raw);
    template <typename R>
    bool _decode(R raw, T* value);

private:
    bool errorPath(const char* direction);
};

extern template class ProxyPluginPyNumericTranscoder<short>;
extern template class ProxyPluginPyNumericTranscoder<unsigned short>;
extern template class ProxyPluginPyNumericTranscoder<int>;
extern template class ProxyPluginPyNumericTranscoder<unsigned int>;
extern template class ProxyPluginPyNumericTranscoder<long>;
extern template class ProxyPluginPyNumericTranscoder<unsigned long>;
extern template class ProxyPluginPyNumericTranscoder<long long>;
extern template class ProxyPluginPyNumericTranscoder<unsigned long long>;
extern template class ProxyPluginPyNumericTranscoder<float>;
extern template class ProxyPluginPyNumericTranscoder<double>;
