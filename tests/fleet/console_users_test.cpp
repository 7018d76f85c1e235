#include "fleet/console_users.h"

#include <gtest/gtest.h>

#include "fleet/fleet_failure.h"
#include "store/store_fixture.h"

namespace veltrix::fleet {
namespace {

using store::testing::StoreTest;

TEST(ConsolePasswords, HashesAreSaltedAndOnlyTheRightPasswordMatches) {
    auto first = hashPassword("correct horse");
    auto second = hashPassword("correct horse");
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);  // a salt of its own each time
    EXPECT_EQ(first->rfind("scrypt$16384$8$1$", 0), 0u);
    EXPECT_TRUE(passwordMatches("correct horse", *first));
    EXPECT_TRUE(passwordMatches("correct horse", *second));
    EXPECT_FALSE(passwordMatches("correct hors", *first));
    EXPECT_FALSE(passwordMatches("", *first));
    // Tampered or foreign hashes match nothing, and none may ask for a
    // memory-eating cost.
    std::string tampered = *first;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_FALSE(passwordMatches("correct horse", tampered));
    for (const std::string& bad : {std::string(), std::string("correct horse"), std::string("scrypt$$$$$"),
                                   std::string("scrypt$1073741824$8$1$00$00"), std::string("scrypt$16384$8$1$zz$00"),
                                   std::string("pbkdf2$16384$8$1$") + first->substr(17)}) {
        EXPECT_FALSE(passwordMatches("correct horse", bad)) << bad;
    }
}

class ConsoleUsers : public StoreTest {};

TEST_P(ConsoleUsers, UsersAreAddedListedAndRemovedWithTheirSessions) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    ASSERT_TRUE(addUser(connection, "anna", Role::Admin, "s3cret-pass", "2026-12-09T05:00:00Z"));
    ASSERT_TRUE(addUser(connection, "bert", Role::Viewer, "other-pass", "2026-12-09T05:01:00Z"));
    auto again = addUser(connection, "anna", Role::Viewer, "whatever1", "t");
    ASSERT_FALSE(again);
    EXPECT_EQ(again.failure().number, kNameTaken);
    EXPECT_EQ(addUser(connection, "carl", Role::Viewer, "short", "t").failure().number, kMalformed);
    EXPECT_EQ(addUser(connection, "", Role::Viewer, "long enough", "t").failure().number, kMalformed);
    EXPECT_EQ(addUser(connection, "<script>", Role::Viewer, "long enough", "t").failure().number, kMalformed);

    auto users = listUsers(connection);
    ASSERT_TRUE(users);
    ASSERT_EQ(users->size(), 2u);
    EXPECT_EQ((*users)[0].name, "anna");
    EXPECT_EQ((*users)[0].role, Role::Admin);
    EXPECT_EQ((*users)[1].role, Role::Viewer);
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_users WHERE password_hash LIKE '%s3cret%'"), 0);

    auto session = signIn(connection, "bert", "other-pass", 1'000'000, {});
    ASSERT_TRUE(session) << session.failure().description;
    ASSERT_TRUE(removeUser(connection, "bert").ok());
    auto gone = sessionViewer(connection, session->sessionToken, 1'000'001);
    ASSERT_TRUE(gone);
    EXPECT_FALSE(*gone);
    EXPECT_EQ(removeUser(connection, "bert").failure.number, kNotFound);
}

