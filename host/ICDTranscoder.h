// Transcoder interfaces: convert a field's engineering value to and from its raw bus form.
// The host calls them from any thread; implementations must be safe for that.
#pragma once

#include <string>

#include "ICDPlatform.h"

template <typename T>
class ICDGenericTranscoder {
public:
    explicit ICDGenericTranscoder(std::string name) : _name(std::move(name)) {}
    virtual ~ICDGenericTranscoder() = default;
    ICDGenericTranscoder(const ICDGenericTranscoder&) = delete;
    ICDGenericTranscoder& operator=(const ICDGenericTranscoder&) = delete;

    virtual bool encode(T value, unsigned long long* raw) = 0;
    virtual bool decode(unsigned long long raw, T* value) = 0;
    virtual bool decode(long long raw, T* value) = 0;

    std::string getName() const { return _name; }

protected:
    std::string _name;
};

class ICDStringTranscoder {
public:
    explicit ICDStringTranscoder(std::string name) : _name(std::move(name)) {}
    virtual ~ICDStringTranscoder() = default;
    ICDStringTranscoder(const ICDStringTranscoder&) = delete;
    ICDStringTranscoder& operator=(const ICDStringTranscoder&) = delete;

    virtual bool encode(std::string value, std::string* raw) = 0;
    virtual bool decode(std::string raw, std::string* value) = 0;

    std::string getName() const { return _name; }

protected:
    std::string _name;
};

// A field accepts a transcoder only through the overload of its own value type; an accepted one
// belongs to the field from then on, a refused one stays the caller's.
class ICD_HOST_API ICDTranscodable {
public:
    virtual bool setTranscoder(ICDGenericTranscoder<unsigned short>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<short>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<unsigned int>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<int>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<unsigned long>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<long>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<unsigned long long>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<long long>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<float>* transcoder) = 0;
    virtual bool setTranscoder(ICDGenericTranscoder<double>* transcoder) = 0;
    virtual bool setTranscoder(ICDStringTranscoder* transcoder) = 0;
    virtual ~ICDTranscodable() = default;
};
