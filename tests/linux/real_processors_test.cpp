// Processors of machines that are not x86 PCs, on trees captured from them
// (tests/data/linux-real, see the README there): how many cores and
// logical processors each package has, its name and its rated clock. Every
// expectation was read by hand from the capture's cpuinfo and topology.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "linux/class_reading.h"
#include "providers/linux/linux_source.h"
#include "support/temp_folder.h"

using veltrix::linux_provider::LinuxSource;
using veltrix::test::list;
using veltrix::test::prop;
using veltrix::wmi::Kind;
using veltrix::wmi::Value;

namespace {
const std::string kReal = std::string(VELTRIX_TEST_DATA) + "/linux-real/";

struct Cpu {
    int cores, threads;
    std::string name;
    int maxMhz;  // -1: none reported
    bool operator==(const Cpu&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Cpu& c) {
    return os << c.cores << " cores/" << c.threads << " threads/\"" << c.name << "\"/" << c.maxMhz << " MHz";
}

int int32Or(const Value& v, int none) { return v.kind() == Kind::Int32 ? v.asInt32() : none; }

std::vector<Cpu> processors(LinuxSource& source) {
    std::vector<Cpu> out;
    for (const auto& p : list(source, "Win32_Processor")) {
        Value name = prop(p, "Name");
        out.push_back({int32Or(prop(p, "NumberOfCores"), -1), int32Or(prop(p, "NumberOfLogicalProcessors"), -1),
                       name.kind() == Kind::Text ? name.asText() : "<none>", int32Or(prop(p, "MaxClockSpeed"), -1)});
    }
    return out;
}
std::vector<Cpu> processors(const std::string& capture) {
    LinuxSource source(kReal + capture);
    return processors(source);
}
std::vector<Cpu> times(int n, const Cpu& cpu) { return std::vector<Cpu>(static_cast<std::size_t>(n), cpu); }

std::string manufacturer(const std::string& capture) {
    LinuxSource source(kReal + capture);
    const auto& cpus = list(source, "Win32_Processor");
    if (cpus.empty()) return "<no processor>";
    Value v = prop(cpus[0], "Manufacturer");
    return v.kind() == Kind::Text ? v.asText() : "<none>";
}

struct Tree {
    veltrix::test::TempFolder folder;
    void write(const std::string& path, const std::string& content) {
        std::filesystem::create_directories((folder / path).parent_path());
        std::ofstream(folder / path) << content;
    }
    std::vector<Cpu> processors() {
        LinuxSource source(folder.str());
        return ::processors(source);
    }
};
}  // namespace

TEST(ProcessorTopology, CoresAreTheKernelsCoreSetsWhereCoreIdsRepeatPerCluster) {
    // Two packages of 64 cores in clusters of four. As captured, core_id
    // runs 0..127; in the variant each cluster numbers its cores 0..3.
    const Cpu taishan{64, 64, "HiSilicon TaiShan v110", -1};
    EXPECT_EQ(processors("hwloc-128arm-2pa2n8cluster4co"), times(2, taishan));
    EXPECT_EQ(processors("hwloc-128arm-clusters"), times(2, taishan));

    // Without core sets, the cluster tells the repeated ids apart.
    Tree tree;
    tree.write("proc/cpuinfo", "processor\t: 0\n\nprocessor\t: 1\n\nprocessor\t: 2\n\nprocessor\t: 3\n\n");
    for (int cpu = 0; cpu < 4; ++cpu) {
        const std::string topology = "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        tree.write(topology + "core_id", std::to_string(cpu % 2) + "\n");
        tree.write(topology + "physical_package_id", "0\n");
        tree.write(topology + "cluster_cpus_list", cpu < 2 ? "0-1\n" : "2-3\n");
    }
    ASSERT_EQ(tree.processors().size(), 1u);
    EXPECT_EQ(tree.processors()[0].cores, 4);
}

TEST(ProcessorTopology, PackagesFromSiblingSetsWhereTheFirmwareGaveNoIds) {
    // z/VM: package id -1 and core id 0 on all four; each is its own package.
    EXPECT_EQ(processors("lscpu-s390-zvm"), times(4, Cpu{1, 1, "IBM z196 (2817)", -1}));
    // POWER7 partition: package id -1; sixteen cores of four threads, each
    // its own package by core_siblings_list.
    EXPECT_EQ(processors("lscpu-ppc64-POWER7-64cpu"),
              times(16, Cpu{1, 4, "POWER7 (architected), altivec supported", 3550}));
    // RISC-V: ids -1, the kernel puts both harts in one core.
    EXPECT_EQ(processors("lscpu-rv64-linux"), (std::vector<Cpu>{{1, 2, "SiFive U74-MC", -1}}));
    // An LPAR whose packages hold two and six cores, ids 2 and 3.
    EXPECT_EQ(processors("lscpu-s390-lpar-drawer"),
              (std::vector<Cpu>{{2, 2, "IBM z13 (2964)", 5000}, {6, 6, "IBM z13 (2964)", 5000}}));
}

TEST(ProcessorTopology, OlderKernelsGiveTheSetsAsMasksOnly) {
    // Itanium: sets only as masks, packages numbered 512, 131587, ... in cpuinfo.
    EXPECT_EQ(processors("lscpu-ia64-pg0"), times(8, Cpu{2, 2, "Intel Itanium 2", -1}));
    // Opteron server: masks only, cpu0, 4, 8 and 12 in package 0.
    EXPECT_EQ(processors("lscpu-x86_64-hpdl585"),
              times(4, Cpu{4, 4, "Quad-Core AMD Opteron(tm) Processor 8354", -1}));
    // UltraSPARC T1: six packages of four threads online, eight offline.
    EXPECT_EQ(processors("lscpu-sparc64-UltraSparc-T1"), times(6, Cpu{1, 4, "UltraSparc T1 (Niagara)", 1000}));
}

TEST(ProcessorTopology, SetsCountOnlyOnlineProcessors) {
    // Two threads of one core online, a third listed in the sets but
    // offline; the core ids disagree with the sets and give way to them.
    Tree tree;
    tree.write("proc/cpuinfo", "processor\t: 0\n\nprocessor\t: 1\n\nprocessor\t: 2\n\n");
    tree.write("sys/devices/system/cpu/online", "0-1\n");
    for (int cpu = 0; cpu < 3; ++cpu) {
        const std::string topology = "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        tree.write(topology + "package_cpus_list", "0-2\n");
        tree.write(topology + "core_cpus_list", "0-2\n");
        tree.write(topology + "core_id", std::to_string(cpu) + "\n");
    }
    EXPECT_EQ(tree.processors(), (std::vector<Cpu>{{1, 2, "<none>", -1}}));
}

TEST(ProcessorNames, EachArchitecturesCpuinfoNamesItsProcessor) {
    EXPECT_EQ(processors("lscpu-loongarch-kvm_on_loongson_3c6000"), times(32, Cpu{1, 1, "Loongson-3A5000", -1}));
    EXPECT_EQ(processors("lscpu-s390-nested-virt"), times(2, Cpu{1, 1, "IBM z13 (2964)", 5000}));
    EXPECT_EQ(processors("lscpu-ppc-qemu"), (std::vector<Cpu>{{1, 1, "PowerPC 740/750", 266}}));
    EXPECT_EQ(manufacturer("lscpu-rv64-linux"), "SiFive");
    EXPECT_EQ(manufacturer("lscpu-ia64-pg0"), "GenuineIntel");
    EXPECT_EQ(manufacturer("lscpu-s390-zvm"), "IBM/S390");

    // MIPS names the core in "cpu model"; RISC-V without "uarch" gives the
    // base ISA and its maker's JEDEC number.
    Tree mips;
    mips.write("proc/cpuinfo", "system type\t\t: Atheros AR9344 rev 2\nmachine\t\t\t: TP-LINK TL-WDR4300\n"
                               "processor\t\t: 0\ncpu model\t\t: MIPS 74Kc V5.0\nBogoMIPS\t\t: 278.93\n\n");
    EXPECT_EQ(mips.processors(), (std::vector<Cpu>{{1, 1, "MIPS 74Kc V5.0", -1}}));
    Tree riscv;
    riscv.write("proc/cpuinfo", "processor\t: 0\nhart\t\t: 0\nisa\t\t: rv64imafdc_zicntr_zicsr_zifencei\n"
                                "mmu\t\t: sv39\nmvendorid\t: 0x5b7\nmarchid\t\t: 0x0\n\n");
    EXPECT_EQ(riscv.processors(), (std::vector<Cpu>{{1, 1, "RISC-V rv64imafdc", -1}}));
    LinuxSource source(riscv.folder.str());
    const auto& cpus = list(source, "Win32_Processor");
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(prop(cpus[0], "Manufacturer"), Value::text("T-HEAD"));
}

TEST(ProcessorClock, RatedClockOfTheNameBeforeALoweredBaseFrequency) {
    // An i7-1165G7 run at its lowered configurable TDP: intel_pstate's base
    // frequency is the lowered 1.2 GHz, the part is rated at 2.8 GHz.
    Tree tree;
    tree.write("proc/cpuinfo", "processor\t: 0\nmodel name\t: 11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz\n"
                               "cpu MHz\t\t: 1696.000\n\n");
    tree.write("sys/devices/system/cpu/cpu0/cpufreq/base_frequency", "1200000\n");
    tree.write("sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "4700000\n");
    ASSERT_EQ(tree.processors().size(), 1u);
    EXPECT_EQ(tree.processors()[0].maxMhz, 2800);

    // A clock word after the "@" that is not a clock is no rating.
    Tree odd;
    odd.write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Example CPU @ fast\n\n");
    odd.write("sys/devices/system/cpu/cpu0/cpufreq/base_frequency", "1900000\n");
    ASSERT_EQ(odd.processors().size(), 1u);
    EXPECT_EQ(odd.processors()[0].maxMhz, 1900);
}
