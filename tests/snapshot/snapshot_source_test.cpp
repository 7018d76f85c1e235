#include "providers/snapshot/snapshot_source.h"

#include <gtest/gtest.h>

#include <fstream>

#include "reportdata/report_data_support.h"

using veltrix::snapshot::SnapshotSource;
using veltrix::wmi::Kind;

namespace {

std::unique_ptr<SnapshotSource> parseOk(std::string_view json) {
    auto source = SnapshotSource::parse(json, "s.json");
    EXPECT_TRUE(source.ok()) << (source.ok() ? "" : source.failure().description);
    return source.ok() ? std::move(*source) : nullptr;
}

}  // namespace

TEST(SnapshotSource, MapsJsonValuesToPropertyKinds) {
    auto source = parseOk(R"({"veltrix-snapshot": 1, "source": "test bench",
      "namespaces": {"ROOT/CIMV2": {"Win32_X": [
        {"Text": "abc", "Small": -5, "Max": 2147483647, "Big": 500107862016, "Huge": 18446744073709551615,
         "Negative": -2147483649, "Score": 5.9, "Whole": 8.0, "Flag": true, "None": null, "List": [1, "a", null]}
      ]}}})");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->sourceText(), "test bench");
    EXPECT_TRUE(source->hasNamespace("root\\cimv2"));
    auto objects = source->instances("root\\cimv2", "WIN32_x");
    ASSERT_TRUE(objects.ok());
    ASSERT_EQ((*objects)->size(), 1u);
    const auto& o = *(**objects)[0];
    struct Case {
        const char* name;
        Kind kind;
        const char* text;
    };
    const Case cases[] = {
        {"Text", Kind::Text, "abc"},         {"Small", Kind::Int32, "-5"},
        {"Max", Kind::Int32, "2147483647"},  {"Big", Kind::Text, "500107862016"},
        {"Huge", Kind::Text, "18446744073709551615"}, {"Negative", Kind::Text, "-2147483649"},
        {"Score", Kind::Real32, "5.9"},      {"Whole", Kind::Real32, "8"},
        {"Flag", Kind::Bool, "True"},        {"None", Kind::Null, ""},
    };
    for (const Case& c : cases) {
        auto v = o.get(c.name);
        ASSERT_TRUE(v.ok()) << c.name;
        EXPECT_EQ(v->kind(), c.kind) << c.name;
        EXPECT_EQ(*v->toText(), c.text) << c.name;
    }
    auto list = o.get("list");
    ASSERT_EQ(list->kind(), Kind::Array);
    EXPECT_EQ(list->asArray().size(), 3u);
    EXPECT_FALSE(o.get("Absent").ok());
    EXPECT_EQ(o.propertyNames().front(), "Text");  // file order kept
}

TEST(SnapshotSource, ClassErrorsUnknownClassesAndConnectError) {
    auto source = parseOk(R"({"veltrix-snapshot": 1,
      "connect-error": {"number": 462, "description": "The remote server machine does not exist"},
      "namespaces": {"root\\cimv2": {"Win32_WinSAT": {"error": {"number": 4112, "description": "Invalid class"}},
                                     "Win32_Empty": []}}})");
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->connectError());
    EXPECT_EQ(source->connectError()->number, 462);
    auto winsat = source->instances("root\\cimv2", "Win32_WinSAT");
    ASSERT_FALSE(winsat.ok());
    EXPECT_EQ(winsat.failure().number, 4112);
    EXPECT_TRUE((*source->instances("root\\cimv2", "Win32_Empty"))->empty());
    auto unknown = source->instances("root\\cimv2", "Win32_Nothing");
    ASSERT_FALSE(unknown.ok());
    EXPECT_NE(unknown.failure().description.find("Invalid class"), std::string::npos);
    EXPECT_FALSE(source->instances("root\\wmi", "Win32_Empty").ok());
}

