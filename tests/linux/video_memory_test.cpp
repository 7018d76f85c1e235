// Video memory of 2 GiB and more, as a display driver reports it in sysfs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "providers/linux/linux_source.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

using wmi::Value;

Value adapterRamWith(const std::string& vramTotal) {
    test::TempFolder folder;
    const std::string data = std::string(VELTRIX_TEST_DATA) + "/linux/";
    std::filesystem::copy(data + "desktop", folder / "desktop",
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    std::ofstream(folder / "desktop/sys/devices/pci0000:00/0000:00:02.0/mem_info_vram_total") << vramTotal << "\n";
    linux_provider::LinuxSourceOptions options;
    options.pciIdsPath = data + "ids/pci.ids";
    options.usbIdsPath = data + "ids/usb.ids";
    linux_provider::LinuxSource source((folder / "desktop").string(), options);
    auto video = source.instances("root\\cimv2", "Win32_VideoController");
    if (!video || (*video)->size() != 1) {
        ADD_FAILURE() << "one video controller expected";
        return Value::null();
    }
    auto ram = (**video)[0]->get("AdapterRAM");
    return ram ? *ram : Value::text("no AdapterRAM");
}

// Reported as WMI reports the unsigned 32-bit property: the bit pattern in a
// signed number, and 0xFFF00000 for what does not fit.
TEST(LinuxVideoMemory, ReportsUpToTheUnsigned32BitCap) {
    EXPECT_EQ(adapterRamWith("1073741824"), Value::int32(1073741824));
    EXPECT_EQ(adapterRamWith("2147483648"), Value::int32(INT32_MIN));                    // 2048 MB
    EXPECT_EQ(adapterRamWith("4294967295"), Value::int32(-1));                           // the largest it holds
    EXPECT_EQ(adapterRamWith("4294967296"), Value::int32(static_cast<std::int32_t>(0xFFF00000u)));
    EXPECT_EQ(adapterRamWith("25769803776"), Value::int32(static_cast<std::int32_t>(0xFFF00000u)));  // 24 GiB
}

}  // namespace
}  // namespace veltrix
