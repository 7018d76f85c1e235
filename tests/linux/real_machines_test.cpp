// The provider on trees captured from real machines (tests/data/linux-real,
// see the README there). Every expectation was read by hand from the raw
// files of the capture: driver links, cpuinfo, topology, the firmware table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "providers/linux/dpkg_status.h"
#include "linux/class_reading.h"
#include "providers/linux/linux_source.h"
#include "providers/linux/smbios_decoder.h"
#include "support/temp_folder.h"

using veltrix::linux_provider::LinuxSource;
using veltrix::wmi::Kind;
using veltrix::wmi::ObjectPtr;
using veltrix::wmi::Value;

namespace {
const std::string kReal = std::string(VELTRIX_TEST_DATA) + "/linux-real/";

// Without id lists, so that names come from the capture alone.
LinuxSource capture(const std::string& name) { return LinuxSource(kReal + name); }

using veltrix::test::list;
using veltrix::test::prop;

std::string text(const ObjectPtr& object, const char* name) {
    Value v = prop(object, name);
    return v.kind() == Kind::Text ? v.asText() : "<not text>";
}

std::int32_t int32(const ObjectPtr& object, const char* name) {
    Value v = prop(object, name);
    EXPECT_EQ(v.kind(), Kind::Int32) << name;
    return v.kind() == Kind::Int32 ? v.asInt32() : -1;
}

const ObjectPtr* withDeviceId(const std::vector<ObjectPtr>& objects, const std::string& id) {
    for (const auto& o : objects)
        if (text(o, "DeviceID") == id) return &o;
    ADD_FAILURE() << "no device " << id;
    return nullptr;
}

struct Package {
    std::int32_t cores, threads, l2;
};
std::vector<Package> packages(LinuxSource& source) {
    std::vector<Package> out;
    for (const auto& p : list(source, "Win32_Processor"))
        out.push_back({int32(p, "NumberOfCores"), int32(p, "NumberOfLogicalProcessors"), int32(p, "L2CacheSize")});
    return out;
}
bool operator==(const Package& a, const Package& b) {
    return a.cores == b.cores && a.threads == b.threads && a.l2 == b.l2;
}
std::ostream& operator<<(std::ostream& os, const Package& p) {
    return os << p.cores << " cores/" << p.threads << " threads/L2 " << p.l2;
}
}  // namespace

// A 2007 laptop: five USB host controllers, a Wi-Fi card with an older
// stack's "wmaster0", two PCI devices without a driver, an older kernel.
TEST(RealLaptop2007, RootHubsAreDrivenAndOnlyDriverlessPciDevicesAreProblems) {
    LinuxSource source = capture("systemd-sysscript");
    const auto& devices = list(source, "Win32_PnPEntity");
    // usb1..usb5: driven by "usb" themselves, their interfaces "N-0:1.0" by "hub".
    for (const char* controller : {"0000:00:1d.0", "0000:00:1d.1", "0000:00:1d.2", "0000:00:1d.3"}) {
        const ObjectPtr* hub = withDeviceId(devices, std::string("USB\\VID_1D6B&PID_0001\\") + controller);
        ASSERT_NE(hub, nullptr);
        EXPECT_EQ(int32(*hub, "ConfigManagerErrorCode"), 0) << controller;
        EXPECT_EQ(text(*hub, "Service"), "hub");
    }
    // A device whose only interface has no driver is still driven by "usb".
    const ObjectPtr* modem = withDeviceId(devices, "USB\\VID_0483&PID_2016\\4-2");
    ASSERT_NE(modem, nullptr);
    EXPECT_EQ(int32(*modem, "ConfigManagerErrorCode"), 0);

    // The Radeon and the SMBus controller have no driver ("enable" 0 like
    // every device no driver switched on): not installed, not disabled.
    std::map<std::string, std::int32_t> problems;
    for (const auto& d : devices)
        if (int32(d, "ConfigManagerErrorCode") != 0) problems[text(d, "DeviceID")] = int32(d, "ConfigManagerErrorCode");
    EXPECT_EQ(problems, (std::map<std::string, std::int32_t>{
                            {"PCI\\VEN_1002&DEV_71D4&SUBSYS_20A417AA&REV_00\\0000:01:00.0", 28},
                            {"PCI\\VEN_8086&DEV_27DA&SUBSYS_200F17AA&REV_00\\0000:00:1f.3", 28}}));
}

