#include "fleet/ingest.h"

#include <gtest/gtest.h>

#include "fleet/fleet_failure.h"
#include "fleet/fleet_snapshots.h"
#include "store/store_fixture.h"

namespace veltrix::fleet {
namespace {

using store::testing::StoreTest;
using testing::machineJson;
using testing::snapshotOf;

class FleetIngest : public StoreTest {
protected:
    Host enrol(store::InventoryStore& inventory, const std::string& name, const std::string& uuid) {
        auto& connection = inventory.connection();
        if (secret_.empty()) secret_ = createSecret(connection, "", "t0")->secret;
        MachineIdentity machine;
        machine.hostName = name;
        machine.uuid = uuid;
        auto enrolled = enrolHost(connection, secret_, machine, "t1");
        EXPECT_TRUE(enrolled) << enrolled.failure().description;
        return *authenticate(connection, enrolled->key);
    }
    std::string secret_;
};

TEST_P(FleetIngest, AScanIsStoredOnceHoweverOftenItIsSent) {
    auto inventory = openStore();
    Host host = enrol(*inventory, "pc1", "00112233-4455-6677-8899-aabbccddeeff");
    std::string scan = snapshotOf(machineJson("pc1", "00112233-4455-6677-8899-aabbccddeeff"), "2026-12-09T05:00:00+01:00");
    auto first = ingestScan(*inventory, host, scan, "t2");
    ASSERT_TRUE(first) << first.failure().description;
    EXPECT_TRUE(first->added);
    auto again = ingestScan(*inventory, host, scan, "t3");
    ASSERT_TRUE(again) << again.failure().description;
    EXPECT_FALSE(again->added);
    EXPECT_EQ(again->scanId, first->scanId);
    EXPECT_EQ(again->machineId, first->machineId);

    std::string later = snapshotOf(machineJson("pc1", "00112233-4455-6677-8899-aabbccddeeff"), "2026-12-10T05:00:00+01:00");
    auto next = ingestScan(*inventory, host, later, "t4");
    ASSERT_TRUE(next) << next.failure().description;
    EXPECT_TRUE(next->added);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 2);
    EXPECT_EQ(count("SELECT uploads FROM hosts WHERE id = " + std::to_string(host.id)), 2);
    EXPECT_EQ(count("SELECT machine_id FROM hosts WHERE id = " + std::to_string(host.id)), next->machineId);
}

TEST_P(FleetIngest, WhatIsNoSnapshotIsRefusedAndNothingStored) {
    auto inventory = openStore();
    Host host = enrol(*inventory, "pc1", "00112233-4455-6677-8899-aabbccddeeff");
    for (const std::string& body : {std::string("<html><body>a saved report</body></html>"), std::string("{\"veltrix"),
                                   std::string("{\"hello\": 1}"), std::string("[1, 2]"), std::string(),
                                   std::string("{\"veltrix-snapshot\": 99, \"namespaces\": {}}")}) {
        auto refused = ingestScan(*inventory, host, body, "t2");
        ASSERT_FALSE(refused) << body;
        EXPECT_EQ(refused.failure().number, kMalformed) << body << ": " << refused.failure().description;
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines"), 0);
    EXPECT_EQ(count("SELECT uploads FROM hosts"), 0);
}

TEST_P(FleetIngest, AScanOfAnotherEnrolledHostsHardwareIsRefused) {
    auto inventory = openStore();
    Host one = enrol(*inventory, "pc1", "00112233-4455-6677-8899-aabbccddeeff");
    enrol(*inventory, "pc2", "00112233-4455-6677-8899-aabbccddee02");
    std::string pc2sScan = snapshotOf(machineJson("pc2", "00112233-4455-6677-8899-AABBCCDDEE02"), "2026-12-09T05:00:00Z");
    auto refused = ingestScan(*inventory, one, pc2sScan, "t2");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().number, kIdentityTaken);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 0);

    // New hardware that nobody else has (a replaced board) is its own.
    std::string newBoard = snapshotOf(machineJson("pc1", "00112233-4455-6677-8899-aabbccddee99"), "2026-12-09T06:00:00Z");
    EXPECT_TRUE(ingestScan(*inventory, one, newBoard, "t3"));
}

INSTANTIATE_TEST_SUITE_P(Store, FleetIngest, ::testing::Values("sqlite", "postgresql"), store::testing::engineName);

}  // namespace
}  // namespace veltrix::fleet
