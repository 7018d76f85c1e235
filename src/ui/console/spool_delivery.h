// Sends the spool to the server, oldest first, and decides for every answer
// whether a scan is delivered, waits for the next try, or is refused and
// skipped this time. Waits back off exponentially with a random spread over the whole
// interval ("full jitter"), so that a thousand agents that lost their server
// at the same moment do not all come back in the same second.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "ui/console/spool.h"
#include "ui/console/upload_client.h"

namespace veltrix {

struct DeliveryPolicy {
    std::chrono::milliseconds firstBackoff{1000};
    std::chrono::milliseconds longestBackoff{60000};
    // How long one run may spend waiting between tries, all waits together;
    // what is left then waits in the spool for the next run.
    std::chrono::milliseconds retryFor{120000};
    std::chrono::seconds requestTimeout{60};
};

struct DeliveryServices {
    UploadClient& client;
    std::string scansUrl;  // https://server/api/v1/scans
    std::string key;
    std::function<void(std::chrono::milliseconds)> sleep;
    // A number in [0, 1), the spread of each wait.
    std::function<double()> uniform;
    std::FILE* err;
};

enum class DeliveryEnd {
    Delivered,        // the spool is empty
    ServerAway,       // unreachable, timing out or busy for the whole retry time
    KeyRefused,       // 401: this computer's key is unknown or revoked
    ServerUntrusted,  // the certificate did not verify
    Stopped,          // an answer that no wait will change (a redirect, an answer not understood)
};

struct DeliveryReport {
    DeliveryEnd end = DeliveryEnd::Delivered;
    std::size_t stored = 0;       // 201
    std::size_t alreadyHeld = 0;  // 200
    std::size_t rejected = 0;     // refused as bad, kept in the spool
    std::size_t waiting = 0;      // still in the spool
    std::string problem;          // the last reason, for the closing line
};

// The wait before try number `attempt` (0 for the first retry): uniform over
// [0, min(longest, first * 2^attempt)), or, when the server said when to
// come back, that time with a spread of as much again (at most `longest`) on top.
std::chrono::milliseconds backoffWait(const DeliveryPolicy& policy, unsigned attempt,
                                      std::optional<std::int64_t> retryAfterSeconds, double uniform);

DeliveryReport deliverSpool(Spool& spool, DeliveryServices& services, const DeliveryPolicy& policy);

}  // namespace veltrix