TEST_P(ConsoleUsers, SessionsHoldTheirUserUntilTheyExpireOrEnd) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    ASSERT_TRUE(addUser(connection, "anna", Role::Admin, "s3cret-pass", "t"));
    SessionPolicy policy;
    policy.lifetimeSeconds = 3600;
    auto signedIn = signIn(connection, "anna", "s3cret-pass", 1'000'000, policy);
    ASSERT_TRUE(signedIn) << signedIn.failure().description;
    EXPECT_EQ(signedIn->sessionToken.size(), 64u);
    EXPECT_EQ(signedIn->viewer.formToken.size(), 64u);
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_sessions WHERE token_hash = '" + signedIn->sessionToken + "'"), 0);

    auto viewer = sessionViewer(connection, signedIn->sessionToken, 1'000'000 + 3599);
    ASSERT_TRUE(viewer && *viewer);
    EXPECT_EQ((*viewer)->name, "anna");
    EXPECT_EQ((*viewer)->role, Role::Admin);
    EXPECT_EQ((*viewer)->formToken, signedIn->viewer.formToken);
    auto expired = sessionViewer(connection, signedIn->sessionToken, 1'000'000 + 3600);
    ASSERT_TRUE(expired);
    EXPECT_FALSE(*expired);

    auto other = signIn(connection, "anna", "s3cret-pass", 2'000'000, policy);
    ASSERT_TRUE(other);
    EXPECT_NE(other->sessionToken, signedIn->sessionToken);
    // Signing in again clears the expired session away.
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_sessions"), 1);
    ASSERT_TRUE(endSession(connection, other->sessionToken).ok());
    auto ended = sessionViewer(connection, other->sessionToken, 2'000'001);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(*ended);
    auto blank = sessionViewer(connection, "", 2'000'001);
    ASSERT_TRUE(blank);
    EXPECT_FALSE(*blank);
}

TEST_P(ConsoleUsers, RepeatedFailuresMakeEachNameWaitLongerAndTheRightPasswordWaitsToo) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    ASSERT_TRUE(addUser(connection, "anna", Role::Viewer, "s3cret-pass", "t"));
    SessionPolicy policy;
    std::time_t now = 5'000'000;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(signIn(connection, "anna", "guess", now, policy).failure().number, kSignInRefused);
    }
    // The third failure starts a wait of 1 s; the fourth one of 2 s.
    std::int64_t wait = 0;
    auto refused = signIn(connection, "ANNA", "s3cret-pass", now, policy, &wait);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().number, kSignInTooSoon);
    EXPECT_EQ(wait, 1);
    now += 1;
    EXPECT_EQ(signIn(connection, "anna", "guess", now, policy).failure().number, kSignInRefused);
    EXPECT_EQ(signIn(connection, "anna", "s3cret-pass", now + 1, policy, &wait).failure().number, kSignInTooSoon);
    EXPECT_EQ(wait, 1);
    // After the wait, the right password signs in and clears the count.
    ASSERT_TRUE(signIn(connection, "anna", "s3cret-pass", now + 2, policy));
    EXPECT_EQ(count("SELECT COUNT(*) FROM sign_in_failures"), 0);

    // Unknown names are slowed the same way, so the wait tells nothing.
    for (int i = 0; i < 3; ++i) signIn(connection, "nobody", "x", now, policy);
    EXPECT_EQ(signIn(connection, "nobody", "x", now, policy).failure().number, kSignInTooSoon);
    // The wait is capped.
    EXPECT_EQ(count("UPDATE sign_in_failures SET failures = 60 WHERE name = 'nobody' RETURNING failures"), 60);
    EXPECT_EQ(signIn(connection, "nobody", "x", now, policy, &wait).failure().number, kSignInTooSoon);
    EXPECT_EQ(wait, policy.longestWaitSeconds);
}

TEST_P(ConsoleUsers, ApiTokensCarryTheirRoleAndAreKeptOnlyAsHashes) {
    auto inventory = openStore();
    auto& connection = inventory->connection();
    auto viewerToken = createApiToken(connection, Role::Viewer, "inventory script", "t");
    auto adminToken = createApiToken(connection, Role::Admin, "", "t");
    ASSERT_TRUE(viewerToken && adminToken);
    EXPECT_NE(*viewerToken, *adminToken);
    auto viewer = apiTokenViewer(connection, *viewerToken);
    auto admin = apiTokenViewer(connection, *adminToken);
    ASSERT_TRUE(viewer && *viewer && admin && *admin);
    EXPECT_EQ((*viewer)->role, Role::Viewer);
    EXPECT_EQ((*admin)->role, Role::Admin);
    EXPECT_TRUE((*viewer)->formToken.empty());
    auto unknown = apiTokenViewer(connection, std::string(64, 'a'));
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(*unknown);
    EXPECT_EQ(count("SELECT COUNT(*) FROM api_tokens WHERE token_hash = '" + *viewerToken + "'"), 0);
}

INSTANTIATE_TEST_SUITE_P(Store, ConsoleUsers, ::testing::Values("sqlite", "postgresql"), store::testing::engineName);

}  // namespace
}  // namespace veltrix::fleet
