// Fresh stores on both engines for the store tests, and report models to
// load into them. PostgreSQL runs only when VELTRIX_TEST_PG_URL names a
// server (tests/store/with_postgres.sh starts one); each test then gets a
// database of its own, so tests may run in parallel.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/report_model.h"
#include "store/inventory_store.h"

namespace veltrix::store::testing {

// "sqlite" or "postgresql".
class StoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    void TearDown() override;

    bool postgres() const { return GetParam() == "postgresql"; }
    std::unique_ptr<InventoryStore> openStore(OpenMode mode = OpenMode::CreateOrUpgrade);
    // A raw connection to the same database, for checks and for damage.
    std::unique_ptr<SqlConnection> connect();
    std::int64_t count(const std::string& sql);
    // Adds the reports in one batch; every add must succeed.
    void addAll(InventoryStore& store, const std::vector<data::Report>& reports);

    std::string target_;
    std::filesystem::path folder_;

private:
    std::string database_;
};

// A small but complete report for machine `index`; `variant` changes its
// contents so two variants of one machine are two different scans.
data::Report makeReport(int index, int variant = 0);
// Rows that report gives in table "rows" (items, error rows, slots).
std::int64_t expectedRowCount(const data::Report& report);
std::string digestOf(const data::Report& report);

std::string engineName(const ::testing::TestParamInfo<std::string>& info);

}  // namespace veltrix::store::testing
