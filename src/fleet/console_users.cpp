#include "fleet/console_users.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <charconv>

#include "fleet/enrolment.h"
#include "fleet/fleet_failure.h"
#include "store/content_digest.h"

namespace veltrix::fleet {
namespace {

// About 16 MiB and a few tens of milliseconds a hash: slow for a guesser,
// bearable for a sign-in.
constexpr std::uint64_t kScryptN = 16384;
constexpr std::uint64_t kScryptR = 8;
constexpr std::uint64_t kScryptP = 1;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
// Limits on what a stored hash may ask for, so that a tampered row cannot
// make a sign-in take the machine's memory.
constexpr std::uint64_t kMaxScryptN = 1u << 20;
constexpr std::uint64_t kMaxMemory = 1ull << 30;

std::string hex(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::optional<std::vector<unsigned char>> unhex(std::string_view text) {
    if (text.size() % 2 != 0 || text.empty()) return std::nullopt;
    std::vector<unsigned char> out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned value = 0;
        auto [end, error] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, value, 16);
        if (error != std::errc() || end != text.data() + 2 * i + 2) return std::nullopt;
        out[i] = static_cast<unsigned char>(value);
    }
    return out;
}

bool scrypt(std::string_view password, const std::vector<unsigned char>& salt, std::uint64_t n, std::uint64_t r,
            std::uint64_t p, unsigned char* out, std::size_t outSize) {
    return EVP_PBE_scrypt(password.data(), password.size(), salt.data(), salt.size(), n, r, p, kMaxMemory, out,
                          outSize) == 1;
}

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

Failure storeFailure(const Failure& failure) { return Failure{kStoreFailed, failure.description}; }

// Names are compared as typed, but failures are counted per lower-cased
// name so that "Admin" and "admin" share one wait.
std::string failureKey(std::string_view name) {
    std::string key(name.substr(0, 256));
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return key;
}

bool validName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == '_' || c == '@';
    });
}

}  // namespace

std::optional<Role> roleNamed(std::string_view name) {
    if (name == "admin") return Role::Admin;
    if (name == "viewer") return Role::Viewer;
    return std::nullopt;
}

const char* roleName(Role role) { return role == Role::Admin ? "admin" : "viewer"; }

Result<std::string> hashPassword(std::string_view password) {
    std::vector<unsigned char> salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
        return Failure{kStoreFailed, "the system gave no random bytes"};
    }
    unsigned char hash[kHashBytes];
    if (!scrypt(password, salt, kScryptN, kScryptR, kScryptP, hash, sizeof hash)) {
        return Failure{kStoreFailed, "the password could not be hashed"};
    }
    return "scrypt$" + std::to_string(kScryptN) + "$" + std::to_string(kScryptR) + "$" + std::to_string(kScryptP) +
           "$" + hex(salt.data(), salt.size()) + "$" + hex(hash, sizeof hash);
}

bool passwordMatches(std::string_view password, std::string_view stored) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        std::size_t end = stored.find('$', start);
        parts.push_back(stored.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (parts.size() != 6 || parts[0] != "scrypt") return false;
    auto n = number(parts[1]), r = number(parts[2]), p = number(parts[3]);
    auto salt = unhex(parts[4]);
    auto expected = unhex(parts[5]);
    if (!n || !r || !p || !salt || !expected || *n < 2 || *n > kMaxScryptN || (*n & (*n - 1)) != 0 || *r == 0 ||
        *r > 32 || *p == 0 || *p > 16 || expected->size() != kHashBytes) {
        return false;
    }
    unsigned char actual[kHashBytes];
    if (!scrypt(password, *salt, *n, *r, *p, actual, sizeof actual)) return false;
    return CRYPTO_memcmp(actual, expected->data(), kHashBytes) == 0;
}

