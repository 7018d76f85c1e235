// Stores of version 1 (made by the program before machines were recognised
// by their hardware) are upgraded on opening, in one transaction: the
// machines that version 1 split by name are merged, every scan is kept, and
// an upgrade that dies halfway leaves the version 1 store as it was.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "store_fixture.h"

namespace veltrix::store::testing {
namespace {

std::string fixture(const std::string& name) { return std::string(VELTRIX_TEST_DATA) + "/store-v1/" + name; }

class StoreUpgrade : public StoreTest {
protected:
    // The version 1 fixture, as the test's own store.
    void loadFixture() {
        if (postgres()) {
            std::ifstream in(fixture("inventory-postgresql.sql"));
            std::string dump((std::istreambuf_iterator<char>(in)), {});
            auto raw = connect();
            ASSERT_TRUE(raw);
            Status loaded = raw->execute(dump);
            ASSERT_TRUE(loaded.ok()) << loaded.failure.description;
        } else {
            std::filesystem::copy_file(fixture("inventory.sqlite"), target_);
        }
        ASSERT_EQ(version(), "1");
        ASSERT_EQ(count("SELECT COUNT(*) FROM machines"), 5);
    }

    std::string version() {
        auto raw = connect();
        auto value = queryValue(*raw, "SELECT value FROM store_info WHERE key = 'schema_version'");
        return value && *value ? **value : "";
    }
};

TEST_P(StoreUpgrade, VersionOneIsUpgradedWithItsSplitMachinesMergedAndEveryScanKept) {
    loadFixture();
    const std::int64_t rows = count("SELECT COUNT(*) FROM \"rows\"");
    const std::int64_t programs = count("SELECT COUNT(*) FROM software");
    ASSERT_GT(rows, 0);
    {
        // Reading alone never upgrades: it asks for a load first.
        auto reading = InventoryStore::open(target_, OpenMode::Existing);
        ASSERT_FALSE(reading);
        EXPECT_NE(reading.failure().description.find("run \"store add\" once to upgrade it"), std::string::npos);
    }
    ASSERT_TRUE(openStore());
    EXPECT_EQ(version(), std::to_string(kSchemaVersion));
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM \"rows\""), rows);
    EXPECT_EQ(count("SELECT COUNT(*) FROM software"), programs);
    // office-desktop, pc-0042 and desktop-two-disks are one PC.
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines"), 3);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans s JOIN machines m ON m.id = s.machine_id "
                    "WHERE m.serial = 'NRV-7731-0042'"),
              3);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans WHERE designation IN ('office-desktop', 'pc-0042', "
                    "'desktop-two-disks', '7', 'xppro2')"),
              5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans WHERE matched_by = 'serial'"), 2);
    // The first machine keeps its id; the ones merged into it are gone.
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines WHERE id = 1 AND serial = 'NRV-7731-0042'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM latest"), 3);
    // The merged PC's scans know what changed between them: the snapshot of two disks differs in its disks.
    EXPECT_GT(count("SELECT COUNT(*) FROM scan_changes WHERE section = 'HDD'"), 0);

    // A new scan of the merged PC joins it.
    auto store = openStore();
    ASSERT_TRUE(store);
    data::Report report = makeReport(1, 5);
    report.name = "after-upgrade";
    report.machine.biosSerial = "NRV-7731-0042";
    ASSERT_TRUE(store->beginBatch().ok());
    auto added = store->addScan(report, digestOf(report), "test");
    ASSERT_TRUE(added) << added.failure().description;
    ASSERT_TRUE(store->commitBatch().ok());
    EXPECT_EQ(added->machineId, 1);
}

// A connection that kills its own process on the statement that reassigns
// the second scan's machine: the upgrade dies in the middle of its work.
class DyingConnection final : public SqlConnection {
public:
    explicit DyingConnection(std::unique_ptr<SqlConnection> inner) : inner_(std::move(inner)) {}
    Engine engine() const override { return inner_->engine(); }
    Status execute(std::string_view sql) override { return inner_->execute(sql); }
    Status query(std::string_view sql, const std::vector<SqlParam>& params, const RowCallback& onRow) override {
        if (sql.find("UPDATE scans SET machine_id") != std::string_view::npos && ++reassigned_ == 2) {
            ::kill(::getpid(), SIGKILL);
        }
        return inner_->query(sql, params, onRow);
    }
    Status insertRows(std::string_view table, const std::vector<std::string_view>& columns,
                      const std::vector<std::vector<SqlParam>>& rows) override {
        return inner_->insertRows(table, columns, rows);
    }
    Status beginWrite() override { return inner_->beginWrite(); }

private:
    std::unique_ptr<SqlConnection> inner_;
    int reassigned_ = 0;
};

TEST_P(StoreUpgrade, UpgradeKilledHalfwayLeavesTheVersionOneStoreAsItWas) {
    loadFixture();
    const std::int64_t rows = count("SELECT COUNT(*) FROM \"rows\"");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto raw = postgres() ? openPostgres(target_) : openSqlite(target_, false);
        if (!raw) _exit(3);
        auto store = InventoryStore::open(std::make_unique<DyingConnection>(std::move(*raw)), "store",
                                          OpenMode::CreateOrUpgrade);
        _exit(store ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the upgrade was not cut off";
    EXPECT_EQ(version(), "1");
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines"), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM \"rows\""), rows);
    const char* ourNewTable = postgres()
                                  ? "SELECT COUNT(*) FROM information_schema.tables WHERE table_name = 'machine_keys'"
                                  : "SELECT COUNT(*) FROM sqlite_master WHERE name = 'machine_keys'";
    EXPECT_EQ(count(ourNewTable), 0);
    // The next opening upgrades it after all.
    ASSERT_TRUE(openStore());
    EXPECT_EQ(version(), std::to_string(kSchemaVersion));
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines"), 3);
}

INSTANTIATE_TEST_SUITE_P(Store, StoreUpgrade, ::testing::Values("sqlite", "postgresql"), engineName);

}  // namespace
}  // namespace veltrix::store::testing
