#include "platform/posix/curl_upload_client.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <mutex>

#include "core/version.h"

namespace veltrix {

namespace {

// A fleet server's answers are a few hundred bytes; more is not ours to keep.
constexpr std::size_t kLongestAnswer = 1024 * 1024;

struct Collected {
    std::string body;
    std::optional<std::int64_t> retryAfter;
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* collected = static_cast<Collected*>(user);
    const std::size_t bytes = size * count;
    const std::size_t room = kLongestAnswer - std::min(kLongestAnswer, collected->body.size());
    collected->body.append(data, std::min(bytes, room));
    return bytes;
}

// Retry-After as a number of seconds; the HTTP-date form is taken as "soon".
std::size_t collectHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* collected = static_cast<Collected*>(user);
    const std::size_t bytes = size * count;
    std::string_view line(data, bytes);
    constexpr std::string_view kName = "retry-after:";
    if (line.size() > kName.size()) {
        bool matches = true;
        for (std::size_t i = 0; i < kName.size() && matches; ++i) {
            matches = std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
        }
        if (matches) {
            std::int64_t seconds = 0;
            bool digits = false;
            for (char c : line.substr(kName.size())) {
                if (c >= '0' && c <= '9') {
                    digits = true;
                    if (seconds < 1000000) seconds = seconds * 10 + (c - '0');
                } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
                    digits = false;
                    break;
                }
            }
            collected->retryAfter = digits ? std::optional<std::int64_t>(seconds) : std::optional<std::int64_t>(1);
        }
    }
    // A new status line (after a 100 Continue) starts the answer's headers over.
    if (line.rfind("HTTP/", 0) == 0) collected->retryAfter.reset();
    return bytes;
}

std::int32_t kindOf(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT: return upload_failure::kTimedOut;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return upload_failure::kCertificate;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_OUT_OF_MEMORY:
        case CURLE_NOT_BUILT_IN:
        case CURLE_FAILED_INIT: return upload_failure::kOther;
        default: return upload_failure::kUnreachable;
    }
}

class CurlUploadClient final : public UploadClient {
public:
    CurlUploadClient(CURL* handle, UploadTrust trust) : handle_(handle), trust_(std::move(trust)) {}
    ~CurlUploadClient() override { curl_easy_cleanup(handle_); }
    CurlUploadClient(const CurlUploadClient&) = delete;
    CurlUploadClient& operator=(const CurlUploadClient&) = delete;

    Result<UploadAnswer> post(const UploadRequest& request) override {
        // The handle is reused so that a spool of scans goes over one TLS
        // connection; each request sets everything it needs again.
        CURL* h = handle_;
        curl_easy_reset(h);
        Collected collected;
        char errorText[CURL_ERROR_SIZE] = {};
        curl_slist* headers = nullptr;
        const std::string contentType = "Content-Type: " + request.contentType;
        const std::string authorization = "Authorization: Bearer " + request.bearer;
        headers = curl_slist_append(headers, contentType.c_str());
        headers = curl_slist_append(headers, "Accept: application/json");
        // No "100 Continue" round trip before each body.
        headers = curl_slist_append(headers, "Expect:");
        if (request.gzipped) headers = curl_slist_append(headers, "Content-Encoding: gzip");
        if (!request.bearer.empty()) headers = curl_slist_append(headers, authorization.c_str());
        const std::string agent = std::string("veltrix-agent/") + kVersionText;
        const long total = static_cast<long>(request.timeout.count());

        curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        // The key goes to the server enrolment named, never to where a redirect points.
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(h, CURLOPT_TIMEOUT, total);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::min(total, 20L));
        curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        if (trust_.insecure) {
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
        } else if (!trust_.caFile.empty()) {
            // This authority alone, not the system's as well.
            curl_easy_setopt(h, CURLOPT_CAINFO, trust_.caFile.c_str());
            curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
        }
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &collected);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collectHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &collected);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);

        const CURLcode code = curl_easy_perform(h);
        curl_slist_free_all(headers);
        if (code != CURLE_OK) {
            std::string why = errorText[0] ? errorText : curl_easy_strerror(code);
            return Failure{kindOf(code), why};
        }
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        UploadAnswer answer;
        answer.status = static_cast<int>(status);
        answer.body = std::move(collected.body);
        answer.retryAfterSeconds = collected.retryAfter;
        return answer;
    }

private:
    CURL* handle_;
    UploadTrust trust_;
};

}  // namespace

Result<std::unique_ptr<UploadClient>> makeCurlUploadClient(const UploadTrust& trust) {
    static std::once_flag once;
    static CURLcode initialised = CURLE_OK;
    std::call_once(once, [] { initialised = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (initialised != CURLE_OK) {
        return Failure{upload_failure::kOther, std::string("cannot start libcurl: ") + curl_easy_strerror(initialised)};
    }
    CURL* handle = curl_easy_init();
    if (!handle) return Failure{upload_failure::kOther, "cannot start libcurl"};
    return std::unique_ptr<UploadClient>(std::make_unique<CurlUploadClient>(handle, trust));
}

}  // namespace veltrix