TEST(RealLaptop2007, WirelessTwinIsNotASecondAdapterAndOldPartitionsCount) {
    LinuxSource source = capture("systemd-sysscript");
    std::map<std::string, std::string> adapters;  // connection -> MAC
    for (const auto& a : list(source, "Win32_NetworkAdapter"))
        adapters[text(a, "NetConnectionID")] = text(a, "MACAddress");
    EXPECT_EQ(adapters, (std::map<std::string, std::string>{{"eth0", "00:16:41:E2:8D:FF"},
                                                            {"wlan0", "00:19:D2:75:AE:FF"}}));

    // sda holds sda1 and sda5..sda10, sdb holds sdb1: folders with a
    // "start" file but, on this kernel, no "partition" file.
    std::map<std::string, std::int32_t> partitions;
    for (const auto& d : list(source, "Win32_DiskDrive")) partitions[text(d, "DeviceID")] = int32(d, "Partitions");
    ASSERT_EQ(partitions.size(), 2u);
    EXPECT_EQ(partitions.begin()->second, 7);
    EXPECT_EQ(std::next(partitions.begin())->second, 1);
}

// A server with four ports of one network chip (two BCM5709 cards of two
// functions each) and four Xeon E7-4870 without cpufreq.
TEST(RealServer, PortsOfOneModelAreNumberedAndEachFindsItsOwnMac) {
    LinuxSource source = capture("hwloc-40intel64-2g2n4c+pcilocality");
    const std::string model = "PCI device 14e4:1639";
    const std::vector<std::pair<std::string, std::string>> ports{
        {"0000:02:00.0", model}, {"0000:02:00.1", model + " #2"}, {"0000:03:00.0", model + " #3"},
        {"0000:03:00.1", model + " #4"}};
    for (const auto& [address, name] : ports) {
        bool found = false;
        for (const auto& d : list(source, "Win32_PnPSignedDriver"))
            if (text(d, "DeviceID").ends_with(address)) {
                found = true;
                EXPECT_EQ(text(d, "DeviceName"), name);
            }
        EXPECT_TRUE(found) << address;
    }
    std::map<std::string, std::string> macByName;
    for (const auto& a : list(source, "Win32_NetworkAdapter")) macByName[text(a, "Name")] = text(a, "MACAddress");
    EXPECT_EQ(macByName[model], "78:2B:CB:38:AC:1B");
    EXPECT_EQ(macByName[model + " #2"], "78:2B:CB:38:AC:1D");
    EXPECT_EQ(macByName[model + " #3"], "78:2B:CB:38:AC:1F");
    EXPECT_EQ(macByName[model + " #4"], "78:2B:CB:38:AC:21");

    // "cpu MHz: 2394.027" is the current clock; the name says 2.40GHz.
    const auto& cpus = list(source, "Win32_Processor");
    ASSERT_EQ(cpus.size(), 4u);
    for (const auto& p : cpus) EXPECT_EQ(prop(p, "MaxClockSpeed"), Value::int32(2400));
}

TEST(RealProcessors, OfflineProcessorsAreLeftOut) {
    // Four present, cpu0 and cpu1 online, each in a package of its own.
    LinuxSource vm = capture("ghw-offline");
    EXPECT_EQ(packages(vm), (std::vector<Package>{{1, 1, 4096}, {1, 1, 4096}}));
    // Neither cpufreq nor a clock in the name: "cpu MHz" is only the
    // current clock, so none is reported.
    for (const auto& p : list(vm, "Win32_Processor")) EXPECT_TRUE(prop(p, "MaxClockSpeed").isNull());

    // Sixteen present, cpu2, 5, 13 and 14 offline; an older kernel that
    // gives cache sharing only as "shared_cpu_map" (1 MB of L2 per core).
    LinuxSource server = capture("hwloc-16em64t-4s2c2t-offlines");
    EXPECT_EQ(packages(server), (std::vector<Package>{{2, 4, 2048}, {1, 2, 1024}, {2, 2, 2048}, {2, 4, 2048}}));
    const auto& cpus = list(server, "Win32_Processor");
    ASSERT_FALSE(cpus.empty());
    EXPECT_EQ(text(cpus[0], "Name"), "Intel(R) Xeon(TM) CPU 2.60GHz");
    EXPECT_EQ(prop(cpus[0], "MaxClockSpeed"), Value::int32(2600));
    auto system = list(server, "Win32_ComputerSystem");
    ASSERT_EQ(system.size(), 1u);
    EXPECT_EQ(prop(system[0], "NumberOfLogicalProcessors"), Value::int32(12));
}

