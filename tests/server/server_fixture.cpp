#include "server_fixture.h"

#include <openssl/ssl.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "fleet/enrolment.h"
#include "fleet/fleet_snapshots.h"
#include "ui/console/gzip_body.h"

namespace veltrix::server::testing {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

const TestCertificate& testCertificate() {
    static const TestCertificate made = [] {
        auto folder = std::filesystem::temp_directory_path() / ("veltrix-server-tls-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        TestCertificate certificate{(folder / "cert.pem").string(), (folder / "key.pem").string()};
        const std::string command =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
            "-addext subjectAltName=IP:127.0.0.1 -keyout '" + certificate.key + "' -out '" + certificate.certificate +
            "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return certificate;
    }();
    return made;
}

std::string gzipText(const std::string& text) {
    auto packed = gzipCompress(text);
    EXPECT_TRUE(packed) << packed.failure().description;
    return packed ? *packed : std::string();
}

Client::Client(unsigned short port, int maxVersion) {
    tls_.load_verify_file(testCertificate().certificate);
    tls_.set_verify_mode(ssl::verify_peer);
    if (maxVersion) {
        // Willing to speak the old protocol, so that a refusal is the server's.
        SSL_CTX_set_min_proto_version(tls_.native_handle(), maxVersion);
        SSL_CTX_set_max_proto_version(tls_.native_handle(), maxVersion);
        SSL_CTX_set_cipher_list(tls_.native_handle(), "DEFAULT@SECLEVEL=0");
    }
    stream_ = std::make_unique<beast::ssl_stream<beast::tcp_stream>>(io_, tls_);
    beast::error_code error;
    beast::get_lowest_layer(*stream_).expires_after(std::chrono::seconds(20));
    beast::get_lowest_layer(*stream_).socket().connect(
        net::ip::tcp::endpoint(net::ip::address_v4::loopback(), port), error);
    if (error) {
        handshakeError_ = error.message();
        return;
    }
    stream_->handshake(ssl::stream_base::client, error);
    if (error) {
        handshakeError_ = error.message();
        return;
    }
    connected_ = true;
}

Answer Client::send(const std::string& method, const std::string& path, const std::string& body,
                    const std::map<std::string, std::string>& headers) {
    Answer answer;
    if (!connected_) return answer;
    http::request<http::string_body> request{http::string_to_verb(method), path, 11};
    request.set(http::field::host, "127.0.0.1");
    for (const auto& [name, value] : headers) request.set(name, value);
    request.body() = body;
    request.prepare_payload();
    beast::error_code error;
    beast::get_lowest_layer(*stream_).expires_after(std::chrono::seconds(30));
    http::write(*stream_, request, error);
    if (error) return answer;
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(*stream_, buffer, response, error);
    if (error) return answer;
    answer.status = response.result_int();
    answer.body = response.body();
    for (const auto& field : response) {
        std::string name(field.name_string());
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        answer.headers[name] = std::string(field.value());
    }
    return answer;
}

bool Client::write(const std::string& bytes) {
    beast::error_code error;
    beast::get_lowest_layer(*stream_).expires_after(std::chrono::seconds(30));
    net::write(*stream_, net::buffer(bytes), error);
    return !error;
}

bool Client::closedWithin(int seconds, std::string* received) {
    beast::get_lowest_layer(*stream_).expires_after(std::chrono::seconds(seconds));
    char buffer[4096];
    for (;;) {
        beast::error_code error;
        std::size_t n = stream_->read_some(net::buffer(buffer), error);
        if (received) received->append(buffer, n);
        if (error) return error != beast::error::timeout;
    }
}

void ServerTest::SetUp() {
    static std::atomic<int> counter{0};
    folder_ = std::filesystem::temp_directory_path() /
              ("veltrix-server-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    db_ = (folder_ / "fleet.sqlite").string();
    auto made = store::InventoryStore::open(db_, store::OpenMode::CreateOrUpgrade);
    ASSERT_TRUE(made) << made.failure().description;
    log_ = std::fopen((folder_ / "server.log").c_str(), "w+");
    ASSERT_NE(log_, nullptr);
}

void ServerTest::TearDown() {
    stopServer();
    if (log_) std::fclose(log_);
    std::filesystem::remove_all(folder_);
}

void ServerTest::startServer(const TransportOptions& options, const RouteLimits& limits) {
    stopServer();
    stores_ = std::make_unique<StorePool>(db_);
    TransportOptions o = options;
    o.host = "127.0.0.1";
    o.port = 0;
    o.certificateFile = testCertificate().certificate;
    o.keyFile = testCertificate().key;
    o.log = log_;
    auto started = Transport::start(o, allRoutes(*stores_, limits));
    ASSERT_TRUE(started) << started.failure().description;
    transport_ = std::move(*started);
}

void ServerTest::stopServer() {
    if (!transport_) return;
    transport_->stop();
    transport_->wait();
    transport_.reset();
    stores_.reset();
}

std::string ServerTest::makeSecret() {
    auto store = store::InventoryStore::open(db_, store::OpenMode::Existing);
    auto secret = fleet::createSecret((*store)->connection(), "test", fleet::utcNow());
    EXPECT_TRUE(secret) << secret.failure().description;
    return secret ? secret->secret : std::string();
}

std::string ServerTest::enrol(const std::string& hostName, const std::string& uuid, std::string* agentId) {
    nlohmann::json body{{"secret", makeSecret()}, {"machine", fleet::testing::machineJson(hostName, uuid)}};
    Client client(port());
    Answer answer = client.send("POST", "/api/v1/enrol", body.dump(), {{"Content-Type", "application/json"}});
    EXPECT_EQ(answer.status, 201u) << answer.body;
    auto json = nlohmann::json::parse(answer.body, nullptr, false);
    if (!json.is_object() || !json.contains("key")) return {};
    if (agentId) *agentId = json["agent-id"].get<std::string>();
    return json["key"].get<std::string>();
}

Answer ServerTest::upload(const std::string& key, const std::string& snapshot) {
    Client client(port());
    return client.send("POST", "/api/v1/scans", gzipText(snapshot),
                       {{"Authorization", "Bearer " + key},
                        {"Content-Type", "application/json"},
                        {"Content-Encoding", "gzip"}});
}

std::int64_t ServerTest::count(const std::string& sql) {
    auto connection = store::openSqlite(db_, false);
    EXPECT_TRUE(connection);
    auto value = store::queryValue(**connection, sql);
    EXPECT_TRUE(value) << value.failure().description;
    return value && *value ? std::stoll(**value) : -1;
}

std::string ServerTest::log() {
    std::fflush(log_);
    return readFile(folder_ / "server.log");
}

}  // namespace veltrix::server::testing
