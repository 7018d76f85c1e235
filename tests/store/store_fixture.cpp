#include "store_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "store/content_digest.h"

namespace veltrix::store::testing {
namespace {

std::string pgUrl() {
    const char* url = std::getenv("VELTRIX_TEST_PG_URL");
    return url ? url : "";
}

// The URL with another database: the path part after the host.
std::string withDatabase(const std::string& url, const std::string& database) {
    std::size_t scheme = url.find("://") + 3;
    std::size_t slash = url.find('/', scheme);
    std::size_t query = url.find('?', scheme);
    std::string base = url.substr(0, slash == std::string::npos ? (query == std::string::npos ? url.size() : query) : slash);
    std::string rest = query == std::string::npos ? "" : url.substr(query);
    return base + "/" + database + rest;
}

}  // namespace

void StoreTest::SetUp() {
    static std::atomic<int> counter{0};
    std::string unique = std::to_string(getpid()) + "_" + std::to_string(counter++);
    // Every test gets a folder for its input and output files, on either
    // engine: without one, the files would land in the current folder.
    folder_ = std::filesystem::temp_directory_path() / ("veltrix-store-" + unique);
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    if (postgres()) {
        std::string url = pgUrl();
        if (url.empty()) GTEST_SKIP() << "VELTRIX_TEST_PG_URL is not set (tests/store/with_postgres.sh sets it)";
        auto admin = openPostgres(url);
        ASSERT_TRUE(admin) << admin.failure().description;
        database_ = "veltrix_test_" + unique;
        ASSERT_TRUE((*admin)->execute("CREATE DATABASE " + database_).ok());
        target_ = withDatabase(url, database_);
    } else {
        target_ = (folder_ / "inventory.sqlite").string();
    }
}

void StoreTest::TearDown() {
    if (!database_.empty()) {
        auto admin = openPostgres(pgUrl());
        if (admin) (*admin)->execute("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    }
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
}

std::unique_ptr<InventoryStore> StoreTest::openStore(OpenMode mode) {
    auto store = InventoryStore::open(target_, mode);
    EXPECT_TRUE(store) << store.failure().description;
    return store ? std::move(*store) : nullptr;
}

std::unique_ptr<SqlConnection> StoreTest::connect() {
    auto connection = postgres() ? openPostgres(target_) : openSqlite(target_, true);
    EXPECT_TRUE(connection) << connection.failure().description;
    return connection ? std::move(*connection) : nullptr;
}

std::int64_t StoreTest::count(const std::string& sql) {
    auto connection = connect();
    auto value = queryValue(*connection, sql);
    EXPECT_TRUE(value) << value.failure().description << " in " << sql;
    return value && *value ? std::stoll(**value) : -1;
}

void StoreTest::addAll(InventoryStore& store, const std::vector<data::Report>& reports) {
    ASSERT_TRUE(store.beginBatch().ok());
    for (const auto& report : reports) {
        auto added = store.add(report, digestOf(report), "/reports/" + report.name + ".htm");
        ASSERT_TRUE(added) << added.failure().description;
    }
    ASSERT_TRUE(store.commitBatch().ok());
}

data::Report makeReport(int index, int variant) {
    using data::Item;
    using data::Row;
    using data::Section;
    char name[32];
    std::snprintf(name, sizeof name, "PC-%04d", index);
    data::Report report;
    report.name = name;
    report.comment = variant ? "after repair " + std::to_string(variant) : "";
    report.version = "4.2.2";
    char generated[40];
    std::snprintf(generated, sizeof generated, "%02d-December-2026 %02d:%02d", 1 + variant % 28, 8 + index % 10,
                  index % 60);
    report.generated = generated;
    const std::string v = std::to_string(variant);
    report.sections = {
        Section{"Veltrixproperties", {Item{{Row{"Veltrix-Version", "4.2.2"}, Row{"Veltrix generated", generated}}}}},
        Section{"Systeminformation", {Item{{Row{"Serial Number", "SN" + std::to_string(index)},
                                            Row{"Product", "Office " + std::to_string(7000 + index % 3)}}}}},
        Section{"Motherboard", {Item{{Row{"Product", "NB-7731"}, Row{"Manufacturer (System)", "Norvane"}}}}},
        Section{"CPU", {Item{{Row{"Name", "Core i5-12500"}, Row{"DeviceID", "CPU0"}}},
                        Item{{Row{"Name", "Core i5-12500"}, Row{"DeviceID", "CPU1"}}}}},
        Section{"Memory", {Item{{Row{"BankLabel", "BANK 0"}, Row{"Capacity", std::to_string(2048 << (index % 3)) + " MB"}}},
                           Item{{Row{"BankLabel", "BANK 1"}, Row{"Capacity", "2048 MB"}}}}},
        Section{"HDD", {Item{{Row{"Name", "disk0"}, Row{"Size", "932 GB"}, Row{"Model", "ST31000524AS"}}},
                        Item{{Row{"Name", "disk1"}, Row{"Size", "477 GB"}, Row{"Model", "Samsung SSD 860 v" + v}}}},
                std::string("Not found: the object has no property SerialNumber\nInvalid query")},
        Section{"Operatingsystem", {Item{{Row{"Name", "Microsoft Windows 10 Pro"}, Row{"Version", "10.0.19045"}}}}},
        Section{"Slots", {}},
        Section{"Hotfix", {}},
        Section{"Installed Software", {}},
    };
    report.slots = {data::Slot{"PCIE1", "PCIe x16", "Ja"}, data::Slot{"PCIE2", "PCIe x1", "Nein"}};
    report.hotfixes = {{"KB5034441", "Security Update"}, {"KB50" + std::to_string(index), "Update v" + v}};
    for (int i = 0; i < 3 + index % 4; ++i) {
        report.software.push_back({"Program " + std::to_string(i), "1." + v});
    }
    return report;
}

std::int64_t expectedRowCount(const data::Report& report) {
    std::int64_t rows = 0;
    for (const auto& section : report.sections) {
        for (const auto& item : section.items) rows += static_cast<std::int64_t>(item.rows.size());
        if (section.error) rows += 1 + std::count(section.error->begin(), section.error->end(), '\n');
    }
    return rows + 3 * static_cast<std::int64_t>(report.slots.size());
}

std::string digestOf(const data::Report& report) {
    std::string text = report.name + '\n' + report.generated + '\n' + report.comment + '\n';
    for (const auto& section : report.sections) {
        for (const auto& item : section.items) {
            for (const auto& row : item.rows) text += row.label + '\t' + row.value + '\n';
        }
    }
    for (const auto& program : report.software) text += program.first + '\t' + program.second + '\n';
    return contentDigest(text);
}

std::string engineName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

}  // namespace veltrix::store::testing
