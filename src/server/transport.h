// The server's HTTP/1.1 side: a listener on one address, TLS 1.2 or newer
// (or plain HTTP behind a proxy), limits on every request, and a pool of
// workers that runs the handlers, so that a slow store never stalls the
// reading and writing of other connections.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"

namespace veltrix::server {

struct Request {
    std::string method;
    std::string path;  // the target without its query
    std::string peer;  // "address:port"
    std::string query;  // what follows '?' in the target, as sent
    std::string authorization, contentType, contentEncoding, cookie;
    bool secure = false;  // arrived over TLS
    std::string body;
};

struct Response {
    unsigned status = 200;
    std::string body;
    std::string contentType = "application/json";
    // Further headers (Set-Cookie, Location, Content-Security-Policy).
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<int> retryAfterSeconds;
    std::string hostId;  // for the log line: the host that made the request, when known
};

// Runs on a worker thread; it may block on the store.
using Handler = std::function<Response(const Request&)>;

struct Route {
    std::string method;
    std::string path;
    std::size_t bodyLimit = 0;  // bytes as received; a larger body gets 413 before it is read
    Handler handler;
    // The route also takes every path below `path` (which then ends in '/').
    bool prefix = false;
};

struct TransportOptions {
    std::string host = "127.0.0.1";
    unsigned short port = 0;  // 0: any free port (see Transport::port)
    // Both or neither; neither serves plain HTTP.
    std::optional<std::string> certificateFile, keyFile;
    std::size_t headerLimit = 16 * 1024;
    // A request must arrive whole, headers and body, within this time of
    // when the server began to wait for it; so must an answer be taken.
    std::chrono::milliseconds readTimeout{15000};
    std::size_t maxConnections = 256;
    unsigned workers = 4;
    std::FILE* log = stderr;
    // SIGTERM and SIGINT stop the server as stop() does.
    bool stopOnSignals = false;
};

// `{"error": "<reason>"}` with `status`.
Response errorResponse(unsigned status, const std::string& reason);

class Transport {
public:
    // Binds and starts serving on threads of its own.
    static Result<std::unique_ptr<Transport>> start(const TransportOptions& options, std::vector<Route> routes);
    virtual ~Transport() = default;
    virtual unsigned short port() const = 0;
    // Stops accepting, closes idle connections, lets the requests in flight
    // finish and answer, then returns. Safe to call more than once.
    virtual void stop() = 0;
    // Until stopped (by stop() or a signal) and every connection closed.
    virtual void wait() = 0;
};

}  // namespace veltrix::server
