// A query text parsed, and when it parses, evaluated against a small table
// whose objects hold every kind of value the providers produce.
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "wmi/property_object.h"
#include "wmi/wql/query.h"

namespace {

using veltrix::wmi::PropertyObject;
using veltrix::wmi::Value;

const std::vector<PropertyObject>& table() {
    static const std::vector<PropertyObject> objects = [] {
        std::vector<PropertyObject> t(3);
        t[0].set("Name", Value::text("Intel(R) PCI Express Root Port [x]"))
            .set("Size", Value::text("500107862016"))
            .set("Count", Value::int32(-7))
            .set("Flag", Value::boolean(true))
            .set("Score", Value::real32(5.9f))
            .set("Missing", Value::null());
        t[1].set("Name", Value::text("\xC3\xBC" "ber%_[^a-c]"))
            .set("Size", Value::text("-170141183460469231731687303715884105728"))
            .set("Count", Value::int32(2147483647))
            .set("Flag", Value::text("false"))
            .set("Score", Value::real64(1e308))
            .set("Missing", Value::text(""));
        t[2].set("Name", Value::text(std::string("nul\0byte", 8)))
            .set("Size", Value::text(" 12 "))
            .set("Count", Value::uint8(255))
            .set("Flag", Value::boolean(false))
            .set("Score", Value::real64(-0.0))
            .set("Ratio", Value::real64(std::numeric_limits<double>::quiet_NaN()))
            .set("List", Value::array({Value::int32(1), Value::text("a")}));
        return t;
    }();
    return objects;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto query = veltrix::wmi::wql::parse(text);
    if (!query) return 0;
    for (const PropertyObject& object : table()) veltrix::wmi::wql::matches(*query, object);
    return 0;
}
