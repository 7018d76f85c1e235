#include "ui/console/spool_delivery.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace veltrix {

namespace {

void printLine(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fputc('\n', f);
}

// The server's reason from an error answer, or the status alone.
std::string reasonOf(const UploadAnswer& answer) {
    std::string reason = "HTTP " + std::to_string(answer.status);
    nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
    if (body.is_object()) {
        auto error = body.find("error");
        if (error != body.end() && error->is_string()) {
            std::string text = error->get<std::string>();
            // One line on a terminal, however the server wrote it.
            for (char& c : text) {
                if (static_cast<unsigned char>(c) < ' ') c = ' ';
            }
            if (text.size() > 300) text = text.substr(0, 300) + "...";
            reason += ": " + text;
        }
    }
    return reason;
}

// A 200 or 201 counts only with the answer the protocol gives, so that a
// proxy's page or a half answer is never taken for a stored scan.
bool confirmsStorage(const UploadAnswer& answer) {
    nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
    if (!body.is_object()) return false;
    auto scan = body.find("scan-id");
    return scan != body.end() && scan->is_number_integer();
}

enum class Verdict { Delivered, Retry, Refused, Stop, KeyRefused, Untrusted };

Verdict judge(const Result<UploadAnswer>& outcome, std::string& problem) {
    if (!outcome) {
        problem = outcome.failure().description;
        switch (outcome.failure().number) {
            case upload_failure::kUnreachable:
            case upload_failure::kTimedOut: return Verdict::Retry;
            case upload_failure::kCertificate: return Verdict::Untrusted;
            default: return Verdict::Stop;
        }
    }
    const UploadAnswer& answer = *outcome;
    problem = reasonOf(answer);
    if (answer.status == 200 || answer.status == 201) {
        if (confirmsStorage(answer)) return Verdict::Delivered;
        problem = "HTTP " + std::to_string(answer.status) + " without the stored scan's number: not a Veltrix server?";
        return Verdict::Stop;
    }
    if (answer.status == 401) return Verdict::KeyRefused;
    if (answer.status == 408 || answer.status == 429 || answer.status >= 500) return Verdict::Retry;
    if (answer.status >= 400) return Verdict::Refused;
    return Verdict::Stop;
}

}  // namespace

std::chrono::milliseconds backoffWait(const DeliveryPolicy& policy, unsigned attempt,
                                      std::optional<std::int64_t> retryAfterSeconds, double uniform) {
    using std::chrono::milliseconds;
    uniform = std::clamp(uniform, 0.0, 1.0);
    const auto longest = std::max(policy.longestBackoff, milliseconds(1));
    if (retryAfterSeconds && *retryAfterSeconds > 0) {
        const auto asked = std::min<std::int64_t>(*retryAfterSeconds, 24 * 3600) * 1000;
        const auto spread = std::min<std::int64_t>(asked, longest.count());
        return milliseconds(asked + static_cast<std::int64_t>(uniform * static_cast<double>(spread)));
    }
    std::int64_t ceiling = std::max<std::int64_t>(policy.firstBackoff.count(), 1);
    for (unsigned i = 0; i < attempt && ceiling < longest.count(); ++i) ceiling *= 2;
    ceiling = std::min<std::int64_t>(ceiling, longest.count());
    return milliseconds(static_cast<std::int64_t>(uniform * static_cast<double>(ceiling)));
}

DeliveryReport deliverSpool(Spool& spool, DeliveryServices& services, const DeliveryPolicy& policy) {
    DeliveryReport report;
    auto listed = spool.list();
    if (!listed) {
        report.end = DeliveryEnd::Stopped;
        report.problem = listed.failure().description;
        return report;
    }
    std::vector<SpooledScan> scans = std::move(*listed);
    std::chrono::milliseconds waited{0};
    unsigned attempt = 0;
    std::size_t next = 0;
    auto finish = [&](DeliveryEnd end) {
        report.end = end;
        report.waiting = report.rejected + (scans.size() - next);
        return report;
    };
    while (next < scans.size()) {
        const SpooledScan& scan = scans[next];
        auto body = spool.read(scan);
        if (!body) {
            // Gone meanwhile (another run sent it) or unreadable: the next one.
            printLine(services.err, "veltrix: spooled scan " + scan.name + " skipped: " + body.failure().description);
            ++next;
            continue;
        }
        UploadRequest request;
        request.url = services.scansUrl;
        request.gzipped = true;
        request.body = *body;
        request.bearer = services.key;
        request.timeout = policy.requestTimeout;
        auto outcome = services.client.post(request);
        std::string problem;
        switch (judge(outcome, problem)) {
            case Verdict::Delivered:
                (outcome->status == 201 ? report.stored : report.alreadyHeld) += 1;
                if (Status removed = spool.remove(scan); !removed.ok()) {
                    // Sent again next run, which the server answers "already held".
                    printLine(services.err, "veltrix: " + removed.failure.description);
                }
                attempt = 0;
                ++next;
                continue;
            case Verdict::Refused:
                // Kept: a server older than this agent refuses what its next
                // version takes. The others still go, and the spool's bound
                // retires the scan in time if no server ever takes it.
                printLine(services.err, "veltrix: the server refused the scan " + scan.name + " (" + problem +
                                            "); it stays in the spool");
                ++report.rejected;
                ++next;
                continue;
            case Verdict::KeyRefused:
                report.problem = problem;
                return finish(DeliveryEnd::KeyRefused);
            case Verdict::Untrusted:
                report.problem = problem;
                return finish(DeliveryEnd::ServerUntrusted);
            case Verdict::Stop:
                report.problem = problem;
                return finish(DeliveryEnd::Stopped);
            case Verdict::Retry: break;
        }
        report.problem = problem;
        const auto wait = backoffWait(policy, attempt++, outcome ? outcome->retryAfterSeconds : std::nullopt,
                                      services.uniform());
        if (waited + wait > policy.retryFor) return finish(DeliveryEnd::ServerAway);
        waited += wait;
        services.sleep(wait);
    }
    return finish(DeliveryEnd::Delivered);
}

}  // namespace veltrix