TEST(RealProcessors, NominalClockBeforeTheTurboStepOfCpufreq) {
    // acpi-cpufreq gives 2667000 kHz as the highest step (the turbo one);
    // the part's nominal clock is the 2.67GHz of its name.
    LinuxSource laptop = capture("lscpu-x86_64-dell_e4310");
    const auto& cpus = list(laptop, "Win32_Processor");
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(prop(cpus[0], "MaxClockSpeed"), Value::int32(2670));
    EXPECT_EQ(packages(laptop), (std::vector<Package>{{2, 4, 512}}));

    // Where the name gives no rated clock after an "@", the base frequency
    // intel_pstate gives comes first; the clock word ending an older name,
    // the highest cpufreq step and the current clock all differ from it.
    veltrix::test::TempFolder folder;
    auto write = [&](const std::string& path, const std::string& content) {
        std::filesystem::create_directories((folder / path).parent_path());
        std::ofstream(folder / path) << content;
    };
    write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Example CPU 2.10GHz\ncpu MHz\t\t: 525.000\n\n");
    write("sys/devices/system/cpu/cpu0/cpufreq/base_frequency", "1900000\n");
    write("sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "5000000\n");
    LinuxSource pstate(folder.str());
    const auto& withBase = list(pstate, "Win32_Processor");
    ASSERT_EQ(withBase.size(), 1u);
    EXPECT_EQ(prop(withBase[0], "MaxClockSpeed"), Value::int32(1900));
}

TEST(RealProcessors, Arm64ServerIsNamedFromItsImplementerAndPart) {
    // cpuinfo: "CPU implementer 0x48" (HiSilicon), "CPU part 0xd01"; no
    // model name. Two packages of 64.
    LinuxSource source = capture("hwloc-128arm-2pa2n8cluster4co");
    const auto& cpus = list(source, "Win32_Processor");
    ASSERT_EQ(cpus.size(), 2u);
    for (const auto& p : cpus) {
        EXPECT_EQ(text(p, "Name"), "HiSilicon TaiShan v110");
        EXPECT_EQ(text(p, "Manufacturer"), "HiSilicon");
        EXPECT_EQ(int32(p, "NumberOfLogicalProcessors"), 64);
    }
}

// A Toshiba laptop's firmware table: two 8 GB DDR3 modules (DIMM0 in BANK 0,
// DIMM1 in BANK 2) and two empty slots.
TEST(RealFirmware, MemoryFromPerStructureEntriesMatchesTheWholeTable) {
    for (const char* tree : {"smbios-uroot-satellite_pro_l70", "smbios-satellite_pro_l70-entries"}) {
        SCOPED_TRACE(tree);
        LinuxSource source = capture(tree);
        const auto& modules = list(source, "Win32_PhysicalMemory");
        ASSERT_EQ(modules.size(), 2u);
        const std::pair<const char*, const char*> expected[] = {{"BANK 0", "336EE786"}, {"BANK 2", "336EE77E"}};
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(text(modules[i], "Capacity"), "8589934592");
            EXPECT_EQ(text(modules[i], "BankLabel"), expected[i].first);
            EXPECT_EQ(text(modules[i], "SerialNumber"), expected[i].second);
            EXPECT_EQ(text(modules[i], "PartNumber"), "16KTF1G64HZ-1G6E2");
            EXPECT_EQ(prop(modules[i], "MemoryType"), Value::int32(24));  // DDR3
        }
        const auto& bios = list(source, "Win32_BIOS");
        ASSERT_EQ(bios.size(), 1u);
        EXPECT_EQ(text(bios[0], "Manufacturer"), "Insyde Corp.");
        EXPECT_EQ(text(bios[0], "ReleaseDate"), "20140418000000.000000+000");
    }
}