Result<std::int64_t> addUser(store::SqlConnection& connection, std::string_view name, Role role,
                             std::string_view password, std::string_view now) {
    if (!validName(name)) {
        return Failure{kMalformed, "a user name is 1 to 64 letters, digits and . - _ @"};
    }
    if (password.size() < kMinimumPasswordLength || password.size() > kMaximumPasswordLength) {
        return Failure{kMalformed, "a password has " + std::to_string(kMinimumPasswordLength) + " to " +
                                       std::to_string(kMaximumPasswordLength) + " characters"};
    }
    auto existing = store::queryValue(connection, "SELECT id FROM console_users WHERE name = ?", {name});
    if (!existing) return storeFailure(existing.failure());
    if (*existing) return Failure{kNameTaken, "there is already a user named " + std::string(name)};
    auto hash = hashPassword(password);
    if (!hash) return hash.failure();
    auto id = store::queryValue(
        connection, "INSERT INTO console_users (name, role, password_hash, created_at) VALUES (?, ?, ?, ?) RETURNING id",
        {name, std::string_view(roleName(role)), std::string_view(*hash), now});
    if (!id) {
        // Another process added the same name between the look and the insert.
        auto again = store::queryValue(connection, "SELECT id FROM console_users WHERE name = ?", {name});
        if (again && *again) return Failure{kNameTaken, "there is already a user named " + std::string(name)};
        return storeFailure(id.failure());
    }
    if (!*id) return Failure{kStoreFailed, "the user was not recorded"};
    return std::stoll(**id);
}

Result<std::vector<UserLine>> listUsers(store::SqlConnection& connection) {
    std::vector<UserLine> lines;
    Status status = connection.query("SELECT id, name, role, created_at FROM console_users ORDER BY name", {},
                                     [&](const store::SqlRow& row) {
                                         lines.push_back({row.integer(0), std::string(row.text(1).value_or("")),
                                                          roleNamed(row.text(2).value_or("")).value_or(Role::Viewer),
                                                          std::string(row.text(3).value_or(""))});
                                     });
    if (!status.ok()) return storeFailure(status.failure);
    return lines;
}

Status removeUser(store::SqlConnection& connection, std::string_view name) {
    auto id = store::queryValue(connection, "SELECT id FROM console_users WHERE name = ?", {name});
    if (!id) return storeFailure(id.failure());
    if (!*id) return Failure{kNotFound, "there is no user named " + std::string(name)};
    const std::int64_t userId = std::stoll(**id);
    // Both engines' cascades are not relied on: SQLite's needs a pragma.
    Status status = connection.query("DELETE FROM console_sessions WHERE user_id = ?", {userId});
    if (status.ok()) status = connection.query("DELETE FROM console_users WHERE id = ?", {userId});
    if (!status.ok()) return storeFailure(status.failure);
    return {};
}

Result<SignedIn> signIn(store::SqlConnection& connection, std::string_view name, std::string_view password,
                        std::time_t now, const SessionPolicy& policy, std::int64_t* waitSeconds) {
    const std::string key = failureKey(name);
    std::int64_t failures = 0, lastFailure = 0;
    Status status = connection.query("SELECT failures, last_failure FROM sign_in_failures WHERE name = ?",
                                     {std::string_view(key)}, [&](const store::SqlRow& row) {
                                         failures = row.integer(0);
                                         lastFailure = row.integer(1);
                                     });
    if (!status.ok()) return storeFailure(status.failure);
    if (failures >= policy.freeFailures) {
        const std::int64_t doublings = std::min<std::int64_t>(failures - policy.freeFailures, 20);
        const std::int64_t wait = std::min<std::int64_t>(std::int64_t{1} << doublings, policy.longestWaitSeconds);
        const std::int64_t left = lastFailure + wait - static_cast<std::int64_t>(now);
        if (left > 0) {
            if (waitSeconds) *waitSeconds = left;
            return Failure{kSignInTooSoon, "too many failed sign-ins for this name: try again in " +
                                               std::to_string(left) + " s"};
        }
    }
    std::int64_t userId = 0;
    std::string storedName, role, hash;
    status = connection.query("SELECT id, name, role, password_hash FROM console_users WHERE name = ?", {name},
                              [&](const store::SqlRow& row) {
                                  userId = row.integer(0);
                                  storedName = std::string(row.text(1).value_or(""));
                                  role = std::string(row.text(2).value_or(""));
                                  hash = std::string(row.text(3).value_or(""));
                              });
    if (!status.ok()) return storeFailure(status.failure);
    // An unknown name costs a hash too, so that timing does not tell names apart.
    static const std::string unknownHash = [] {
        auto made = hashPassword("no such user");
        return made ? *made : std::string();
    }();
    const bool matches = passwordMatches(password.substr(0, kMaximumPasswordLength), userId ? hash : unknownHash);
    if (!userId || !matches) {
        status = connection.query(
            "INSERT INTO sign_in_failures (name, failures, last_failure) VALUES (?, 1, ?) "
            "ON CONFLICT (name) DO UPDATE SET failures = sign_in_failures.failures + 1, last_failure = excluded.last_failure",
            {std::string_view(key), static_cast<std::int64_t>(now)});
        if (!status.ok()) return storeFailure(status.failure);
        return Failure{kSignInRefused, "the name or the password is wrong"};
    }
    status = connection.query("DELETE FROM sign_in_failures WHERE name = ?", {std::string_view(key)});
    if (!status.ok()) return storeFailure(status.failure);
    auto token = randomToken();
    auto formToken = randomToken();
    if (!token || !formToken) return Failure{kStoreFailed, "the system gave no random bytes"};
    const std::string tokenHash = store::contentDigest(*token);
    const std::string created = utcText(now), expires = utcText(now + policy.lifetimeSeconds);
    status = connection.query(
        "INSERT INTO console_sessions (token_hash, user_id, form_token, created_at, expires_at) VALUES (?, ?, ?, ?, ?)",
        {std::string_view(tokenHash), userId, std::string_view(*formToken), std::string_view(created),
         std::string_view(expires)});
    if (!status.ok()) return storeFailure(status.failure);
    // Expired sessions go as new ones come, so the table keeps only live ones.
    connection.query("DELETE FROM console_sessions WHERE expires_at <= ?", {std::string_view(created)});
    return SignedIn{*token, Viewer{userId, storedName, roleNamed(role).value_or(Role::Viewer), *formToken}};
}

