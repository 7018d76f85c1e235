// The fleet's change feed counts no further than it shows: a flood of
// changes is "more than 10000", in 100 pages, whatever page is asked for.
#include <gtest/gtest.h>

#include "fleet/changes.h"
#include "store/store_fixture.h"

namespace veltrix::fleet {
namespace {

using store::testing::makeReport;
using store::testing::StoreTest;

class FleetChanges : public StoreTest {};

TEST_P(FleetChanges, AFloodOfChangesIsCountedOnlySoFarAsItIsPaged) {
    data::Report bare = makeReport(2);
    bare.takenAt = "2026-11-01T08:00:00Z";
    data::Report flooded = bare;
    flooded.takenAt = "2026-12-01T08:00:00Z";
    for (std::size_t i = 0; i <= kChangesCounted; ++i) flooded.software.push_back({"Tool " + std::to_string(i), "1"});
    auto inventory = openStore();
    ASSERT_TRUE(inventory);
    addAll(*inventory, {bare, flooded});
    ChangeQuery query = changeQueryFrom("programs", "installed", "", "500");
    auto list = listChanges(inventory->connection(), query, 0);
    ASSERT_TRUE(list) << list.failure().description;
    EXPECT_EQ(list->matching, kChangesCounted);
    EXPECT_TRUE(list->more);
    EXPECT_EQ(list->pages, kChangesCounted / kChangesPageSize);
    EXPECT_EQ(list->page, list->pages);
    EXPECT_EQ(list->lines.size(), kChangesPageSize);
    auto none = listChanges(inventory->connection(), changeQueryFrom("disks", "", "", ""), 0);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->matching, 0u);
    EXPECT_FALSE(none->more);
    EXPECT_EQ(none->pages, 1u);
}

INSTANTIATE_TEST_SUITE_P(Store, FleetChanges, ::testing::Values("sqlite", "postgresql"), store::testing::engineName);

}  // namespace
}  // namespace veltrix::fleet
