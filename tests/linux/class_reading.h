// Reading a provider's classes in tests: a failed query or a missing
// property is a test failure, not a crash.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "wmi/class_source.h"

namespace veltrix::test {

inline const std::vector<wmi::ObjectPtr>& list(wmi::ClassSource& source, const char* className) {
    auto result = source.instances("root\\cimv2", className);
    if (!result) ADD_FAILURE() << className << ": " << result.failure().description;
    static const std::vector<wmi::ObjectPtr> kEmpty;
    return result ? **result : kEmpty;
}

inline wmi::Value prop(const wmi::ObjectPtr& object, const char* name) {
    auto v = object->get(name);
    if (!v) ADD_FAILURE() << "no property " << name;
    return v ? *v : wmi::Value();
}

}  // namespace veltrix::test
