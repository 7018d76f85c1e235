// A real server on a loopback port, over TLS with a certificate that the
// test makes with `openssl`, in front of a real SQLite store; and a client
// that speaks to it as an agent does, or as an intruder would.
#pragma once

#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "server/routes.h"
#include "server/store_pool.h"
#include "server/transport.h"
#include "store/inventory_store.h"

namespace veltrix::server::testing {

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = boost::beast::http;

// The certificate and key of "127.0.0.1", made once per test program.
struct TestCertificate {
    std::string certificate, key;
};
const TestCertificate& testCertificate();

// The gzip of `text`.
std::string gzipText(const std::string& text);

struct Answer {
    unsigned status = 0;  // 0: no answer (the connection failed or was closed)
    std::string body;
    std::map<std::string, std::string> headers;  // names in lower case
};

// One TLS connection to the server.
class Client {
public:
    // `maxVersion` caps the protocol this client offers (TLS1_1_VERSION to
    // test the refusal).
    Client(unsigned short port, int maxVersion = 0);
    bool connected() const { return connected_; }
    std::string handshakeError() const { return handshakeError_; }
    Answer send(const std::string& method, const std::string& path, const std::string& body = {},
                const std::map<std::string, std::string>& headers = {});
    // Raw bytes, for what no HTTP library would send.
    bool write(const std::string& bytes);
    // Reads until the server closes; true when it did within `seconds`.
    bool closedWithin(int seconds, std::string* received = nullptr);

    beast::ssl_stream<beast::tcp_stream>& stream() { return *stream_; }

private:
    net::io_context io_;
    ssl::context tls_{ssl::context::tls_client};
    std::unique_ptr<beast::ssl_stream<beast::tcp_stream>> stream_;
    bool connected_ = false;
    std::string handshakeError_;
};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts (or restarts) the server with these settings.
    void startServer(const TransportOptions& options = {}, const RouteLimits& limits = {});
    void stopServer();

    unsigned short port() const { return transport_->port(); }
    // A new secret from the store.
    std::string makeSecret();
    // Enrols with a new secret; returns the key ("" on failure).
    std::string enrol(const std::string& hostName, const std::string& uuid, std::string* agentId = nullptr);
    Answer upload(const std::string& key, const std::string& snapshot);
    std::int64_t count(const std::string& sql);
    std::string log();

    std::filesystem::path folder_;
    std::string db_;
    std::unique_ptr<StorePool> stores_;
    std::unique_ptr<Transport> transport_;
    std::FILE* log_ = nullptr;
};

}  // namespace veltrix::server::testing