Result<std::optional<Viewer>> sessionViewer(store::SqlConnection& connection, std::string_view sessionToken,
                                            std::time_t now) {
    std::optional<Viewer> viewer;
    if (sessionToken.empty()) return viewer;
    const std::string tokenHash = store::contentDigest(sessionToken);
    const std::string nowText = utcText(now);
    Status status = connection.query(
        "SELECT u.id, u.name, u.role, s.form_token FROM console_sessions s JOIN console_users u ON u.id = s.user_id "
        "WHERE s.token_hash = ? AND s.expires_at > ?",
        {std::string_view(tokenHash), std::string_view(nowText)}, [&](const store::SqlRow& row) {
            viewer = Viewer{row.integer(0), std::string(row.text(1).value_or("")),
                            roleNamed(row.text(2).value_or("")).value_or(Role::Viewer),
                            std::string(row.text(3).value_or(""))};
        });
    if (!status.ok()) return storeFailure(status.failure);
    return viewer;
}

Status endSession(store::SqlConnection& connection, std::string_view sessionToken) {
    const std::string tokenHash = store::contentDigest(sessionToken);
    Status status = connection.query("DELETE FROM console_sessions WHERE token_hash = ?", {std::string_view(tokenHash)});
    if (!status.ok()) return storeFailure(status.failure);
    return {};
}

Result<std::string> createApiToken(store::SqlConnection& connection, Role role, std::string_view note,
                                   std::string_view now) {
    auto token = randomToken();
    if (!token) return token.failure();
    const std::string tokenHash = store::contentDigest(*token);
    Status status = connection.query("INSERT INTO api_tokens (token_hash, role, note, created_at) VALUES (?, ?, ?, ?)",
                                     {std::string_view(tokenHash), std::string_view(roleName(role)), note, now});
    if (!status.ok()) return storeFailure(status.failure);
    return *token;
}

Result<std::optional<Viewer>> apiTokenViewer(store::SqlConnection& connection, std::string_view token) {
    std::optional<Viewer> viewer;
    if (token.empty()) return viewer;
    const std::string tokenHash = store::contentDigest(token);
    Status status = connection.query("SELECT id, role FROM api_tokens WHERE token_hash = ?",
                                     {std::string_view(tokenHash)}, [&](const store::SqlRow& row) {
                                         viewer = Viewer{0, "token " + std::to_string(row.integer(0)),
                                                         roleNamed(row.text(1).value_or("")).value_or(Role::Viewer),
                                                         ""};
                                     });
    if (!status.ok()) return storeFailure(status.failure);
    return viewer;
}

}  // namespace veltrix::fleet
