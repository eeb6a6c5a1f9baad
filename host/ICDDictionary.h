// The host's dictionary of typed values handed to and from dictionary actions. Copied by value.
#pragma once

#include <map>
#include <string>
#include <variant>
#include <vector>

#include "ICDPlatform.h"

class ICD_HOST_API ICDDictionary {
public:
    using Value = std::variant<bool, long, double, std::string>;

    // Keys in ascending byte order of their text: deterministic, whatever the insertion order.
    std::vector<std::string> keys() const;
    bool isBoolean(const std::string& key) const;
    bool isLong(const std::string& key) const;
    bool isDouble(const std::string& key) const;
    bool isString(const std::string& key) const;

    // Setting a key replaces its value and its type.
    void setBoolean(const std::string& key, bool value);
    void setLong(const std::string& key, long value);
    void setDouble(const std::string& key, double value);
    void setString(const std::string& key, const std::string& value);

    // A missing key, or one of another type, gives false, 0, 0.0 or the empty text.
    bool getBoolean(const std::string& key) const;
    long getLong(const std::string& key) const;
    double getDouble(const std::string& key) const;
    std::string getString(const std::string& key) const;

    bool contains(const std::string& key) const;
    bool remove(const std::string& key);
    void clear();
    std::size_t size() const;
    bool empty() const;
    const std::map<std::string, Value>& values() const { return _values; }

    bool operator==(const ICDDictionary& other) const { return _values == other._values; }

private:
    std::map<std::string, Value> _values;
};
