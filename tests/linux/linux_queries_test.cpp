// The inventory's own queries, run through the shared query service over
// the Linux source: the value kinds must suit the filters.
#include <gtest/gtest.h>

#include "providers/linux/linux_source.h"
#include "wmi/table_service.h"

namespace wmi = veltrix::wmi;
using veltrix::linux_provider::LinuxSource;
using veltrix::linux_provider::LinuxSourceOptions;

namespace {
std::vector<std::string> column(wmi::Service& service, std::string_view wql, const char* property) {
    std::vector<std::string> out;
    auto connection = service.connect(wmi::kWmiMoniker);
    EXPECT_TRUE(connection.ok());
    if (!connection) return out;
    auto rs = (*connection)->execQuery(wql, "WQL", wmi::kQueryFlags);
    EXPECT_TRUE(rs.ok()) << wql << ": " << (rs.ok() ? "" : rs.failure().description);
    if (!rs) return out;
    for (;;) {
        auto next = (*rs)->next();
        if (!next || !*next) break;
        auto v = (*next)->get(property);
        out.push_back(v ? v->toText().value() : "<missing>");
    }
    return out;
}

LinuxSource machine(const char* name) {
    const std::string data = std::string(VELTRIX_TEST_DATA) + "/linux/";
    LinuxSourceOptions options;
    options.pciIdsPath = data + "ids/pci.ids";
    options.usbIdsPath = data + "ids/usb.ids";
    return LinuxSource(data + name, options);
}
}  // namespace

TEST(LinuxQueries, CollectorFiltersSelectTheRightObjects) {
    LinuxSource laptop = machine("laptop");
    wmi::TableService service(laptop);
    // The empty card reader (Null size) and nothing else is dropped.
    EXPECT_EQ(column(service, "Select * from Win32_DiskDrive Where Size >'268435456'", "Model"),
              (std::vector<std::string>{"SAMSUNG MZVLB512HBJQ-000L7", "Cruzer Blade"}));
    EXPECT_EQ(column(service, "Select * from Win32_LogicalDisk Where DriveType ='2'", "DeviceID"),
              (std::vector<std::string>{"/media/user/STICK", "/dev/sdc"}));
    EXPECT_EQ(column(service, "Select * from Win32_PnPEntity Where ConfigManagerErrorCode <> '0'", "Name"),
              (std::vector<std::string>{"Mystery Gadget"}));
    EXPECT_EQ(column(service, "SELECT * FROM Win32_PnPSignedDriver WHERE DeviceClass='HIDCLASS'", "DeviceName"),
              (std::vector<std::string>{"M105 Optical Mouse"}));
    EXPECT_EQ(column(service,
                     "SELECT * FROM Win32_PnPSignedDriver WHERE (Location LIKE '%PCI%') OR DeviceClass='USB' OR "
                     "DeviceClass='HDC' OR (DeviceID LIKE '%NRV0%')",
                     "DeviceName").size(),
              5u);
    EXPECT_EQ(column(service, "SELECT AttachedTo,Caption FROM Win32_POTSModem WHERE PNPDeviceID IS NOT NULL",
                     "Caption"),
              std::vector<std::string>{});

    LinuxSource vm = machine("vm");
    wmi::TableService vmService(vm);
    // Virtual interfaces have no connection id and are not listed.
    EXPECT_EQ(column(vmService, "SELECT * FROM Win32_NetworkAdapter WHERE NetConnectionID  > 0 ", "Description"),
              (std::vector<std::string>{"Virtio network device"}));
    EXPECT_EQ(column(vmService, "SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = 'Virtio network device' ",
                     "MACAddress"),
              (std::vector<std::string>{"52:54:00:12:34:56"}));
}

TEST(LinuxQueries, SoftwareThroughTheRegistryMoniker) {
    LinuxSource desktop = machine("desktop");
    wmi::TableService service(desktop);
    auto registry = service.connectRegistry(wmi::kRegistryMoniker);
    ASSERT_TRUE(registry.ok()) << registry.failure().description;
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    auto keys = (*registry)->enumKey(wmi::kHkeyLocalMachine, key);
    ASSERT_TRUE(keys.ok());
    ASSERT_EQ(keys->size(), 3u);
    wmi::Value name, version;
    EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, key + "bash", "DisplayName", name), 0);
    EXPECT_EQ(name, wmi::Value::text("bash"));
    EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, key + "bash", "DisplayVersion", version), 0);
    EXPECT_EQ(version, wmi::Value::text("5.2.15-2+b2"));
    EXPECT_NE((*registry)->getStringValue(wmi::kHkeyLocalMachine, key + "bash", "QuietDisplayName", name), 0);
    EXPECT_TRUE(name.isNull());
    // A value read into one that held a longer text keeps none of it.
    EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, key + "bash", "DisplayName", version), 0);
    EXPECT_EQ(version, wmi::Value::text("bash"));
}