TEST(RealFirmware, Windows1252StringsAreDecodedNotReplaced) {
    // The product name in Windows-1252 bytes (AB C9 ... 99 BB), in the
    // table and in the kernel's attribute.
    const std::string expected = "SATELLITE PRO L70-A \u00ab\u00c9dition\u2122\u00bb";
    const std::string root = kReal + "smbios-satellite_pro_l70-latin1";
    std::ifstream in(root + "/sys/firmware/dmi/tables/DMI", std::ios::binary);
    const std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto inventory = veltrix::linux_provider::readSmbiosInventory(table);
    ASSERT_TRUE(inventory.system);
    EXPECT_EQ(inventory.system->product, expected);
    EXPECT_EQ(inventory.system->manufacturer, "TOSHIBA");

    LinuxSource source = capture("smbios-satellite_pro_l70-latin1");
    const auto& product = list(source, "Win32_ComputerSystemProduct");
    ASSERT_EQ(product.size(), 1u);
    EXPECT_EQ(text(product[0], "Name"), expected);
}

TEST(CapturedTree, DisabledOnlyWhenADriverLeftItOffAndIdListsFromTheTree) {
    // Two network controllers with "enable" 0: one held by a driver that
    // left it off (as one reserved for a virtual machine), one without. The
    // tree brings its own id list.
    veltrix::test::TempFolder folder;
    auto device = [&](const std::string& address, const char* driver) {
        const auto dir = folder / ("sys/devices/pci0000:00/" + address);
        std::filesystem::create_directories(dir);
        for (auto [file, value] : {std::pair{"vendor", "0x8086"}, {"device", "0x10d3"}, {"class", "0x020000"},
                                   {"enable", "0"}})
            std::ofstream(dir / file) << value << "\n";
        if (driver) std::filesystem::create_directory_symlink(std::string("../../../bus/pci/drivers/") + driver,
                                                              dir / "driver");
        std::filesystem::create_directories(folder / "sys/bus/pci/devices");
        std::filesystem::create_directory_symlink("../../../devices/pci0000:00/" + address,
                                                  folder / ("sys/bus/pci/devices/" + address));
    };
    device("0000:00:19.0", "vfio-pci");
    device("0000:00:1a.0", nullptr);
    std::filesystem::create_directories(folder / "usr/share/hwdata");
    std::ofstream(folder / "usr/share/hwdata/pci.ids") << "8086  Intel Corporation\n\t10d3  82574L Gigabit\n";
    auto source = veltrix::makeSysrootSource(folder.str());
    std::vector<std::pair<std::string, std::int32_t>> devices;
    for (const auto& d : list(*source, "Win32_PnPEntity"))
        devices.emplace_back(text(d, "Name"), int32(d, "ConfigManagerErrorCode"));
    EXPECT_EQ(devices, (std::vector<std::pair<std::string, std::int32_t>>{{"82574L Gigabit", 22},
                                                                          {"82574L Gigabit #2", 28}}));
}

TEST(PackageDatabase, HeldAndDeselectedPackagesAreStillInstalled) {
    const auto packages = veltrix::linux_provider::parseDpkgStatus(
        "Package: kept\nStatus: hold ok installed\nVersion: 1.0\n\n"
        "Package: leaving\nStatus: deinstall ok installed\nVersion: 2.0\n\n"
        "Package: plain\nStatus: install ok installed\nVersion: 3.0\n\n"
        "Package: removed\nStatus: deinstall ok config-files\nVersion: 4.0\n\n"
        "Package: half\nStatus: install ok half-installed\nVersion: 5.0\n\n"
        "Package: wanted\nStatus: install ok not-installed\n\n");
    std::vector<std::string> names;
    for (const auto& p : packages) names.push_back(std::string(p.name) + " " + std::string(p.version));
    EXPECT_EQ(names, (std::vector<std::string>{"kept 1.0", "leaving 2.0", "plain 3.0"}));
}