TEST(SnapshotSource, RegistryKeysParentsAndOrder) {
    auto source = parseOk(R"({"veltrix-snapshot": 1, "registry": {
      "HKEY_LOCAL_MACHINE\\Software\\Uninstall\\Zeta": {"DisplayName": "Zeta 1", "DisplayVersion": "1.0"},
      "hklm\\SOFTWARE\\Uninstall\\Alpha\\": {},
      "HKLM\\Software\\Uninstall\\Mid\\Deep\\Deeper": {"X": "y"},
      "HKLM\\Software\\Other": {}
    }})");
    ASSERT_TRUE(source);
    auto subkeys = source->registrySubkeys("Software\\Uninstall\\");
    ASSERT_TRUE(subkeys.ok());
    EXPECT_EQ(*subkeys, (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
    EXPECT_EQ(*source->registrySubkeys("software"), (std::vector<std::string>{"Uninstall", "Other"}));
    EXPECT_EQ(*source->registrySubkeys(""), (std::vector<std::string>{"Software"}));
    EXPECT_TRUE(source->registrySubkeys("Software\\Uninstall\\Alpha")->empty());
    EXPECT_FALSE(source->registrySubkeys("Software\\Nowhere").ok());
    EXPECT_EQ(source->registryString("SOFTWARE\\uninstall\\zeta", "displayname"), "Zeta 1");
    EXPECT_EQ(source->registryString("Software\\Uninstall\\Zeta", "QuietDisplayName"), std::nullopt);
    EXPECT_EQ(source->registryString("Software\\Uninstall\\Mid", "X"), std::nullopt);  // implicit key, no values
}

// Version 2 says when the scan was taken and whose it is; version 1 files,
// which say neither, load as before.
TEST(SnapshotSource, ReadsWhenAndWhoseAndLoadsVersionOneAsBefore) {
    auto current = SnapshotSource::parse(
        "{\"veltrix-snapshot\": 2, \"source\": \"s\", \"taken-at\": \"2026-12-09T05:14:03+01:00\",\n"
        " \"machine\": {\"host-name\": \"PC-0042\", \"uuid\": \"4c4c4544-0038-3510-8052-b3c04f4d4a32\",\n"
        "  \"enclosure-serial\": \"NRV-7731-0042\", \"board-serial\": \"\", \"macs\": [\"8C:EC:4B:11:22:33\"]}}",
        "s.json");
    ASSERT_TRUE(current.ok()) << current.failure().description;
    ASSERT_TRUE((*current)->takenAt());
    EXPECT_EQ((*current)->takenAt()->local.hour, 5);
    EXPECT_EQ((*current)->takenAt()->utcOffsetMinutes, 60);
    EXPECT_EQ((*current)->takenAtText(), "2026-12-09T05:14:03+01:00");
    ASSERT_TRUE((*current)->machine());
    EXPECT_EQ((*current)->machine()->hostName, "PC-0042");
    EXPECT_EQ((*current)->machine()->enclosureSerial, "NRV-7731-0042");
    EXPECT_EQ((*current)->machine()->boardSerial, std::nullopt);  // empty reads as absent
    EXPECT_EQ((*current)->machine()->macs, std::vector<std::string>{"8C:EC:4B:11:22:33"});
    auto old = SnapshotSource::parse(veltrix::test::readText(veltrix::test::officeDesktop()), "office.json");
    ASSERT_TRUE(old.ok()) << old.failure().description;
    EXPECT_FALSE((*old)->takenAt());
    EXPECT_FALSE((*old)->machine());
}

TEST(SnapshotSource, RefusesMalformedFilesWithLineAndColumn) {
    struct Case {
        std::string_view json;
        std::string_view message;  // expected to be contained in the description
    };
    const Case cases[] = {
        {"", "s.json:1:1: not valid JSON"},
        {"{\"veltrix-snapshot\": 1,\n  \"source\": tru }", "s.json:2:16: not valid JSON"},
        {"{\"veltrix-snapshot\": 1,\n\"source\": \"x\",\n}", "s.json:3:1: not valid JSON"},
        {"[1]", "s.json:1:1: a snapshot is a JSON object"},
        {"{\"source\": \"x\"}", "s.json:1:1: the member \"veltrix-snapshot\""},
        {"{\"veltrix-snapshot\": 3}", "s.json:1:22: unsupported snapshot format version 3"},
        {"{\"veltrix-snapshot\": \"1\"}", "s.json:1:22: unsupported snapshot format version \"1\""},
        {"{\"veltrix-snapshot\": 1, \"namespace\": {}}", "s.json:1:25: unknown member \"namespace\""},
        {"{\"veltrix-snapshot\": 1, \"veltrix-snapshot\": 1}", "s.json:1:25: the member \"veltrix-snapshot\" appears twice"},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\n  \"Win32_A\": 5}}}",
         "s.json:2:14: the class \"Win32_A\" must be an array"},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\n  \"Win32_A\": [\n    {\"P\": 1},\n    "
         "{\"Q\": {\"x\": 1}}]}}}",
         "s.json:4:11: a property value must be"},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"A\": [3]}}}", "s.json:1:62: an instance must be"},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"A\": [{\"P\": [[1]]}]}}}",
         "s.json:1:69: an array cannot hold arrays"},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"A\": [{\"Name\": 1, \"NAME\": 2}]}}}",
         "s.json:1:74: the property \"NAME\" appears twice"},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"A\": {\"error\": {\"number\": 0, "
         "\"description\": \"x\"}}}}}",
         "s.json:1:82: an error number must be"},
        {"{\"veltrix-snapshot\": 1, \"connect-error\": {\"number\": 5}}", "the error lacks its \"description\""},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"A\": {\"error\": {\"number\": 1, "
         "\"description\": \"x\"}, \"more\": 1}}}}",
         "must be an array of objects or {\"error\""},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"A\": [], \"a\": []}}}",
         "s.json:1:65: the class \"a\" appears twice"},
        {"{\"veltrix-snapshot\": 1, \"registry\": {\"HKCU\\\\Software\": {}}}", "s.json:1:38: a registry key must begin"},
        {"{\"veltrix-snapshot\": 1, \"registry\": {\"HKLM\\\\A\": {\"V\": 1}}}", "s.json:1:55: a registry value must be text"},
        {"{\"veltrix-snapshot\": 1, \"registry\": {\"HKLM\\\\A\": {}, \"hklm\\\\a\": {}}}", "the registry key \"hklm\\a\" appears twice"},
        {"{\"veltrix-snapshot\": 1, \"registry\": {\"HKLM\\\\A\\\\\\\\B\": {}}}", "has an empty part"},
        {"{\"veltrix-snapshot\": 1, \"source\": \"\xff\"}", "s.json:1:36: not valid JSON"},
        {"{\"veltrix-snapshot\": 2, \"taken-at\": \"09-December-2026 05:14\"}",
         "s.json:1:37: \"taken-at\" must be a time such as"},
        {"{\"veltrix-snapshot\": 2, \"taken-at\": 20261209}", "s.json:1:37: \"taken-at\" must be text"},
        {"{\"veltrix-snapshot\": 2, \"machine\": {\"serial\": \"x\"}}", "unknown member \"serial\" in \"machine\""},
        {"{\"veltrix-snapshot\": 2, \"machine\": {\"macs\": \"8C:EC:4B:11:22:33\"}}", "must be a list of texts"},
        {"{\"veltrix-snapshot\": 2, \"machine\": {\"uuid\": 5}}", "\"uuid\" in \"machine\" must be text"},
    };
    for (const Case& c : cases) {
        auto source = SnapshotSource::parse(c.json, "s.json");
        ASSERT_FALSE(source.ok()) << c.json;
        EXPECT_GT(source.failure().number, 0);
        EXPECT_NE(source.failure().description.find(c.message), std::string::npos)
            << c.json << "\n -> " << source.failure().description;
    }
}

TEST(SnapshotSource, LoadNamesAnUnreadableFileAndReadsAGoodOne) {
    auto missing = SnapshotSource::load("/nonexistent/dir/snap.json");
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.failure().description.find("/nonexistent/dir/snap.json"), std::string::npos);

    std::string path = ::testing::TempDir() + "veltrix_snapshot_load.json";
    std::ofstream(path) << "{\"veltrix-snapshot\": 1,\n \"bad\": 1}";
    auto bad = SnapshotSource::load(path);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.failure().description.rfind(path + ":2:2: unknown member", 0), 0u) << bad.failure().description;

    std::ofstream(path) << "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {}}}";
    auto good = SnapshotSource::load(path);
    ASSERT_TRUE(good.ok());
    EXPECT_TRUE((*good)->hasNamespace("ROOT\\CIMV2"));
}

TEST(SnapshotSource, TheShippedExampleLoads) {
    auto example = SnapshotSource::load(std::string(VELTRIX_EXAMPLES) + "/office-desktop.json");
    ASSERT_TRUE(example.ok()) << example.failure().description;
    EXPECT_TRUE((*example)->instances("root\\cimv2", "Win32_BIOS").ok());
}
