// Sending the spool: which answers deliver a scan, which keep it for later,
// which set it aside, and how long the agent waits in between.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>

#include "support/native_platform.h"
#include "support/temp_folder.h"
#include "ui/console/spool_delivery.h"

namespace veltrix {
namespace {

using std::chrono::milliseconds;

// Answers from a script, one per request, and remembers what was sent.
class ScriptedClient final : public UploadClient {
public:
    std::deque<Result<UploadAnswer>> answers;
    std::vector<std::string> bodies;
    std::vector<UploadRequest> requests;

    Result<UploadAnswer> post(const UploadRequest& request) override {
        requests.push_back(request);
        bodies.emplace_back(request.body);
        if (answers.empty()) return Failure{upload_failure::kOther, "no answer scripted"};
        auto next = answers.front();
        answers.pop_front();
        return next;
    }
};

UploadAnswer answer(int status, std::string body, std::optional<std::int64_t> retryAfter = std::nullopt) {
    return UploadAnswer{status, std::move(body), retryAfter};
}
const char* kStored = R"({"scan-id": 7, "machine-id": 3})";

class DeliveryTest : public ::testing::Test {
protected:
    DeliveryTest() : platform_(folder_.str()), spool_(folder_.str(), platform_) {
        errors_ = std::tmpfile();
    }
    ~DeliveryTest() override { std::fclose(errors_); }

    void spool(const std::vector<std::string>& bodies) {
        std::vector<std::string> dropped;
        std::int64_t second = 1000;
        for (const auto& body : bodies) {
            ASSERT_TRUE(spool_.add(body, std::chrono::system_clock::time_point(std::chrono::seconds(second++)),
                                   dropped));
        }
    }
    DeliveryReport deliver(DeliveryPolicy policy = {}) {
        DeliveryServices services{client_, "https://fleet.example/api/v1/scans", "the-key",
                                  [this](milliseconds wait) { waits_.push_back(wait); },
                                  [this] { return uniform_; }, errors_};
        return deliverSpool(spool_, services, policy);
    }
    std::vector<std::string> spooled() {
        std::vector<std::string> bodies;
        auto listed = spool_.list();
        for (const auto& scan : *listed) bodies.push_back(*spool_.read(scan));
        return bodies;
    }
    std::string errors() {
        std::fflush(errors_);
        std::rewind(errors_);
        std::string text;
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, errors_)) text.append(buffer, n);
        return text;
    }

    test::TempFolder folder_;
    test::NativePlatform platform_;
    Spool spool_;
    ScriptedClient client_;
    std::vector<milliseconds> waits_;
    double uniform_ = 0.5;
    std::FILE* errors_;
};

