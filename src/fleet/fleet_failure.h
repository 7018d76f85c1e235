// Why the fleet refused or could not do what a host or an administrator
// asked, as failure numbers that the server turns into answers.
#pragma once

#include <cstdint>

namespace veltrix::fleet {

inline constexpr std::int32_t kMalformed = 400;          // not what the request must hold
inline constexpr std::int32_t kUnknownKey = 401;         // no such host key, or a revoked one
inline constexpr std::int32_t kSecretRefused = 403;      // wrong or revoked enrolment secret
inline constexpr std::int32_t kNotFound = 404;           // no such secret or host (administration)
inline constexpr std::int32_t kIdentityTaken = 409;      // the scan's hardware is another host's
inline constexpr std::int32_t kStoreFailed = 500;        // the store refused a statement
inline constexpr std::int32_t kStoreUnavailable = 503;   // the store cannot be reached

}  // namespace veltrix::fleet
