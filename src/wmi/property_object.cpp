#include "wmi/property_object.h"

#include "core/ascii.h"



namespace veltrix::wmi {

namespace {
bool sameName(std::string_view a, std::string_view b) { return equalsIgnoringCase(a, b); }
}  // namespace

Failure missingProperty(std::string_view name) {
    return Failure{failure_code::kNotFound, "Not found: the object has no property " + std::string(name)};
}

PropertyObject& PropertyObject::set(std::string name, Value value) {
    for (auto& [key, existing] : properties_) {
        if (sameName(key, name)) {
            existing = std::move(value);
            return *this;
        }
    }
    properties_.emplace_back(std::move(name), std::move(value));
    return *this;
}

const Value* PropertyObject::find(std::string_view name) const {
    for (const auto& [key, value] : properties_) {
        if (sameName(key, name)) return &value;
    }
    return nullptr;
}

Result<Value> PropertyObject::get(std::string_view name) const {
    if (const Value* v = find(name)) return *v;
    return missingProperty(name);
}

std::vector<std::string> PropertyObject::propertyNames() const {
    std::vector<std::string> names;
    names.reserve(properties_.size());
    for (const auto& [key, value] : properties_) names.push_back(key);
    return names;
}

}  // namespace veltrix::wmi
