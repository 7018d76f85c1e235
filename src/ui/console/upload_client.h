// The agent's one way to the fleet server: an HTTPS POST and its answer. A
// port, so that the command line keeps no HTTP library of its own: libcurl
// on Linux, WinHTTP (part of every Windows) on Windows.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix {

// How the server's certificate is checked: against the system's trust store,
// or only against the certificate authority in `caFile` (PEM) when it is set;
// `insecure` accepts any certificate, and only an explicit enrolment option
// sets it.
struct UploadTrust {
    std::string caFile;
    bool insecure = false;
};

struct UploadRequest {
    std::string url;  // the whole address: https://host:port/api/v1/...
    std::string contentType = "application/json";
    // Sent as `Content-Encoding: gzip`: the body is already compressed.
    bool gzipped = false;
    std::string_view body;
    // Sent as `Authorization: Bearer ...` when not empty.
    std::string bearer;
    // For the whole exchange, connection and TLS included.
    std::chrono::seconds timeout{60};
};

// Any HTTP answer, whatever its status.
struct UploadAnswer {
    int status = 0;
    std::string body;
    // The answer's Retry-After in seconds, when it gave one as a number.
    std::optional<std::int64_t> retryAfterSeconds;
};

// Why no HTTP answer came; the failure's description says it for a person.
namespace upload_failure {
inline constexpr std::int32_t kUnreachable = 1;  // no connection, refused, dropped, DNS
inline constexpr std::int32_t kTimedOut = 2;
inline constexpr std::int32_t kCertificate = 3;  // the server could not be verified
inline constexpr std::int32_t kOther = 4;        // a bad address, the library itself
}  // namespace upload_failure

class UploadClient {
public:
    virtual ~UploadClient() = default;
    // POSTs the request; a failure only when no HTTP answer came at all.
    virtual Result<UploadAnswer> post(const UploadRequest& request) = 0;
};

using UploadClientFactory = std::function<Result<std::unique_ptr<UploadClient>>(const UploadTrust& trust)>;

}  // namespace veltrix
