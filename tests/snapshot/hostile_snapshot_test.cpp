// Snapshots made to break the loader: each must be refused with a position,
// never crash, never read for ever.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "providers/snapshot/snapshot_source.h"
#include "support/temp_folder.h"

using veltrix::snapshot::SnapshotSource;

namespace {

std::string refusal(std::string_view json) {
    auto source = SnapshotSource::parse(json, "s.json");
    EXPECT_FALSE(source.ok());
    return source.ok() ? std::string() : source.failure().description;
}

std::string nested(std::size_t levels, std::string_view inner) {
    return std::string(levels, '[') + std::string(inner) + std::string(levels, ']');
}

}  // namespace

TEST(HostileSnapshot, DeepNestingIsRefusedAtTheFirstLevelTooDeep) {
    // 100,000 levels used to overflow the stack in the version message and in
    // the duplicate-key scan.
    EXPECT_EQ(refusal("{\"veltrix-snapshot\": " + nested(100000, "") + "}"),
              "s.json:1:85: nested more than 64 levels deep (a snapshot needs six)");
    EXPECT_EQ(refusal(nested(100000, "{\"a\":1,\"a\":2}")).substr(0, 11), "s.json:1:65");
    // Brackets inside strings are text, not nesting.
    auto source = SnapshotSource::parse("{\"veltrix-snapshot\": 1, \"source\": \"" + std::string(1000, '[') + "\"}", "s");
    EXPECT_TRUE(source.ok());
    // Sixty-four levels are still read (and refused only for their shape).
    EXPECT_NE(refusal("{\"veltrix-snapshot\": " + nested(63, "") + "}").find("unsupported snapshot format version (an array)"),
              std::string::npos);
}

TEST(HostileSnapshot, NumbersBeyondADoubleAreRefusedWherePlaced) {
    EXPECT_EQ(refusal("{\"veltrix-snapshot\": 1e309}"), "s.json:1:22: the number 1e309 is out of range");
    EXPECT_EQ(refusal("{\"veltrix-snapshot\": 1,\n \"namespaces\": {\"root\\\\cimv2\": {\"A\": [{\"Size\": -2e400}]}}}"),
              "s.json:2:48: the number -2e400 is out of range");
    // Large but finite numbers are read; too large for a single is refused as before.
    EXPECT_NE(refusal("{\"veltrix-snapshot\": 1, \"namespaces\": {\"r\": {\"A\": [{\"P\": 1e300}]}}}")
                  .find("too large for a single-precision value"),
              std::string::npos);
}

TEST(HostileSnapshot, MessagesQuoteNoBinaryBytesAndNoHugeValues) {
    // A version that is a long string is cut short.
    const std::string longVersion = refusal("{\"veltrix-snapshot\": \"" + std::string(5000, 'x') + "\"}");
    EXPECT_LT(longVersion.size(), 200u);
    // Control characters and bytes that are not UTF-8 are escaped.
    const std::string binary = refusal(std::string("\x7F" "ELF\x02\x01\x01\x00\xff\xfe", 10));
    EXPECT_EQ(binary.find_first_of(std::string("\x00\x01\x02\x7F\xff\xfe", 6)), std::string::npos) << binary;
    EXPECT_NE(binary.find("\\x7F"), std::string::npos) << binary;
    const std::string key = refusal("{\"veltrix-snapshot\": 1, \"a\\u001b[2Jb\": 1}");
    EXPECT_NE(key.find("unknown member \"a\\x1B[2Jb\""), std::string::npos) << key;
}

TEST(HostileSnapshot, OnlyRegularFilesAreRead) {
    veltrix::test::TempFolder folder;
    std::vector<std::string> paths = {folder.str()};
#ifndef _WIN32
    paths.push_back("/dev/zero");  // would read for ever
#endif
    for (const std::string& path : paths) {
        auto source = SnapshotSource::load(path);
        ASSERT_FALSE(source.ok()) << path;
        EXPECT_NE(source.failure().description.find("not a regular file"), std::string::npos);
    }
}

