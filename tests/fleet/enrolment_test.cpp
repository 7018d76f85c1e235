#include "fleet/enrolment.h"

#include <gtest/gtest.h>

#include "fleet/fleet_failure.h"
#include "store/store_fixture.h"

namespace veltrix::fleet {
namespace {

using store::testing::StoreTest;

MachineIdentity identity(const std::string& name, const std::string& uuid) {
    MachineIdentity machine;
    machine.hostName = name;
    machine.uuid = uuid;
    machine.macs = {"00:11:22:33:44:55"};
    return machine;
}

class FleetEnrolment : public StoreTest {};

TEST_P(FleetEnrolment, ASecretGivesEachHostAKeyAndOnlyHashesAreStored) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    auto secret = createSecret(connection, "office", "2026-12-09T05:00:00Z");
    ASSERT_TRUE(secret) << secret.failure().description;
    EXPECT_EQ(secret->secret.size(), 64u);

    auto first = enrolHost(connection, secret->secret, identity("pc1", "00112233-4455-6677-8899-aabbccddeeff"), "t1");
    auto second = enrolHost(connection, secret->secret, identity("pc2", "00112233-4455-6677-8899-aabbccddee02"), "t2");
    ASSERT_TRUE(first) << first.failure().description;
    ASSERT_TRUE(second) << second.failure().description;
    EXPECT_NE(first->key, second->key);
    EXPECT_NE(first->agentId, second->agentId);
    EXPECT_EQ(first->agentId.size(), 36u);
    EXPECT_EQ(first->agentId[14], '4');

    auto host = authenticate(connection, second->key);
    ASSERT_TRUE(host) << host.failure().description;
    EXPECT_EQ(host->id, second->hostId);
    EXPECT_EQ(host->agentId, second->agentId);
    EXPECT_EQ(host->identity.hostName, "pc2");

    // Neither the secret nor a key is anywhere in the store.
    for (const std::string& token : {secret->secret, first->key, second->key}) {
        EXPECT_EQ(count("SELECT COUNT(*) FROM enrolment_secrets WHERE secret_hash = '" + token + "'"), 0);
        EXPECT_EQ(count("SELECT COUNT(*) FROM hosts WHERE key_hash = '" + token + "'"), 0);
    }
    auto secrets = listSecrets(connection);
    ASSERT_TRUE(secrets);
    ASSERT_EQ(secrets->size(), 1u);
    EXPECT_EQ((*secrets)[0].hosts, 2);
    EXPECT_EQ((*secrets)[0].note, "office");
    EXPECT_FALSE((*secrets)[0].revokedAt);
}

TEST_P(FleetEnrolment, AWrongOrRevokedSecretEnrolsNothing) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    auto secret = createSecret(connection, "", "t0");
    ASSERT_TRUE(secret);
    auto wrong = enrolHost(connection, std::string(64, 'a'), identity("pc1", "00112233-4455-6677-8899-aabbccddeeff"),
                           "t1");
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.failure().number, kSecretRefused);

    ASSERT_TRUE(revokeSecret(connection, secret->id, "t2").ok());
    auto revoked = enrolHost(connection, secret->secret, identity("pc1", "00112233-4455-6677-8899-aabbccddeeff"), "t3");
    ASSERT_FALSE(revoked);
    EXPECT_EQ(revoked.failure().number, kSecretRefused);
    EXPECT_EQ(count("SELECT COUNT(*) FROM hosts"), 0);

    auto missing = revokeSecret(connection, secret->id + 100, "t4");
    EXPECT_EQ(missing.failure.number, kNotFound);
}

TEST_P(FleetEnrolment, ARevokedSecretLeavesEnrolledHostsTheirKeysButARevokedHostLosesIt) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    auto secret = createSecret(connection, "", "t0");
    auto host = enrolHost(connection, secret->secret, identity("pc1", "00112233-4455-6677-8899-aabbccddeeff"), "t1");
    ASSERT_TRUE(host);
    ASSERT_TRUE(revokeSecret(connection, secret->id, "t2").ok());
    EXPECT_TRUE(authenticate(connection, host->key));

    ASSERT_TRUE(revokeHost(connection, host->agentId, "t3").ok());
    auto refused = authenticate(connection, host->key);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().number, kUnknownKey);
    EXPECT_EQ(authenticate(connection, "not a key").failure().number, kUnknownKey);
    EXPECT_EQ(revokeHost(connection, "999", "t4").failure.number, kNotFound);

    auto hosts = listHosts(connection);
    ASSERT_TRUE(hosts);
    ASSERT_EQ(hosts->size(), 1u);
    EXPECT_EQ((*hosts)[0].revokedAt, "t3");
    EXPECT_EQ((*hosts)[0].revokedReason, "revoked");
    EXPECT_EQ((*hosts)[0].machine, "pc1");
}

TEST_P(FleetEnrolment, EnrollingTheSameHardwareAgainReplacesTheEarlierHost) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    auto secret = createSecret(connection, "", "t0");
    auto before = enrolHost(connection, secret->secret, identity("pc1", "00112233-4455-6677-8899-aabbccddeeff"), "t1");
    auto neighbour = enrolHost(connection, secret->secret, identity("pc2", "00112233-4455-6677-8899-aabbccddee02"), "t1");
    // Reinstalled, and its firmware's UUID read in the other byte order.
    auto after = enrolHost(connection, secret->secret, identity("pc1-new", "33221100-5544-7766-8899-aabbccddeeff"), "t2");
    ASSERT_TRUE(before && neighbour && after);
    EXPECT_EQ(after->replaced, std::vector<std::int64_t>{before->hostId});
    EXPECT_EQ(authenticate(connection, before->key).failure().number, kUnknownKey);
    EXPECT_TRUE(authenticate(connection, neighbour->key));
    EXPECT_TRUE(authenticate(connection, after->key));
    EXPECT_EQ(count("SELECT COUNT(*) FROM hosts WHERE revoked_reason = 'replaced by host " +
                    std::to_string(after->hostId) + "'"),
              1);
}

INSTANTIATE_TEST_SUITE_P(Store, FleetEnrolment, ::testing::Values("sqlite", "postgresql"), store::testing::engineName);

}  // namespace
}  // namespace veltrix::fleet