TEST_F(DeliveryTest, SendsOldestFirstWithTheKeyCompressed) {
    spool({"first", "second"});
    client_.answers = {answer(201, kStored), answer(200, kStored)};
    DeliveryReport report = deliver();
    EXPECT_EQ(report.end, DeliveryEnd::Delivered);
    EXPECT_EQ(report.stored, 1u);
    EXPECT_EQ(report.alreadyHeld, 1u);
    EXPECT_EQ(report.waiting, 0u);
    EXPECT_EQ(client_.bodies, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(client_.requests[0].url, "https://fleet.example/api/v1/scans");
    EXPECT_EQ(client_.requests[0].bearer, "the-key");
    EXPECT_TRUE(client_.requests[0].gzipped);
    EXPECT_TRUE(spooled().empty());
    EXPECT_TRUE(waits_.empty());
}

TEST_F(DeliveryTest, BusyOrAwayServersAreTriedAgainAfterAWait) {
    spool({"only"});
    client_.answers = {answer(503, R"({"error": "store unavailable"})", 2),
                       Failure{upload_failure::kUnreachable, "connection refused"},
                       Failure{upload_failure::kTimedOut, "timed out"}, answer(429, "{}"), answer(500, "oops"),
                       answer(201, kStored)};
    DeliveryPolicy policy;
    policy.firstBackoff = milliseconds(100);
    policy.longestBackoff = milliseconds(1000);
    DeliveryReport report = deliver(policy);
    EXPECT_EQ(report.end, DeliveryEnd::Delivered);
    EXPECT_EQ(report.stored, 1u);
    // Retry-After 2 s plus half of the spread; then half of 200, 400 and 800 ms, each doubling.
    ASSERT_EQ(waits_.size(), 5u);
    EXPECT_EQ(waits_[0], milliseconds(2500));
    EXPECT_EQ(waits_[1], milliseconds(100));
    EXPECT_EQ(waits_[2], milliseconds(200));
    EXPECT_EQ(waits_[3], milliseconds(400));
    EXPECT_EQ(waits_[4], milliseconds(500));
}

TEST_F(DeliveryTest, GivesUpWhenTheRetryTimeIsSpentAndKeepsTheRest) {
    spool({"a", "b", "c"});
    client_.answers = {answer(201, kStored)};
    for (int i = 0; i < 50; ++i) client_.answers.push_back(answer(503, R"({"error": "store unavailable"})"));
    DeliveryPolicy policy;
    policy.firstBackoff = milliseconds(1000);
    policy.longestBackoff = milliseconds(4000);
    policy.retryFor = milliseconds(5000);
    uniform_ = 1.0;
    DeliveryReport report = deliver(policy);
    EXPECT_EQ(report.end, DeliveryEnd::ServerAway);
    EXPECT_EQ(report.stored, 1u);
    EXPECT_EQ(report.waiting, 2u);
    EXPECT_EQ(report.problem, "HTTP 503: store unavailable");
    // 1 + 2 s waited; 4 more would pass 5.
    EXPECT_EQ(waits_, (std::vector<milliseconds>{milliseconds(1000), milliseconds(2000)}));
    EXPECT_EQ(spooled(), (std::vector<std::string>{"b", "c"}));
}

TEST_F(DeliveryTest, ARefusedKeyStopsAndKeepsTheSpool) {
    spool({"a", "b"});
    client_.answers = {answer(401, R"({"error": "revoked key"})")};
    DeliveryReport report = deliver();
    EXPECT_EQ(report.end, DeliveryEnd::KeyRefused);
    EXPECT_EQ(report.waiting, 2u);
    EXPECT_EQ(report.problem, "HTTP 401: revoked key");
    EXPECT_EQ(client_.requests.size(), 1u);
    EXPECT_EQ(spooled().size(), 2u);
}

TEST_F(DeliveryTest, RefusedScansStayButDoNotHoldUpTheOthers) {
    spool({"bad", "too big", "good"});
    client_.answers = {answer(400, "{\"error\": \"not a\\nsnapshot\"}"), answer(413, "not json"),
                       answer(201, kStored)};
    DeliveryReport report = deliver();
    EXPECT_EQ(report.end, DeliveryEnd::Delivered);
    EXPECT_EQ(report.rejected, 2u);
    EXPECT_EQ(report.stored, 1u);
    EXPECT_EQ(report.waiting, 2u);
    EXPECT_TRUE(waits_.empty()) << "a refusal is no reason to wait";
    EXPECT_EQ(spooled(), (std::vector<std::string>{"bad", "too big"}));
    const std::string lines = errors();
    // The server's reason on one line, whatever it held.
    EXPECT_NE(lines.find("(HTTP 400: not a snapshot)"), std::string::npos) << lines;
    EXPECT_NE(lines.find("(HTTP 413)"), std::string::npos) << lines;

    // A server that takes them later gets them, oldest first.
    client_.answers = {answer(201, kStored), answer(201, kStored)};
    client_.bodies.clear();
    EXPECT_EQ(deliver().end, DeliveryEnd::Delivered);
    EXPECT_EQ(client_.bodies, (std::vector<std::string>{"bad", "too big"}));
    EXPECT_TRUE(spooled().empty());
}

TEST_F(DeliveryTest, AnAnswerThatConfirmsNothingIsNoDelivery) {
    spool({"a"});
    for (const UploadAnswer& stop : {answer(200, "<html>welcome to the proxy</html>"), answer(201, R"({"scan-id": "7"})"),
                      answer(302, "")}) {
        client_.answers = {stop};
        DeliveryReport report = deliver();
        EXPECT_EQ(report.end, DeliveryEnd::Stopped) << stop.body;
        EXPECT_EQ(report.waiting, 1u);
    }
    client_.answers = {Failure{upload_failure::kCertificate, "certificate verify failed"}};
    EXPECT_EQ(deliver().end, DeliveryEnd::ServerUntrusted);
    EXPECT_EQ(spooled().size(), 1u);
    EXPECT_TRUE(waits_.empty()) << "none of these heal by waiting";
}

TEST(Backoff, FullJitterWithinDoublingBoundsAndRetryAfterSpread) {
    DeliveryPolicy policy;
    policy.firstBackoff = milliseconds(1000);
    policy.longestBackoff = milliseconds(30000);
    EXPECT_EQ(backoffWait(policy, 0, std::nullopt, 0.0), milliseconds(0));
    EXPECT_EQ(backoffWait(policy, 0, std::nullopt, 0.999), milliseconds(999));
    EXPECT_EQ(backoffWait(policy, 3, std::nullopt, 0.5), milliseconds(4000));
    EXPECT_EQ(backoffWait(policy, 10, std::nullopt, 0.5), milliseconds(15000)) << "capped at the longest";
    EXPECT_EQ(backoffWait(policy, 1000, std::nullopt, 1.0), milliseconds(30000)) << "no overflow";
    // The server's time, then a spread of as much again, at most the longest.
    EXPECT_EQ(backoffWait(policy, 0, 10, 0.0), milliseconds(10000));
    EXPECT_EQ(backoffWait(policy, 0, 10, 0.5), milliseconds(15000));
    EXPECT_EQ(backoffWait(policy, 0, 120, 1.0), milliseconds(150000));
    EXPECT_EQ(backoffWait(policy, 2, 0, 0.5), milliseconds(2000)) << "Retry-After 0 is no time";
}

}  // namespace
}  // namespace veltrix
