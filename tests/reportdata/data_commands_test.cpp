// The export and compare subcommands as scripts call them, through the batch
// entry point.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "data/report_export.h"
#include "reportdata/report_data_support.h"
#include "support/file_text.h"
#include "support/temp_folder.h"
#include "ui/console/batch.h"

namespace veltrix {
namespace {

using nlohmann::json;
using test::TempFolder;

// Enough of JSON Schema for the constructs our schema uses: type (one or a
// list), const, required, properties, additionalProperties false, items,
// and local $ref. Returns the first violation, empty when valid.
std::string violation(const json& schema, const json& value, const json& root, const std::string& where) {
    if (schema.contains("$ref")) {
        std::string ref = schema["$ref"];
        return violation(root[json::json_pointer(ref.substr(1))], value, root, where);
    }
    if (schema.contains("const") && schema["const"] != value) return where + ": not " + schema["const"].dump();
    if (schema.contains("type")) {
        auto is = [&](const std::string& type) {
            return (type == "object" && value.is_object()) || (type == "array" && value.is_array()) ||
                   (type == "string" && value.is_string()) || (type == "null" && value.is_null()) ||
                   (type == "integer" && value.is_number_integer());
        };
        bool ok = false;
        if (schema["type"].is_array()) {
            for (const auto& t : schema["type"]) ok = ok || is(t);
        } else {
            ok = is(schema["type"]);
        }
        if (!ok) return where + ": not of type " + schema["type"].dump();
    }
    if (value.is_object()) {
        for (const auto& name : schema.value("required", json::array())) {
            if (!value.contains(name)) return where + ": lacks " + name.dump();
        }
        for (const auto& [name, member] : value.items()) {
            if (schema.contains("properties") && schema["properties"].contains(name)) {
                if (auto v = violation(schema["properties"][name], member, root, where + "/" + name); !v.empty()) return v;
            } else if (schema.value("additionalProperties", true) == false) {
                return where + ": unexpected " + name;
            }
        }
    }
    if (value.is_array() && schema.contains("items")) {
        for (std::size_t k = 0; k < value.size(); ++k) {
            if (auto v = violation(schema["items"], value[k], root, where + "/" + std::to_string(k)); !v.empty()) return v;
        }
    }
    return {};
}

struct CommandRun {
    int code = -1;
    std::string out, err;
};

class DataCommands : public ::testing::Test {
protected:
    TempFolder folder;
    std::vector<std::string> opened;
    std::string standardInput;  // what `-` reads

    CommandRun run(std::vector<std::string> args) {
        BatchEnvironment env;
        env.liveService = []() -> Result<std::shared_ptr<wmi::Service>> { return Failure{1, "no live scan here"}; };
        env.makePlatform = [this](const std::string&) -> std::unique_ptr<Platform> {
            return std::make_unique<OpenRecorder>(opened);
        };
        env.makeLocale = [] { return std::unique_ptr<Locale>(std::make_unique<EnglishLocale>()); };
        args.insert(args.begin(), "veltrix");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        std::FILE* in = std::tmpfile();
        std::fwrite(standardInput.data(), 1, standardInput.size(), in);
        std::rewind(in);
        env.input = in;
        CommandRun r;
        r.code = runBatch(static_cast<int>(argv.size()), argv.data(), env, out, err);
        std::fclose(in);
        r.out = test::readAndClose(out);
        r.err = test::readAndClose(err);
        return r;
    }

    std::string path(const std::string& name) { return (folder / name).string(); }

    // The sample snapshot as a saved report (different name and time) and as itself.
    std::string report() {
        std::string p = path("office.htm");
        test::writeText(p, test::officeDesktopPage());
        return p;
    }

private:
    class OpenRecorder final : public Platform {
    public:
        explicit OpenRecorder(std::vector<std::string>& opened) : opened_(opened) {}
        std::string programFolder() const override { return "."; }
        std::string pathSeparator() const override { return "/"; }
        std::string systemDrive() const override { return "/"; }
        bool fileExists(const std::string&) const override { return false; }
        Status createEmptyFile(const std::string&) override { return {}; }
        Result<std::unique_ptr<ReportStream>> openReport(const std::string&, Messages&) override {
            return Failure{1, "unused"};
        }
        Result<std::unique_ptr<LineReader>> openTextFile(const std::string&) override { return Failure{1, "unused"}; }
        Result<int> getAttributes(const std::string&) const override { return Failure{1, "unused"}; }
        Status setAttributes(const std::string&, int) override { return {}; }
        Status startProcess(const std::string&, const std::string&) override { return {}; }
        Status openWithShell(const std::string& path) override {
            opened_.push_back(path);
            return {};
        }
        DateTime now() const override { return {}; }

