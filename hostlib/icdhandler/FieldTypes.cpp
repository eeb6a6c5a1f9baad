// The field type codes' names, C++ value types and default raw-word conversions.
#include "FieldTypes.h"

namespace icdhost_types {

namespace {

struct NamedType {
    const char* name;
    unsigned int code;
};

constexpr NamedType namedTypes[] = {
    {"bits", ICD_TYPE_BITS},   {"short", ICD_TYPE_SHORT},       {"ushort", ICD_TYPE_USHORT},
    {"int", ICD_TYPE_INT},     {"uint", ICD_TYPE_UINT},         {"long", ICD_TYPE_LONG},
    {"ulong", ICD_TYPE_ULONG}, {"longlong", ICD_TYPE_LONGLONG}, {"ulonglong", ICD_TYPE_ULONGLONG},
    {"float", ICD_TYPE_FLOAT}, {"double", ICD_TYPE_DOUBLE},     {"string", ICD_TYPE_STRING},
};

}  // namespace

const char* typeName(unsigned int code) {
    for (const auto& type : namedTypes) {
        if (type.code == code) {
            return type.name;
        }
    }
    return nullptr;
}

bool typeCodeOf(const std::string& name, unsigned int* code) {
    for (const auto& type : namedTypes) {
        if (name == type.name) {
            *code = type.code;
            return true;
        }
    }
    return false;
}

}  // namespace icdhost_types
