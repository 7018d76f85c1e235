#include "providers/linux/linux_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "linux/class_reading.h"
#include "support/temp_folder.h"

using veltrix::linux_provider::LinuxSource;
using veltrix::linux_provider::LinuxSourceOptions;
using veltrix::wmi::Kind;
using veltrix::wmi::ObjectPtr;
using veltrix::wmi::Value;

namespace {
const std::string kData = std::string(VELTRIX_TEST_DATA) + "/linux/";

LinuxSource machine(const std::string& name) {
    LinuxSourceOptions options;
    options.pciIdsPath = kData + "ids/pci.ids";
    options.usbIdsPath = kData + "ids/usb.ids";
    return LinuxSource(kData + name, options);
}

using veltrix::test::list;
using veltrix::test::prop;

std::string text(const ObjectPtr& object, const char* name) {
    Value v = prop(object, name);
    EXPECT_EQ(v.kind(), Kind::Text) << name;
    return v.asText();
}

const char* const kAllClasses[] = {
    "Win32_BIOS", "Win32_SystemEnclosure", "Win32_ComputerSystemProduct", "Win32_BaseBoard",
    "Win32_ComputerSystem", "Win32_Processor", "Win32_PhysicalMemory", "Win32_SystemSlot",
    "Win32_DiskDrive", "Win32_LogicalDisk", "Win32_CDROMDrive", "Win32_Keyboard",
    "Win32_PointingDevice", "Win32_POTSModem", "Win32_Battery", "Win32_NetworkAdapter",
    "Win32_VideoController", "Win32_PnPEntity", "Win32_PnPSignedDriver", "Win32_OperatingSystem",
    "Win32_QuickFixEngineering"};
}  // namespace

TEST(LinuxSourceDesktop, FirmwareTableFillsSerialsSlotsAndModules) {
    LinuxSource source = machine("desktop");
    const auto& bios = list(source, "Win32_BIOS");
    ASSERT_EQ(bios.size(), 1u);
    EXPECT_EQ(text(bios[0], "Manufacturer"), "Norvane");
    EXPECT_EQ(text(bios[0], "SMBIOSBIOSVersion"), "N1CET90W");
    EXPECT_EQ(text(bios[0], "SerialNumber"), "SYS-4711");  // only in the table
    EXPECT_EQ(text(list(source, "Win32_SystemEnclosure")[0], "SerialNumber"), "ENC-4711");
    EXPECT_EQ(text(list(source, "Win32_BaseBoard")[0], "SerialNumber"), "MB-0815");
    EXPECT_EQ(text(list(source, "Win32_ComputerSystemProduct")[0], "Name"), "Veltrix Tower 5");

    const auto& slots = list(source, "Win32_SystemSlot");
    ASSERT_EQ(slots.size(), 3u);
    EXPECT_EQ(prop(slots[0], "currentusage"), Value::int32(4));
    EXPECT_EQ(prop(slots[1], "CurrentUsage"), Value::int32(3));
    EXPECT_EQ(text(slots[1], "SlotDesignation"), "PCIEX1_1");

    // Four installed modules; the empty fifth slot is not a module.
    const auto& modules = list(source, "Win32_PhysicalMemory");
    ASSERT_EQ(modules.size(), 4u);
    EXPECT_EQ(text(modules[0], "Capacity"), "8589934592");
    EXPECT_EQ(text(modules[3], "Capacity"), "34359738368");
    EXPECT_EQ(prop(modules[0], "Speed"), Value::int32(3200));
    EXPECT_EQ(prop(modules[0], "MemoryType").kind(), Kind::Int32);
    EXPECT_EQ(prop(modules[0], "HotSwappable"), Value::boolean(false));
    EXPECT_EQ(prop(modules[0], "Removable"), Value::boolean(true));
    EXPECT_EQ(text(modules[2], "DeviceLocator"), "DIMM_B1");
    EXPECT_EQ(text(modules[2], "BankLabel"), "BANK 2");
    EXPECT_TRUE(prop(modules[0], "InstallDate").isNull());
}

