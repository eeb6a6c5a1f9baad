// The value types behind the field type codes: names as ICD files spell them, the C++ type of
// each numeric code, and the default conversion between a value and its raw word.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "ICDMessageField.h"

namespace icdhost_types {

template <typename T>
struct TypeTag {
    using type = T;
};

// Calls f(TypeTag<T>{}) with the engineering type T of a numeric code (502..512) and returns
// true; returns false, calling nothing, for the string code and for codes without a value type.
template <typename F>
bool withNumericType(unsigned int code, F&& f) {
    switch (code) {
        case ICD_TYPE_BITS:
        case ICD_TYPE_UINT:
            f(TypeTag<unsigned int>{});
            return true;
        case ICD_TYPE_SHORT:
            f(TypeTag<short>{});
            return true;
        case ICD_TYPE_USHORT:
            f(TypeTag<unsigned short>{});
            return true;
        case ICD_TYPE_INT:
            f(TypeTag<int>{});
            return true;
        case ICD_TYPE_LONG:
            f(TypeTag<long>{});
            return true;
        case ICD_TYPE_ULONG:
            f(TypeTag<unsigned long>{});
            return true;
        case ICD_TYPE_LONGLONG:
            f(TypeTag<long long>{});
            return true;
        case ICD_TYPE_ULONGLONG:
            f(TypeTag<unsigned long long>{});
            return true;
        case ICD_TYPE_FLOAT:
            f(TypeTag<float>{});
            return true;
        case ICD_TYPE_DOUBLE:
            f(TypeTag<double>{});
            return true;
        default:
            return false;
    }
}

inline bool isIntegerCode(unsigned int code) {
    return code >= ICD_TYPE_BITS && code <= ICD_TYPE_ULONGLONG;
}
inline bool hasValueType(unsigned int code) {
    return code >= ICD_TYPE_BITS && code <= ICD_TYPE_STRING;
}

// The type name of a code with one, else null.
const char* typeName(unsigned int code);
// The code of a type name; false for a name that is not one of ours.
bool typeCodeOf(const std::string& name, unsigned int* code);

// Two's complement in the width of T, zero-extended; IEEE bits for float (low 32) and double.
template <typename T>
std::uint64_t defaultEncode(T value) {
    if constexpr (std::is_same_v<T, float>) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    } else if constexpr (std::is_same_v<T, double>) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    } else {
        return static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value));
    }
}

// The low bits of the width of T, read back as T.
template <typename T>
T defaultDecode(std::uint64_t raw) {
    if constexpr (std::is_same_v<T, float>) {
        const auto bits = static_cast<std::uint32_t>(raw);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    } else if constexpr (std::is_same_v<T, double>) {
        double value;
        std::memcpy(&value, &raw, sizeof value);
        return value;
    } else {
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(raw));
    }
}

}  // namespace icdhost_types
