// A PCI or USB device as the device classes describe it: Windows-style
// instance id, name, class, driver and problem code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrix::linux_provider {

class SystemTree;
class IdsDatabase;

enum class Bus { Pci, Usb };

struct PnpDevice {
    Bus bus = Bus::Pci;
    std::string sysName;     // "0000:00:1f.3", "1-2"
    std::string sysfsPath;   // resolved, e.g. "/sys/devices/pci0000:00/0000:00:1f.3"
    std::string deviceId;    // "PCI\VEN_8086&DEV_...\..." or "USB\VID_...\..."
    std::string name;
    std::optional<std::string> manufacturer;
    std::string deviceClass;  // "NET", "DISPLAY", "USB", ...
    std::optional<std::string> driver;  // bound driver
    std::optional<std::string> location;
    std::int32_t errorCode = 0;  // 0, 22 disabled, 28 no driver
    std::uint32_t pciClass = 0;  // 24-bit class code (PCI only)
};

// Device class names for PCI class codes and USB interface classes.
std::string pciDeviceClass(std::uint32_t classCode);
std::string usbDeviceClass(std::uint8_t usbClass);

std::vector<PnpDevice> readPciDevices(SystemTree& files, IdsDatabase& ids);
std::vector<PnpDevice> readUsbDevices(SystemTree& files, IdsDatabase& ids);
// Gives devices that share a name Windows' numbering: "Name", "Name #2", ...
void numberDuplicateNames(std::vector<PnpDevice>& devices);

}  // namespace veltrix::linux_provider
