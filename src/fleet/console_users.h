// Who may look at the fleet: people with a name, a role and a password, the
// sessions their sign-ins open, and API tokens for scripts. Passwords are
// kept as salted scrypt hashes, sessions and tokens as SHA-256 hashes, so a
// copy of the store signs nobody in.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "fleet/utc_time.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

enum class Role { Viewer, Admin };

std::optional<Role> roleNamed(std::string_view name);
const char* roleName(Role role);

// Failure numbers besides those of fleet_failure.h.
inline constexpr std::int32_t kSignInRefused = 401;   // wrong name or password
inline constexpr std::int32_t kNameTaken = 409;       // a user of that name exists
inline constexpr std::int32_t kSignInTooSoon = 429;   // failed too often: wait

inline constexpr std::size_t kMinimumPasswordLength = 8;
inline constexpr std::size_t kMaximumPasswordLength = 1024;

// "scrypt$N$r$p$SALT$HASH" with hex salt and hash.
Result<std::string> hashPassword(std::string_view password);
// Constant-time for a well-formed hash; false for any malformed one.
bool passwordMatches(std::string_view password, std::string_view stored);

struct UserLine {
    std::int64_t id = 0;
    std::string name;
    Role role = Role::Viewer;
    std::string createdAt;
};

Result<std::int64_t> addUser(store::SqlConnection& connection, std::string_view name, Role role,
                             std::string_view password, std::string_view now);
Result<std::vector<UserLine>> listUsers(store::SqlConnection& connection);
// Also ends the user's sessions.
Status removeUser(store::SqlConnection& connection, std::string_view name);

struct SessionPolicy {
    std::time_t lifetimeSeconds = 8 * 3600;
    // Failures allowed before each further one doubles the wait.
    std::int64_t freeFailures = 3;
    std::int64_t longestWaitSeconds = 300;
};

struct Viewer {
    std::int64_t userId = 0;  // 0 for an API token
    std::string name;
    Role role = Role::Viewer;
    std::string formToken;  // empty for an API token, which posts no forms
};

struct SignedIn {
    std::string sessionToken;  // for the cookie; only its hash is kept
    Viewer viewer;
};

// On kSignInTooSoon `waitSeconds` says how long until the next try is
// checked at all; a try inside the wait is refused unchecked.
Result<SignedIn> signIn(store::SqlConnection& connection, std::string_view name, std::string_view password,
                        std::time_t now, const SessionPolicy& policy, std::int64_t* waitSeconds = nullptr);
// Nothing (not a failure) for an unknown or expired session.
Result<std::optional<Viewer>> sessionViewer(store::SqlConnection& connection, std::string_view sessionToken,
                                            std::time_t now);
Status endSession(store::SqlConnection& connection, std::string_view sessionToken);

// The token is shown once; only its hash is kept.
Result<std::string> createApiToken(store::SqlConnection& connection, Role role, std::string_view note,
                                   std::string_view now);
Result<std::optional<Viewer>> apiTokenViewer(store::SqlConnection& connection, std::string_view token);

}  // namespace veltrix::fleet
