// An object held in memory: ordered properties, looked up without regard to
// letter case. Used by every provider that is not live WMI.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wmi/service.h"

namespace veltrix::wmi {

class PropertyObject final : public Object {
public:
    PropertyObject() = default;
    explicit PropertyObject(std::vector<std::pair<std::string, Value>> properties)
        : properties_(std::move(properties)) {}

    // Replaces an existing property of the same name (any case) or appends.
    PropertyObject& set(std::string name, Value value);

    Result<Value> get(std::string_view name) const override;
    std::vector<std::string> propertyNames() const override;

    // nullptr when absent.
    const Value* find(std::string_view name) const;
    const std::vector<std::pair<std::string, Value>>& properties() const { return properties_; }

private:
    std::vector<std::pair<std::string, Value>> properties_;
};

// The failure for a property an object lacks.
Failure missingProperty(std::string_view name);

}  // namespace veltrix::wmi