    private:
        std::vector<std::string>& opened_;
    };
};

TEST_F(DataCommands, ExportJsonFollowsTheSchemaForOneAndSeveralInputs) {
    const json schema = json::parse(test::readText(std::string(VELTRIX_TEST_DATA) + "/../../docs/report.schema.json"));
    CommandRun one = run({"export", report()});
    ASSERT_EQ(one.code, 0) << one.err;
    const json document = json::parse(one.out);
    EXPECT_EQ(violation(schema, document, schema, ""), "");
    EXPECT_EQ(document["veltrix-report"], data::kReportJsonVersion);
    EXPECT_EQ(document["name"], "office-desktop");

    CommandRun two = run({"export", report(), test::officeDesktop()});
    ASSERT_EQ(two.code, 0) << two.err;
    const json documents = json::parse(two.out);
    ASSERT_TRUE(documents.is_array());
    ASSERT_EQ(documents.size(), 2u);
    for (const json& d : documents) EXPECT_EQ(violation(schema, d, schema, ""), "");
    // The saved report and the snapshot it came from carry the same sections
    // (the scan time aside).
    EXPECT_EQ(documents[0]["sections"].size(), documents[1]["sections"].size());
    EXPECT_EQ(documents[0]["software"], documents[1]["software"]);

    // The validator does catch what the schema forbids.
    json broken = document;
    broken["sections"][0]["items"][0][0].erase("value");
    EXPECT_NE(violation(schema, broken, schema, ""), "");
}

TEST_F(DataCommands, ExportCsvQuotesFieldsAndWritesFiles) {
    EXPECT_EQ(data::CsvField("plain"), "plain");
    EXPECT_EQ(data::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(data::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(data::CsvField("two\nlines"), "\"two\nlines\"");

    const std::string out = path("inventory.csv");
    CommandRun r = run({"export", "--format", "csv", "--output", out, report()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string csv = test::readText(out);
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")), "file,section,item,label,value");
    EXPECT_NE(csv.find(report() + ",Memory,2,Slot,DIMM2\r\n"), std::string::npos);
    EXPECT_NE(csv.find(report() + ",Installed Software,1,7-Zip 23.01 (x64),23.01\r\n"), std::string::npos);
    // The "Status" of a problem device holds a line break and is quoted.
    EXPECT_NE(csv.find(",additional installed hardware,1,Status,\"Errorcode:28\n"), std::string::npos);
}

TEST_F(DataCommands, BadInputIsExitTwoAndWritesNothing) {
    const std::string out = path("never.json");
    CommandRun missing = run({"export", "--output", out, report(), path("missing.htm")});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("missing.htm"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));

    test::writeText(path("notes.htm"), "<html><body>just notes</body></html>");
    CommandRun notReport = run({"export", path("notes.htm")});
    EXPECT_EQ(notReport.code, 2);
    EXPECT_NE(notReport.err.find("not a Veltrix report"), std::string::npos);

    const std::string page = test::officeDesktopPage();
    test::writeText(path("cut.htm"), page.substr(0, page.size() / 3));
    CommandRun cut = run({"compare", path("cut.htm"), report()});
    EXPECT_EQ(cut.code, 2);
    EXPECT_NE(cut.err.find("truncated"), std::string::npos);

    EXPECT_EQ(run({"export", "--format", "xml", report()}).code, 2);
    EXPECT_EQ(run({"compare", report()}).code, 2);
    EXPECT_EQ(run({"compare", "--open", "--format", "json", report(), report()}).code, 2);
}

// The command reads whose scan each input is: a saved report by the serials
// it shows, a snapshot by its own record, so an upgrade and another PC are
// found whatever the mix.
TEST_F(DataCommands, CompareNamesAnUpgradeAndAnotherMachine) {
    auto snapshot = json::parse(test::readText(test::officeDesktop()));
    auto& registry = snapshot["registry"];
    registry["HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\7-Zip"] =
        json{{"DisplayName", "7-Zip 24.08 (x64)"}, {"DisplayVersion", "24.08"}};
    test::writeText(path("upgraded.json"), snapshot.dump());
    CommandRun upgraded = run({"compare", report(), path("upgraded.json")});
    EXPECT_EQ(upgraded.code, 1) << upgraded.err;
    EXPECT_EQ(upgraded.out.substr(0, 4), "--- ");
    EXPECT_NE(upgraded.out.find("[Installed Software]\n^ upgraded: 7-Zip 23.01 (x64) 23.01 \xE2\x86\x92 7-Zip 24.08 "
                                "(x64) 24.08\n\n1 section differs\n"),
              std::string::npos)
        << upgraded.out;

    for (const char* cls : {"Win32_SystemEnclosure", "Win32_BIOS"}) {
        snapshot["namespaces"]["root\\cimv2"][cls][0]["SerialNumber"] = "NRV-7731-0666";
    }
    snapshot["namespaces"]["root\\cimv2"]["Win32_BaseBoard"][0]["SerialNumber"] = "BNRV-7731-0666";
    test::writeText(path("other.json"), snapshot.dump());
    CommandRun other = run({"compare", report(), path("other.json")});
    EXPECT_EQ(other.out.substr(0, other.out.find('\n')),
              "These are scans of two different machines: the old scan's enclosure serial is NRV-7731-0042, the new "
              "one's NRV-7731-0666.")
        << other.out;
}

TEST_F(DataCommands, CompareExitsLikeDiffInEveryFormat) {
    const std::string saved = report();
    CommandRun same = run({"compare", saved, test::officeDesktop()});
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_NE(same.out.find("no differences"), std::string::npos);

    auto snapshot = json::parse(test::readText(test::officeDesktop()));
    snapshot["namespaces"]["root\\cimv2"]["Win32_DiskDrive"][0]["Firmwarerevision"] = "4B2QFXO7";
    test::writeText(path("later.json"), snapshot.dump());

    CommandRun text = run({"compare", saved, path("later.json")});
    EXPECT_EQ(text.code, 1) << text.err;
    EXPECT_NE(text.out.find("[HDD]\n~ changed: Samsung SSD 980 500GB [0025_3852_1190_1A2B.]\n"
                            "    Firmware: 3B4QFXO7 \xE2\x86\x92 4B2QFXO7\n"),
              std::string::npos)
        << text.out;

    CommandRun asJson = run({"compare", "--format", "json", saved, path("later.json")});
    EXPECT_EQ(asJson.code, 1);
    const json result = json::parse(asJson.out);
    EXPECT_EQ(result["same"], false);
    EXPECT_EQ(result["sections"][0]["changed"][0]["changes"][0],
              (json{{"label", "Firmware"}, {"old", "3B4QFXO7"}, {"new", "4B2QFXO7"}}));

    const std::string page = path("compare.htm");
    CommandRun html = run({"compare", "--open", "--output", page, saved, path("later.json")});
    EXPECT_EQ(html.code, 1) << html.err;
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(std::filesystem::path(opened[0]).filename(), "compare.htm");
    const std::string bytes = test::readText(page);
    EXPECT_NE(bytes.find("<strong>&nbsp;HDD</strong>"), std::string::npos);
    EXPECT_NE(bytes.find("Firmware: 3B4QFXO7 &#8594; 4B2QFXO7"), std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 16), "</body></html>\r\n");
}

// A hostile report's values are text in the comparison page, never markup.
TEST_F(DataCommands, ComparePageEscapesWhatTheReportsHold) {
    auto snapshot = json::parse(test::readText(test::officeDesktop()));
    snapshot["namespaces"]["root\\cimv2"]["Win32_BIOS"][0]["Manufacturer"] = "<script>alert(1)</script>";
    test::writeText(path("hostile.json"), snapshot.dump());
    CommandRun html = run({"compare", "--format", "html", test::officeDesktop(), path("hostile.json")});
    EXPECT_EQ(html.code, 1) << html.err;
    EXPECT_EQ(html.out.find("<script>"), std::string::npos);
    EXPECT_NE(html.out.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
}

TEST_F(DataCommands, ExportGivesTrimmedValuesAndTheScanTimeAsIso8601) {
    // The page pads some values; the data does not.
    std::string page = test::officeDesktopPage();
    const std::string serial = "NRV-7731-0042";
    ASSERT_NE(page.find(serial + "&nbsp;"), std::string::npos);
    std::size_t at = 0;
    while ((at = page.find(serial + "&nbsp;", at)) != std::string::npos) {
        page.replace(at, serial.size(), "  " + serial + " ");
        at += serial.size() + 3;
    }
    test::writeText(path("padded.htm"), page);
    CommandRun r = run({"export", path("padded.htm")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("  " + serial), std::string::npos);
    EXPECT_NE(r.out.find("\"value\": \"" + serial + "\""), std::string::npos);
    const json document = json::parse(r.out);
    EXPECT_EQ(document["generated"], "05-March-2024 14:07");
    EXPECT_EQ(document["generated-at"], "2024-03-05T14:07");

    CommandRun csv = run({"export", "--format", "csv", path("padded.htm")});
    EXPECT_EQ(csv.out.find("  " + serial), std::string::npos);
    EXPECT_NE(csv.out.find("," + serial + "\r\n"), std::string::npos);

    // Padding alone is no difference between two reports.
    CommandRun same = run({"compare", report(), path("padded.htm")});
    EXPECT_EQ(same.code, 0) << same.out;
    EXPECT_NE(same.out.find("no differences"), std::string::npos) << same.out;
}

TEST(ScanTime, IsoFromTheReportsWordingInEnglishOrTheUsersLanguage) {
    class German final : public Locale {
    public:
        std::string monthName(int month) const override {
            static const char* names[] = {"Januar", "Februar", "M\xC3\xA4rz", "April", "Mai", "Juni",
                                          "Juli", "August", "September", "Oktober", "November", "Dezember"};
            return names[month - 1];
        }
        char decimalSeparator() const override { return ','; }
        std::string shortDate(const DateTime&) const override { return {}; }
        std::string longTime(const DateTime&) const override { return {}; }
    } german;
    EXPECT_EQ(data::ScanTimeIso("09-December-2026 03:05"), "2026-12-09T03:05");
    EXPECT_EQ(data::ScanTimeIso(" 01-january-2027 00:00 "), "2027-01-01T00:00");
    EXPECT_EQ(data::ScanTimeIso("09-Dezember-2026 03:05", &german), "2026-12-09T03:05");
    EXPECT_EQ(data::ScanTimeIso("05-M\xC3\xA4rz-2024 14:07", &german), "2024-03-05T14:07");
    for (const std::string odd : {"", "09-Dezember-2026 03:05", "9-December-2026 03:05", "09-December-2026 3:05",
                                  "32-December-2026 03:05", "09-December-2026 24:00", "09-December-2026 03:05:07",
                                  "09-Smarch-2026 03:05", "09--2026 03:05", "2026-12-09T03:05"}) {
        EXPECT_EQ(data::ScanTimeIso(odd), std::nullopt) << odd;
    }
}

TEST_F(DataCommands, DashIsStandardInputAndOutput) {
    standardInput = test::readText(test::officeDesktop());
    CommandRun piped = run({"export", "-"});
    ASSERT_EQ(piped.code, 0) << piped.err;
    EXPECT_EQ(json::parse(piped.out)["file"], "-");
    EXPECT_EQ(json::parse(piped.out)["software"], json::parse(run({"export", test::officeDesktop()}).out)["software"]);

    CommandRun toStdout = run({"export", "--output", "-", test::officeDesktop()});
    ASSERT_EQ(toStdout.code, 0) << toStdout.err;
    EXPECT_FALSE(std::filesystem::exists("-"));
    EXPECT_EQ(json::parse(toStdout.out)["name"], "office-desktop");

    CommandRun compared = run({"compare", "-", test::officeDesktop()});
    EXPECT_EQ(compared.code, 0) << compared.err;
    EXPECT_NE(compared.out.find("--- - ("), std::string::npos) << compared.out;

    EXPECT_EQ(run({"export", "-", "-"}).code, 2);
    EXPECT_EQ(run({"compare", "-", "-"}).code, 2);
    EXPECT_EQ(run({"compare", "--open", "--output", "-", test::officeDesktop(), test::officeDesktop()}).code, 2);

    standardInput = "not a report";
    CommandRun bad = run({"export", "-"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("veltrix export: standard input: "), std::string::npos) << bad.err;
}

TEST_F(DataCommands, FoldersAndMissingFoldersAreNamed) {
    CommandRun folderIn = run({"export", folder.str()});
    EXPECT_EQ(folderIn.code, 2);
    EXPECT_EQ(folderIn.err, "veltrix export: " + folder.str() +
                                ": is a folder, not a regular file (for a captured system use veltrix --batch "
                                "--sysroot " + folder.str() + " --name NAME)\n");
    EXPECT_NE(run({"compare", folder.str(), report()}).err.find("is a folder"), std::string::npos);

    CommandRun folderOut = run({"export", "--output", folder.str(), report()});
    EXPECT_EQ(folderOut.code, 1);
    EXPECT_EQ(folderOut.err, "veltrix export: " + folder.str() + ": is a folder; name a file in it\n");
    CommandRun missing = run({"export", "--output", path("no/x.json"), report()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "veltrix export: " + path("no/x.json") + ": the folder " + path("no") + " does not exist\n");
    EXPECT_FALSE(std::filesystem::exists(path("no")));
}

TEST_F(DataCommands, CompareTakesHtmAndSaysWhereAnOpenedPageIs) {
    CommandRun htm = run({"compare", "--format", "htm", report(), test::officeDesktop()});
    EXPECT_EQ(htm.code, 0) << htm.err;
    EXPECT_EQ(htm.out.rfind("<html>", 0), 0u) << htm.out.substr(0, 40);

    CommandRun opened1 = run({"compare", "--open", report(), test::officeDesktop()});
    EXPECT_EQ(opened1.code, 0) << opened1.err;
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened1.err, "veltrix compare: the comparison is written to " + opened[0] + "\n");
    EXPECT_TRUE(std::filesystem::exists(opened[0]));
    std::filesystem::remove(opened[0]);
}

}  // namespace
}  // namespace veltrix
