#include <openssl/ssl.h>

#include <thread>

#include "fleet/enrolment.h"
#include "fleet/fleet_snapshots.h"
#include "server_fixture.h"

namespace veltrix::server::testing {
namespace {

using fleet::testing::machineJson;
using fleet::testing::snapshotOf;

const std::string kUuid1 = "00112233-4455-6677-8899-aabbccddee01";
const std::string kUuid2 = "00112233-4455-6677-8899-aabbccddee02";

std::string reasonOf(const Answer& answer) {
    auto json = nlohmann::json::parse(answer.body, nullptr, false);
    return json.is_object() && json.contains("error") && json["error"].is_string() ? json["error"].get<std::string>()
                                                                                 : std::string();
}

class Server : public ServerTest {};

TEST_F(Server, AHostEnrolsUploadsAndARetryIsStoredOnce) {
    startServer();
    {
        Client client(port());
        Answer health = client.send("GET", "/api/v1/health");
        EXPECT_EQ(health.status, 200u);
        EXPECT_EQ(health.body, R"({"status":"ok"})");
        EXPECT_EQ(health.headers["content-type"], "application/json");
    }
    std::string agentId;
    std::string key = enrol("pc1", kUuid1, &agentId);
    ASSERT_EQ(key.size(), 64u);
    std::string scan = snapshotOf(machineJson("pc1", kUuid1), "2026-12-09T05:14:03+01:00");
    Answer first = upload(key, scan);
    ASSERT_EQ(first.status, 201u) << first.body;
    auto ids = nlohmann::json::parse(first.body);
    EXPECT_GT(ids["scan-id"].get<std::int64_t>(), 0);
    EXPECT_GT(ids["machine-id"].get<std::int64_t>(), 0);
    Answer again = upload(key, scan);
    EXPECT_EQ(again.status, 200u);
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans WHERE source = 'agent " + agentId + "'"), 1);

    // Several requests over one connection.
    Client kept(port());
    EXPECT_EQ(kept.send("GET", "/api/v1/health").status, 200u);
    EXPECT_EQ(kept.send("GET", "/api/v1/health").status, 200u);

    // One line per request, with the host; never a key or a secret.
    std::string text = log();
    EXPECT_EQ(text.find(key), std::string::npos);
    EXPECT_EQ(count("SELECT COUNT(*) FROM hosts"), 1);
    EXPECT_NE(text.find(" POST /api/v1/scans 201 "), std::string::npos) << text;
    EXPECT_NE(text.find(" POST /api/v1/scans 200 "), std::string::npos) << text;
    EXPECT_NE(text.find("ms host=1"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
}

TEST_F(Server, IntrudersAndBadUploadsGetTheirAnswerAndNothingIsStored) {
    RouteLimits limits;
    limits.scanBody = 64 * 1024;
    limits.scanInflated = 1024 * 1024;
    startServer({}, limits);
    std::string key = enrol("pc1", kUuid1);
    std::string other = enrol("pc2", kUuid2);
    std::string revoked = enrol("pc3", "00112233-4455-6677-8899-aabbccddee03");
    {
        auto store = store::InventoryStore::open(db_, store::OpenMode::Existing);
        ASSERT_TRUE(fleet::revokeHost((*store)->connection(), "3", fleet::utcNow()).ok());
    }
    const std::string scan = snapshotOf(machineJson("pc1", kUuid1), "2026-12-09T05:14:03+01:00");
    auto post = [&](const std::string& body, std::map<std::string, std::string> headers) {
        Client client(port());
        return client.send("POST", "/api/v1/scans", body, headers);
    };
    const std::map<std::string, std::string> gzip{{"Content-Type", "application/json"}, {"Content-Encoding", "gzip"}};
    auto with = [&](const std::string& k) {
        auto headers = gzip;
        headers["Authorization"] = "Bearer " + k;
        return headers;
    };
    struct Case {
        const char* what;
        Answer answer;
        unsigned status;
    };
    std::string bomb = gzipText(std::string(8 * 1024 * 1024, '{'));
    std::string large(100 * 1024, 'x');
    std::vector<Case> cases;
    cases.push_back({"no key", post(gzipText(scan), gzip), 401});
    cases.push_back({"a wrong key", post(gzipText(scan), with(std::string(64, 'f'))), 401});
    cases.push_back({"a revoked key", post(gzipText(scan), with(revoked)), 401});
    auto basic = with(key);
    basic["Authorization"] = "Basic " + key;
    cases.push_back({"another scheme", post(gzipText(scan), basic), 401});
    auto plain = with(key);
    plain.erase("Content-Encoding");
    cases.push_back({"not gzip-encoded", post(scan, plain), 400});
    cases.push_back({"malformed gzip", post("\x1f\x8b\x08\x00 not really gzip", with(key)), 400});
    cases.push_back({"cut-off gzip", post(gzipText(scan).substr(0, 200), with(key)), 400});
    cases.push_back({"malformed JSON", post(gzipText("{\"veltrix-snapshot\": 1, \"namespaces\": {"), with(key)), 400});
    cases.push_back({"a body that is no scan", post(gzipText("{\"hello\": \"world\"}"), with(key)), 400});
    cases.push_back({"a saved page instead", post(gzipText("<html><body>report</body></html>"), with(key)), 400});
    cases.push_back({"an oversized body", post(large, with(key)), 413});
    cases.push_back({"a gzip bomb", post(bomb, with(key)), 413});
    cases.push_back({"another machine's identity",
                     post(gzipText(snapshotOf(machineJson("pc2", kUuid2), "2026-12-09T05:14:03+01:00")), with(key)),
                     409});
    for (auto& c : cases) {
        EXPECT_EQ(c.answer.status, c.status) << c.what << ": " << c.answer.body;
        EXPECT_FALSE(reasonOf(c.answer).empty()) << c.what << ": " << c.answer.body;
        EXPECT_EQ(c.answer.headers.at("content-type"), "application/json") << c.what;
    }
    EXPECT_LT(bomb.size(), limits.scanBody);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM \"rows\""), 0);
    EXPECT_EQ(count("SELECT SUM(uploads) FROM hosts"), 0);
    // The same key and scan, sent properly, are stored.
    EXPECT_EQ(post(gzipText(scan), with(key)).status, 201u);
    EXPECT_EQ(log().find(other), std::string::npos);
}

TEST_F(Server, EnrolmentRefusesWrongRevokedAndMalformedRequests) {
    startServer();
    std::string secret = makeSecret();
    {
        auto store = store::InventoryStore::open(db_, store::OpenMode::Existing);
        ASSERT_TRUE(fleet::revokeSecret((*store)->connection(), 1, fleet::utcNow()).ok());
    }
    auto enrolWith = [&](const std::string& body) {
        Client client(port());
        return client.send("POST", "/api/v1/enrol", body, {{"Content-Type", "application/json"}});
    };
    nlohmann::json machine = machineJson("pc1", kUuid1);
    EXPECT_EQ(enrolWith(nlohmann::json{{"secret", secret}, {"machine", machine}}.dump()).status, 403u);
    EXPECT_EQ(enrolWith(nlohmann::json{{"secret", std::string(64, '0')}, {"machine", machine}}.dump()).status, 403u);
    EXPECT_EQ(enrolWith(nlohmann::json{{"machine", machine}}.dump()).status, 400u);
    EXPECT_EQ(enrolWith(nlohmann::json{{"secret", makeSecret()}}.dump()).status, 400u);
    EXPECT_EQ(enrolWith(nlohmann::json{{"secret", makeSecret()}, {"machine", {{"uuid", 5}}}}.dump()).status, 400u);
    EXPECT_EQ(enrolWith("{\"secret\": ").status, 400u);
    EXPECT_EQ(enrolWith(std::string(65 * 1024, ' ')).status, 413u);
    // Refused on its length while the client is still sending: the answer
    // must still reach it.
    EXPECT_EQ(enrolWith(std::string(4 * 1024 * 1024, ' ')).status, 413u);
    // The console's forms have limits of their own, far below a scan's.
    for (const char* form : {"/login", "/logout", "/admin/secrets", "/admin/users"}) {
        Client client(port());
        EXPECT_EQ(client.send("POST", form, std::string(16 * 1024, 'a')).status, 413u) << form;
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_sessions"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_users"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM hosts"), 0);
    // The secret never reaches the log.
    EXPECT_EQ(log().find(secret), std::string::npos);

    Client client(port());
    EXPECT_EQ(client.send("GET", "/api/v1/nothing").status, 404u);
    Client again(port());
    EXPECT_EQ(again.send("GET", "/api/v1/scans").status, 405u);
}

TEST_F(Server, OversizedHeadersAreRefused) {
    TransportOptions options;
    options.headerLimit = 4096;
    startServer(options);
    Client client(port());
    Answer answer = client.send("GET", "/api/v1/health", {}, {{"X-Padding", std::string(8192, 'p')}});
    EXPECT_EQ(answer.status, 431u);
    Client fine(port());
    EXPECT_EQ(fine.send("GET", "/api/v1/health", {}, {{"X-Padding", std::string(1024, 'p')}}).status, 200u);
}

TEST_F(Server, ASlowOrSilentClientIsClosedAfterTheReadTimeoutAndNothingIsStored) {
    TransportOptions options;
    options.readTimeout = std::chrono::milliseconds(1500);
    startServer(options);
    std::string key = enrol("pc1", kUuid1);
    std::string body = gzipText(snapshotOf(machineJson("pc1", kUuid1), "2026-12-09T05:14:03+01:00"));
    std::string request = "POST /api/v1/scans HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + key +
                          "\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body;
    Client slow(port());
    ASSERT_TRUE(slow.connected());
    // A byte a second: the server gives up long before the request is whole.
    bool closed = false;
    for (std::size_t i = 0; i < 10 && !closed; ++i) {
        if (!slow.write(request.substr(i, 1))) closed = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        if (!closed) closed = slow.closedWithin(0);
    }
    if (!closed) closed = slow.closedWithin(3);
    EXPECT_TRUE(closed);

    Client silent(port());
    ASSERT_TRUE(silent.connected());
    EXPECT_TRUE(silent.closedWithin(5));
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 0);
}

TEST_F(Server, ConnectionsPastTheCapAreToldToComeBackLater) {
    TransportOptions options;
    options.maxConnections = 2;
    startServer(options);
    Client first(port()), second(port());
    ASSERT_TRUE(first.connected() && second.connected());
    Client third(port());
    Answer busy = third.send("GET", "/api/v1/health");
    EXPECT_EQ(busy.status, 503u);
    EXPECT_FALSE(busy.headers["retry-after"].empty());
    EXPECT_FALSE(reasonOf(busy).empty());
    // Two connections are still served.
    EXPECT_EQ(first.send("GET", "/api/v1/health").status, 200u);
}

TEST_F(Server, OnlyTls12AndNewerAreSpoken) {
    startServer();
    Client old(port(), TLS1_1_VERSION);
    EXPECT_FALSE(old.connected());
    Client current(port(), TLS1_2_VERSION);
    EXPECT_TRUE(current.connected()) << current.handshakeError();
    EXPECT_EQ(current.send("GET", "/api/v1/health").status, 200u);
    EXPECT_NE(log().find("TLS handshake failed"), std::string::npos);
}

TEST_F(Server, StoppingFinishesTheRequestInFlightAndClosesIdleConnections) {
    startServer();
    std::string key = enrol("pc1", kUuid1);
    std::string body = gzipText(snapshotOf(machineJson("pc1", kUuid1), "2026-12-09T05:14:03+01:00"));
    std::string head = "POST /api/v1/scans HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + key +
                       "\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    Client idle(port());
    Client busy(port());
    ASSERT_TRUE(idle.connected() && busy.connected());
    ASSERT_TRUE(busy.write(head + body.substr(0, 100)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::thread stopping([&] { transport_->stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(idle.closedWithin(5));
    ASSERT_TRUE(busy.write(body.substr(100)));
    std::string answer;
    EXPECT_TRUE(busy.closedWithin(10, &answer));
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 201") << answer;
    stopping.join();
    transport_->wait();
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 1);
    // New connections are no longer taken.
    Client late(port());
    EXPECT_FALSE(late.connected());
}

}  // namespace
}  // namespace veltrix::server::testing
