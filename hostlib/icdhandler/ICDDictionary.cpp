// The host's dictionary of typed values: typed look-ups and the list of keys.
#include "ICDDictionary.h"

namespace {

template <typename T>
const T* find(const std::map<std::string, ICDDictionary::Value>& values, const std::string& key) {
    auto it = values.find(key);
    return it == values.end() ? nullptr : std::get_if<T>(&it->second);
}

}  // namespace

std::vector<std::string> ICDDictionary::keys() const {
    std::vector<std::string> result;
    result.reserve(_values.size());
    for (const auto& entry : _values) {
        result.push_back(entry.first);
    }
    return result;
}

bool ICDDictionary::isBoolean(const std::string& key) const {
    return find<bool>(_values, key) != nullptr;
}
bool ICDDictionary::isLong(const std::string& key) const {
    return find<long>(_values, key) != nullptr;
}
bool ICDDictionary::isDouble(const std::string& key) const {
    return find<double>(_values, key) != nullptr;
}
bool ICDDictionary::isString(const std::string& key) const {
    return find<std::string>(_values, key) != nullptr;
}

void ICDDictionary::setBoolean(const std::string& key, bool value) {
    _values[key] = value;
}
void ICDDictionary::setLong(const std::string& key, long value) {
    _values[key] = value;
}
void ICDDictionary::setDouble(const std::string& key, double value) {
    _values[key] = value;
}
void ICDDictionary::setString(const std::string& key, const std::string& value) {
    _values[key] = value;
}

bool ICDDictionary::getBoolean(const std::string& key) const {
    const bool* value = find<bool>(_values, key);
    return value != nullptr && *value;
}
long ICDDictionary::getLong(const std::string& key) const {
    const long* value = find<long>(_values, key);
    return value != nullptr ? *value : 0;
}
double ICDDictionary::getDouble(const std::string& key) const {
    const double* value = find<double>(_values, key);
    return value != nullptr ? *value : 0.0;
}
std::string ICDDictionary::getString(const std::string& key) const {
    const std::string* value = find<std::string>(_values, key);
    return value != nullptr ? *value : std::string();
}

bool ICDDictionary::contains(const std::string& key) const {
    return _values.count(key) != 0;
}
bool ICDDictionary::remove(const std::string& key) {
    return _values.erase(key) != 0;
}
void ICDDictionary::clear() {
    _values.clear();
}
std::size_t ICDDictionary::size() const {
    return _values.size();
}
bool ICDDictionary::empty() const {
    return _values.empty();
}