TEST(LinuxSourceDesktop, ProcessorDisksAndOperatingSystem) {
    LinuxSource source = machine("desktop");
    const auto& cpus = list(source, "Win32_Processor");
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(text(cpus[0], "DeviceID"), "CPU0");
    EXPECT_EQ(prop(cpus[0], "NumberOfCores"), Value::int32(2));
    EXPECT_EQ(prop(cpus[0], "NumberOfLogicalProcessors"), Value::int32(4));
    // The nominal clock of the name, not cpufreq's highest (turbo) step.
    EXPECT_EQ(prop(cpus[0], "MaxClockSpeed"), Value::int32(3200));
    EXPECT_EQ(prop(cpus[0], "L2CacheSize"), Value::int32(512));  // two shared 256 KB caches
    EXPECT_EQ(text(cpus[0], "Name"), "Norvane Q7-8700 CPU @ 3.20GHz");

    const auto& disks = list(source, "Win32_DiskDrive");
    ASSERT_EQ(disks.size(), 1u);  // loop devices and the optical drive are no disks
    EXPECT_EQ(text(disks[0], "Size"), "500107862016");
    EXPECT_EQ(text(disks[0], "Model"), "Samsung SSD 860 EVO 500GB");
    EXPECT_EQ(text(disks[0], "FirmwareRevision"), "RVT04B6Q");
    EXPECT_EQ(text(disks[0], "SerialNumber"), "S3Z9NB0K123456A");
    EXPECT_EQ(prop(disks[0], "Partitions"), Value::int32(2));

    const auto& cd = list(source, "Win32_CDROMDrive");
    ASSERT_EQ(cd.size(), 1u);
    EXPECT_EQ(text(cd[0], "Caption"), "HL-DT-ST DVDRAM GH24NSD1");
    EXPECT_EQ(text(cd[0], "MfrAssignedRevisionLevel"), "LG00");
    EXPECT_TRUE(list(source, "Win32_LogicalDisk").empty());

    const auto& os = list(source, "Win32_OperatingSystem");
    ASSERT_EQ(os.size(), 1u);
    EXPECT_EQ(text(os[0], "Caption"), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(text(os[0], "Version"), "6.1.0-18-amd64");
    EXPECT_EQ(text(os[0], "OSArchitecture"), "64-bit");
    EXPECT_EQ(text(os[0], "BuildType"), "SMP PREEMPT_DYNAMIC");
    EXPECT_EQ(text(os[0], "CountryCode"), "49");
    EXPECT_EQ(text(os[0], "CSDVersion"), "12.5");

    // Only real keyboards: the power button has a key handler too.
    const auto& keyboards = list(source, "Win32_Keyboard");
    ASSERT_EQ(keyboards.size(), 1u);
    EXPECT_EQ(text(keyboards[0], "Description"), "AT Translated Set 2 keyboard");
    EXPECT_EQ(text(keyboards[0], "Layout"), "de");
    EXPECT_EQ(list(source, "Win32_PointingDevice").size(), 1u);
}

TEST(LinuxSourceDesktop, DevicesNetworkAndVideo) {
    LinuxSource source = machine("desktop");
    const auto& nics = list(source, "Win32_NetworkAdapter");
    ASSERT_EQ(nics.size(), 2u);  // loopback left out
    EXPECT_EQ(text(nics[0], "NetConnectionID"), "eno1");
    EXPECT_EQ(text(nics[0], "MACAddress"), "4C:D9:8F:0A:0B:0C");
    EXPECT_EQ(text(nics[0], "Description"), "Ethernet Connection (7) I219-LM");
    EXPECT_EQ(text(nics[0], "PNPDeviceID"), "PCI\\VEN_8086&DEV_15BB&SUBSYS_08691028&REV_10\\0000:00:1f.6");
    EXPECT_EQ(text(nics[1], "NetConnectionID"), "enp3s0");

    // The driverless audio device is a problem device; the driverless host
    // bridge is not.
    int problems = 0;
    for (const auto& d : list(source, "Win32_PnPEntity")) {
        if (prop(d, "ConfigManagerErrorCode") == Value::int32(0)) continue;
        ++problems;
        EXPECT_EQ(text(d, "Name"), "Audio device");
        EXPECT_EQ(prop(d, "ConfigManagerErrorCode"), Value::int32(28));
        EXPECT_TRUE(prop(d, "Service").isNull());
    }
    EXPECT_EQ(problems, 1);

    const auto& drivers = list(source, "Win32_PnPSignedDriver");
    ASSERT_EQ(drivers.size(), 5u);  // one per device with a bound driver
    bool sawNic = false;
    for (const auto& d : drivers) {
        if (text(d, "DeviceName") != "Ethernet Connection (7) I219-LM") continue;
        sawNic = true;
        EXPECT_EQ(text(d, "DriverVersion"), "3.2.6-k");  // the module's own version
        EXPECT_EQ(text(d, "DeviceClass"), "NET");
        EXPECT_EQ(text(d, "Location"), "PCI bus 0, device 31, function 6");
        EXPECT_EQ(text(d, "Manufacturer"), "Intel Corporation");
    }
    EXPECT_TRUE(sawNic);

    const auto& video = list(source, "Win32_VideoController");
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(prop(video[0], "CurrentHorizontalResolution"), Value::int32(1920));
    EXPECT_EQ(prop(video[0], "CurrentVerticalResolution"), Value::int32(1080));
    EXPECT_EQ(prop(video[0], "CurrentBitsPerPixel"), Value::int32(32));
    EXPECT_EQ(prop(video[0], "AdapterRAM"), Value::int32(268435456));  // the 256 MB aperture
    EXPECT_EQ(text(video[0], "DriverDate"), "20240201000000.000000-000");
    EXPECT_EQ(text(video[0], "DriverVersion"), "6.1.0-18-amd64");  // in-tree module: kernel release
}

TEST(LinuxSourceDesktop, PackagesAsRegistryAndUpgradesAsUpdates) {
    LinuxSource source = machine("desktop");
    auto native = source.registrySubkeys("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    ASSERT_TRUE(native.ok());
    EXPECT_EQ(*native, (std::vector<std::string>{"dpkg", "bash", "tzdata"}));  // removed package absent
    EXPECT_EQ(source.registryString("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\bash", "DisplayName"),
              std::optional<std::string>("bash"));
    EXPECT_EQ(source.registryString("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\bash",
                                    "DisplayVersion"),
              std::optional<std::string>("5.2.15-2+b2"));
    EXPECT_FALSE(source.registryString("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\bash",
                                       "QuietDisplayName").has_value());
    auto foreign = source.registrySubkeys("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    ASSERT_TRUE(foreign.ok());
    ASSERT_EQ(foreign->size(), 1u);
    EXPECT_EQ(source.registryString(std::string("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
                                        (*foreign)[0], "DisplayName"),
              std::optional<std::string>("libc6"));
    EXPECT_FALSE(source.registrySubkeys("Software\\Nothing").ok());

    const auto& updates = list(source, "Win32_QuickFixEngineering");
    ASSERT_EQ(updates.size(), 2u);  // upgrades only, not the fresh install
    EXPECT_EQ(text(updates[0], "HotFixID"), "bash");
    EXPECT_EQ(text(updates[0], "Description"), "Upgrade 5.2.15-2 -> 5.2.15-2+b2");
}

TEST(LinuxSourceDesktop, ClassesAndNamespacesAnsweredFromMemory) {
    LinuxSource source = machine("desktop");
    auto first = source.instances("root\\cimv2", "Win32_PnPEntity");
    auto again = source.instances("ROOT\\CIMV2", "win32_pnpentity");
    ASSERT_TRUE(first.ok() && again.ok());
    EXPECT_EQ(*first, *again);  // the same cached vector
    const std::size_t filesAfterFirst = source.filesRead();
    (void)source.instances("root\\cimv2", "Win32_PnPEntity");
    EXPECT_EQ(source.filesRead(), filesAfterFirst);

    auto winsat = source.instances("root\\cimv2", "Win32_WinSAT");
    ASSERT_FALSE(winsat.ok());
    EXPECT_EQ(winsat.failure().number, veltrix::failure_code::kInvalidClass);
    EXPECT_TRUE(list(source, "Win32_POTSModem").empty());
    EXPECT_TRUE(source.hasNamespace("root\\cimv2"));
    EXPECT_TRUE(source.hasNamespace("root\\default"));
    EXPECT_FALSE(source.hasNamespace("root\\wmi"));
    EXPECT_FALSE(source.instances("root\\wmi", "Win32_BIOS").ok());
}

TEST(LinuxSourceLaptop, BatteryRemovableDrivesAndUsbDevices) {
    LinuxSource source = machine("laptop");
    const auto& batteries = list(source, "Win32_Battery");
    ASSERT_EQ(batteries.size(), 1u);  // the mouse's battery is no system battery
    EXPECT_EQ(text(batteries[0], "DeviceID"), "1234NORVANE5B10W13930");
    EXPECT_EQ(text(batteries[0], "Name"), "5B10W13930");
    EXPECT_EQ(prop(batteries[0], "EstimatedChargeRemaining"), Value::int32(87));

    // The mounted stick with its sizes, the empty card reader without; the
    // network and FUSE mounts never appear.
    const auto& drives = list(source, "Win32_LogicalDisk");
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(text(drives[0], "DeviceID"), "/media/user/STICK");
    EXPECT_EQ(prop(drives[0], "DriveType"), Value::int32(2));
    EXPECT_EQ(text(drives[0], "VolumeName"), "STICK");
    EXPECT_FALSE(text(drives[0], "Size").empty());
    EXPECT_FALSE(text(drives[0], "FreeSpace").empty());
    EXPECT_EQ(text(drives[1], "DeviceID"), "/dev/sdc");
    EXPECT_TRUE(prop(drives[1], "Size").isNull());
    EXPECT_TRUE(prop(drives[1], "FreeSpace").isNull());

    const auto& disks = list(source, "Win32_DiskDrive");
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(text(disks[0], "Model"), "SAMSUNG MZVLB512HBJQ-000L7");
    EXPECT_EQ(text(disks[0], "FirmwareRevision"), "4M2QEXF7");
    EXPECT_EQ(text(disks[1], "InterfaceType"), "USB");
    EXPECT_TRUE(prop(disks[2], "Size").isNull());  // no medium

    // Memory from udev's copy of the firmware table: one present module.
    const auto& modules = list(source, "Win32_PhysicalMemory");
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(text(modules[0], "Capacity"), "8589934592");
    EXPECT_EQ(prop(modules[0], "Speed"), Value::int32(3200));
    EXPECT_EQ(text(modules[0], "DeviceLocator"), "ChannelA-DIMM0");

    std::map<std::string, ObjectPtr> byName;
    for (const auto& d : list(source, "Win32_PnPEntity")) byName[text(d, "Name")] = d;
    ASSERT_TRUE(byName.count("Mystery Gadget"));
    EXPECT_EQ(prop(byName["Mystery Gadget"], "ConfigManagerErrorCode"), Value::int32(28));
    ASSERT_TRUE(byName.count("Cruzer Blade"));
    EXPECT_EQ(text(byName["Cruzer Blade"], "DeviceID"), "USB\\VID_0781&PID_5567\\4C530001230101117112");
    EXPECT_EQ(prop(byName["Cruzer Blade"], "ConfigManagerErrorCode"), Value::int32(0));
    ASSERT_TRUE(byName.count("M105 Optical Mouse"));
    EXPECT_EQ(text(byName["M105 Optical Mouse"], "PNPClass"), "HIDCLASS");

    const auto& mice = list(source, "Win32_PointingDevice");
    ASSERT_EQ(mice.size(), 1u);
    EXPECT_EQ(text(mice[0], "PNPDeviceID"), "USB\\VID_046D&PID_C077\\1-3");
    EXPECT_EQ(text(mice[0], "Manufacturer"), "Logitech, Inc.");

    // No framebuffer: the connected panel's preferred mode.
    const auto& video = list(source, "Win32_VideoController");
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(prop(video[0], "CurrentHorizontalResolution"), Value::int32(1920));
    EXPECT_TRUE(prop(video[0], "CurrentBitsPerPixel").isNull());

    // Serials the user may not read are Null, not failures.
    EXPECT_TRUE(prop(list(source, "Win32_BIOS")[0], "SerialNumber").isNull());
}

// A captured system's mounts are folders of this machine's disk: their size
// would be this disk's, so a capture's volumes have none.
TEST(LinuxSourceLaptop, ACapturedVolumeHasNoSizeToAsk) {
    auto captured = veltrix::makeSysrootSource(kData + "laptop");
    const auto& drives = list(*captured, "Win32_LogicalDisk");
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(text(drives[0], "DeviceID"), "/media/user/STICK");
    EXPECT_EQ(text(drives[0], "VolumeName"), "STICK");
    EXPECT_TRUE(prop(drives[0], "Size").isNull());
    EXPECT_TRUE(prop(drives[0], "FreeSpace").isNull());
}

TEST(LinuxSourceWithoutFirmwareData, VirtualMachineAndContainer) {
    LinuxSource vm = machine("vm");
    EXPECT_TRUE(list(vm, "Win32_BIOS").empty());
    EXPECT_TRUE(list(vm, "Win32_PhysicalMemory").empty());
    EXPECT_TRUE(list(vm, "Win32_SystemSlot").empty());
    const auto& nics = list(vm, "Win32_NetworkAdapter");
    ASSERT_EQ(nics.size(), 2u);
    EXPECT_EQ(text(nics[0], "Name"), "docker0");
    EXPECT_TRUE(prop(nics[0], "NetConnectionID").isNull());  // virtual: no connection id
    EXPECT_EQ(text(nics[1], "NetConnectionID"), "ens3");
    ASSERT_EQ(list(vm, "Win32_DiskDrive").size(), 1u);
    EXPECT_EQ(text(list(vm, "Win32_DiskDrive")[0], "Model"), "Virtio block device");

    LinuxSource container = machine("container");
    for (const char* c : kAllClasses) EXPECT_TRUE(container.instances("root\\cimv2", c).ok()) << c;
    EXPECT_EQ(list(container, "Win32_Processor").size(), 1u);
    EXPECT_EQ(text(list(container, "Win32_OperatingSystem")[0], "Caption"), "Alpine Linux");
    EXPECT_TRUE(prop(list(container, "Win32_OperatingSystem")[0], "OSArchitecture").isNull());
    auto keys = container.registrySubkeys("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    ASSERT_TRUE(keys.ok());
    EXPECT_TRUE(keys->empty());
}

TEST(LinuxSourceLive, EveryClassAnswersOnThisMachine) {
    auto source = veltrix::makeLinuxSource("/");
    for (const char* c : kAllClasses) {
        auto result = source->instances("root\\cimv2", c);
        ASSERT_TRUE(result.ok()) << c << ": " << result.failure().description;
    }
    EXPECT_EQ((*source->instances("root\\cimv2", "Win32_OperatingSystem"))->size(), 1u);
    EXPECT_TRUE(source->registrySubkeys("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall").ok());
}

namespace {
// Every class, property by property, every installed program's key and
// values, and every input read: what one scan of a source answers.
std::string everythingAnswered(LinuxSource& source) {
    std::string out;
    for (const char* c : kAllClasses) {
        for (const ObjectPtr& object : list(source, c)) {
            out += c;
            for (const std::string& name : object->propertyNames()) {
                // The trees' mounts are folders of this machine's disk,
                // whose free space changes while tests run.
                if (name == "FreeSpace") continue;
                auto value = object->get(name);
                auto shown = value ? value->toText() : veltrix::Result<std::string>(std::string("?"));
                out += " " + name + "=" + (shown ? *shown : "(" + std::to_string(int(value->kind())) + ")");
            }
            out += "\n";
        }
    }
    for (const char* key : {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
                            "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"}) {
        auto programs = source.registrySubkeys(key);
        if (!programs) continue;
        for (const std::string& program : *programs) {
            out += program;
            for (const char* value : {"DisplayName", "DisplayVersion", "Publisher"})
                out += std::string(" ") + value + "=" + source.registryString(key + program, value).value_or("-");
            out += "\n";
        }
    }
    LinuxSource::Inputs inputs = source.inputsRead();
    for (auto* paths : {&inputs.files, &inputs.directories, &inputs.links}) {
        std::sort(paths->begin(), paths->end());
        for (const std::string& path : *paths) out += path + "\n";
    }
    return out;
}

void expectEverything(LinuxSource& source) {
    source.expectClasses("root\\cimv2", {kAllClasses, kAllClasses + std::size(kAllClasses)});
    source.expectClasses("ROOT\\Default", {"stdregprov"});
}
}  // namespace

// The id lists and the package database are read on threads of their own
// when the scan says it will need them; nothing answered may differ, in any
// order of asking, nor may a source told and never asked hang or leak.
TEST(LinuxSourceReadAhead, TellingWhatWillBeReadChangesNoAnswer) {
    for (const char* name : {"desktop", "laptop", "vm", "container"}) {
        LinuxSource told = machine(name);
        expectEverything(told);
        LinuxSource untold = machine(name);
        const std::string expected = everythingAnswered(untold);
        EXPECT_EQ(everythingAnswered(told), expected) << name;
        if (std::string(name) == "desktop") {
            EXPECT_NE(expected.find("\nbash DisplayName=bash"), std::string::npos);
        }

        LinuxSource updatesFirst = machine(name);
        expectEverything(updatesFirst);
        (void)list(updatesFirst, "Win32_QuickFixEngineering");
        EXPECT_EQ(everythingAnswered(updatesFirst), expected) << name;

        LinuxSource dropped = machine(name);
        expectEverything(dropped);
        expectEverything(dropped);  // told twice: started once
    }
    // The packages asked for by the operating system (it has no other word
    // of its architecture) while their own thread reads them.
    veltrix::test::TempFolder tree;
    std::filesystem::create_directories(tree / "var/lib/dpkg");
    std::filesystem::copy_file(kData + "desktop/var/lib/dpkg/status", tree / "var/lib/dpkg/status");
    LinuxSource told(tree.str());
    told.expectClasses("root\\default", {"StdRegProv"});
    EXPECT_EQ(text(list(told, "Win32_OperatingSystem")[0], "OSArchitecture"), "64-bit");
    LinuxSource untold(tree.str());
    EXPECT_EQ(everythingAnswered(told), everythingAnswered(untold));
}