TEST(HostileSnapshot, ManyRegistryKeysKeepFileOrderAndDuplicatesAreFound) {
    std::string json = "{\"veltrix-snapshot\": 1, \"registry\": {";
    for (int i = 0; i < 2000; ++i) {
        json += (i ? ",\n" : "") + std::string("\"HKLM\\\\Soft\\\\K") + std::to_string(1999 - i) + "\": {}";
    }
    auto source = SnapshotSource::parse(json + "}}", "s.json");
    ASSERT_TRUE(source.ok()) << source.failure().description;
    auto keys = (*source)->registrySubkeys("Soft");
    ASSERT_TRUE(keys.ok());
    ASSERT_EQ(keys->size(), 2000u);
    EXPECT_EQ(keys->front(), "K1999");
    EXPECT_EQ(keys->back(), "K0");
    EXPECT_EQ(refusal(json + ",\n\"HKLM\\\\Soft\\\\K7\": {}}}"), "s.json:2001:1: the member \"HKLM\\Soft\\K7\" appears twice");
    EXPECT_EQ(refusal(json + ",\n\"hklm\\\\soft\\\\k7\": {}}}"),
              "s.json:2001:1: the registry key \"hklm\\soft\\k7\" appears twice");
}

// A key of 100,000 parts: every parent is made, without one stack frame per
// part, and each lists its one child.
TEST(HostileSnapshot, RegistryKeyOfVeryManyPartsMakesEveryParent) {
    std::string path = "HKLM";
    for (int i = 0; i < 100000; ++i) path += "\\\\P" + std::to_string(i % 10);
    auto source = SnapshotSource::parse("{\"veltrix-snapshot\": 1, \"registry\": {\"" + path + "\": {\"V\": \"t\"}}}",
                                        "s.json");
    ASSERT_TRUE(source.ok()) << source.failure().description;
    EXPECT_EQ(*(*source)->registrySubkeys(""), std::vector<std::string>{"P0"});
    EXPECT_EQ(*(*source)->registrySubkeys("p0\\p1\\p2"), std::vector<std::string>{"P3"});
    std::string deepest;
    for (int i = 0; i < 100000; ++i) deepest += (i ? "\\P" : "P") + std::to_string(i % 10);
    EXPECT_EQ((*source)->registryString(deepest, "v"), "t");
    EXPECT_TRUE((*source)->registrySubkeys(deepest)->empty());
}

// A file of empty objects or short numbers costs a hundred times its size
// once parsed: past a million values it is refused before it is parsed.
TEST(HostileSnapshot, MillionsOfValuesAreRefusedBeforeTheyAreParsed) {
    auto processors = [](std::size_t n, std::string_view each) {
        std::string json = "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"Win32_Processor\": [";
        for (std::size_t k = 0; k < n; ++k) (json += k ? "," : "") += each;
        return json + "]}}}";
    };
    const std::string tooMany = "holds more than 1000000 values (a snapshot of a real machine holds a few thousand)";
    const std::string empty = refusal(processors(1'000'000, "{}"));
    EXPECT_EQ(empty.substr(0, 9), "s.json:1:");
    EXPECT_EQ(empty.substr(empty.find(": ") + 2), tooMany);
    // Counted where they are: the refusal points at the comma before the
    // million and first value (the document's own five come first).
    const std::size_t prefix = processors(0, "").size() - 4;
    const std::size_t column = std::stoul(empty.substr(9, empty.find(": ") - 9));
    EXPECT_EQ(column, prefix + 3 * 499'998) << empty;
    const std::string many = refusal("{\"veltrix-snapshot\": 1, \"source\": [" +
                                     [] {
                                         std::string items = "1";
                                         for (int k = 0; k < 1'000'000; ++k) items += ",1";
                                         return items;
                                     }() +
                                     "]}");
    EXPECT_NE(many.find(tooMany), std::string::npos);
    // Commas and brackets inside strings are text; a large snapshot of a
    // sensible size still loads.
    const std::string commas = "{\"veltrix-snapshot\": 1, \"source\": \"" + std::string(3'000'000, ',') + "\"}";
    EXPECT_TRUE(SnapshotSource::parse(commas, "s").ok());
    EXPECT_TRUE(SnapshotSource::parse(processors(20'000, "{\"Name\": \"CPU\"}"), "s").ok());
}
