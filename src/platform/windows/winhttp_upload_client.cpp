#include "platform/windows/winhttp_upload_client.h"

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/version.h"
#include "platform/windows/utf16.h"

namespace veltrix {

namespace {

constexpr std::size_t kLongestAnswer = 1024 * 1024;

std::string systemText(DWORD code) {
    wchar_t* text = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
    if (winhttp && code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    DWORD length = FormatMessageW(flags, winhttp, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? win::toUtf8(std::wstring_view(text, length)) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    if (message.empty()) {
        // Not every WinHTTP carries its message texts.
        switch (code) {
            case ERROR_WINHTTP_TIMEOUT: message = "the operation timed out"; break;
            case ERROR_WINHTTP_CANNOT_CONNECT: message = "cannot connect to the server"; break;
            case ERROR_WINHTTP_CONNECTION_ERROR: message = "the connection was reset or closed"; break;
            case ERROR_WINHTTP_NAME_NOT_RESOLVED: message = "the server's name cannot be resolved"; break;
            case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: message = "the TLS handshake failed"; break;
            case ERROR_WINHTTP_SECURE_FAILURE: message = "the server's certificate is not valid"; break;
            case ERROR_WINHTTP_SECURE_INVALID_CA: message = "the server's certificate authority is not trusted"; break;
            case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: message = "the server's certificate is for another name"; break;
            case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: message = "the server's certificate has expired or is not yet valid"; break;
            case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: message = "the server's answer is not HTTP"; break;
            default: message = "error"; break;
        }
    }
    return message + " (" + std::to_string(code) + ")";
}

std::int32_t kindOf(DWORD code) {
    switch (code) {
        case ERROR_WINHTTP_TIMEOUT: return upload_failure::kTimedOut;
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        case ERROR_WINHTTP_SECURE_INVALID_CERT: return upload_failure::kCertificate;
        case ERROR_WINHTTP_INVALID_URL:
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        case ERROR_NOT_ENOUGH_MEMORY: return upload_failure::kOther;
        default: return upload_failure::kUnreachable;
    }
}

Failure lastFailure(const std::string& what) {
    const DWORD code = GetLastError();
    return Failure{kindOf(code), what + ": " + systemText(code)};
}

struct Handle {
    HINTERNET h = nullptr;
    Handle() = default;
    explicit Handle(HINTERNET handle) : h(handle) {}
    ~Handle() {
        if (h) WinHttpCloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// The certificate authorities of a PEM file, in a store of their own.
class AuthorityStore {
public:
    ~AuthorityStore() {
        if (store_) CertCloseStore(store_, 0);
    }
    Status load(const std::string& path) {
        std::ifstream file(std::filesystem::path(win::toWide(path)), std::ios::binary);
        if (!file) return Failure{upload_failure::kOther, "cannot read " + path};
        std::stringstream text;
        text << file.rdbuf();
        const std::string pem = text.str();
        store_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
        if (!store_) return lastFailure("cannot make a certificate store");
        constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
        constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
        std::size_t at = 0;
        int loaded = 0;
        while ((at = pem.find(kBegin, at)) != std::string::npos) {
            const std::size_t end = pem.find(kEnd, at);
            if (end == std::string::npos) break;
            const std::string block = pem.substr(at, end + kEnd.size() - at);
            at = end + kEnd.size();
            DWORD size = 0;
            if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                      nullptr, &size, nullptr, nullptr)) {
                continue;
            }
            std::vector<BYTE> der(size);
            if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                      der.data(), &size, nullptr, nullptr)) {
                continue;
            }
            if (CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), size,
                                                 CERT_STORE_ADD_USE_EXISTING, nullptr)) {
                ++loaded;
            }
        }
        if (loaded == 0) return Failure{upload_failure::kOther, path + ": no certificate in it"};
        return {};
    }
    HCERTSTORE store() const { return store_; }

private:
    HCERTSTORE store_ = nullptr;
};

// Whether the server's chain ends in one of `authorities`. WinHTTP itself
// still checks the name and the dates; only "unknown root" is left to this.
bool chainEndsIn(PCCERT_CONTEXT server, HCERTSTORE authorities) {
    HCERTSTORE collection = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (!collection) return false;
    CertAddStoreToCollection(collection, authorities, 0, 0);
    if (server->hCertStore) CertAddStoreToCollection(collection, server->hCertStore, 0, 0);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool trusted = false;
    if (CertGetCertificateChain(nullptr, server, nullptr, collection, &para, 0, nullptr, &chain) && chain &&
        chain->cChain > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        const DWORD allowed = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                              CERT_TRUST_IS_OFFLINE_REVOCATION;
        if ((chain->TrustStatus.dwErrorStatus & ~allowed) == 0 && simple->cElement > 0) {
            PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
            PCCERT_CONTEXT match = CertFindCertificateInStore(authorities, X509_ASN_ENCODING, 0,
                                                              CERT_FIND_EXISTING, root, nullptr);
            trusted = match != nullptr;
            if (match) CertFreeCertificateContext(match);
        }
    }
    if (chain) CertFreeCertificateChain(chain);
    CertCloseStore(collection, 0);
    return trusted;
}

// What the status callback checks on a request: filled in there, read after it.
struct CertificateCheck {
    HCERTSTORE authorities = nullptr;
    bool refused = false;
    bool closedInCallback = false;
};

void CALLBACK onStatus(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || !context) return;
    auto* check = reinterpret_cast<CertificateCheck*>(context);
    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof server;
    const bool got = WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) && server;
    const bool trusted = got && chainEndsIn(server, check->authorities);
    if (server) CertFreeCertificateContext(server);
    if (!trusted) {
        // The last moment before the request leaves: cancelling here keeps
        // the key and the body from a server that is not ours.
        check->refused = true;
        check->closedInCallback = true;
        WinHttpCloseHandle(request);
    }
}

class WinHttpUploadClient final : public UploadClient {
public:
    WinHttpUploadClient(HINTERNET session, UploadTrust trust) : session_(session), trust_(std::move(trust)) {}

    Status start() {
        if (trust_.caFile.empty() || trust_.insecure) return {};
        return authorities_.load(trust_.caFile);
    }

    Result<UploadAnswer> post(const UploadRequest& request) override {
        std::wstring url = win::toWide(request.url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
            return Failure{upload_failure::kOther, "not an address: " + request.url};
        }
        const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
        if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

        Handle connection(WinHttpConnect(session_.h, host.c_str(), parts.nPort, 0));
        if (!connection.h) return lastFailure("cannot reach " + request.url);
        timeoutMs_ = static_cast<int>(std::min<std::int64_t>(request.timeout.count(), 3600) * 1000);
        const bool ownAuthority = secure && authorities_.store();
        if (ownAuthority) {
            // A request that carries nothing first, so that a server that is
            // not ours is found out before the key or the secret leaves.
            auto probe = send(connection.h, L"GET", path, secure, {}, {}, false);
            if (!probe) return probe.failure();
        }
        std::wstring headers = L"Content-Type: " + win::toWide(request.contentType) + L"\r\nAccept: application/json\r\n";
        if (request.gzipped) headers += L"Content-Encoding: gzip\r\n";
        if (!request.bearer.empty()) headers += L"Authorization: Bearer " + win::toWide(request.bearer) + L"\r\n";
        return send(connection.h, L"POST", path, secure, headers, request.body, true);
    }

private:
    Result<UploadAnswer> send(HINTERNET connection, const wchar_t* verb, const std::wstring& path, bool secure,
                              const std::wstring& headers, std::string_view body, bool readBody) {
        Handle request(WinHttpOpenRequest(connection, verb, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                          WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
        if (!request.h) return lastFailure("cannot start the request");
        WinHttpSetTimeouts(request.h, timeoutMs_, timeoutMs_, timeoutMs_, timeoutMs_);
        // The key goes to the server enrolment named, never where a redirect points.
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
        CertificateCheck check;
        if (secure && trust_.insecure) {
            DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                          SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
            WinHttpSetOption(request.h, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
        } else if (secure && authorities_.store()) {
            DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
            WinHttpSetOption(request.h, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
            check.authorities = authorities_.store();
            DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&check);
            WinHttpSetOption(request.h, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
            WinHttpSetStatusCallback(request.h, onStatus, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);
        }
        const BOOL sent = WinHttpSendRequest(request.h, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                             headers.empty() ? 0 : static_cast<DWORD>(-1),
                                             body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                                             static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0);
        const DWORD sendError = GetLastError();
        if (check.closedInCallback) request.h = nullptr;
        if (check.refused) {
            return Failure{upload_failure::kCertificate,
                           "the server's certificate does not lead to the certificate authority " + trust_.caFile};
        }
        if (!sent) {
            SetLastError(sendError);
            return lastFailure("cannot send the request");
        }
        if (!WinHttpReceiveResponse(request.h, nullptr)) return lastFailure("no answer");
        UploadAnswer answer;
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
            return lastFailure("no status in the answer");
        }
        answer.status = static_cast<int>(status);
        DWORD retryAfter = 0;
        size = sizeof retryAfter;
        if (WinHttpQueryHeaders(request.h, WINHTTP_QUERY_RETRY_AFTER | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &retryAfter, &size, WINHTTP_NO_HEADER_INDEX)) {
            answer.retryAfterSeconds = static_cast<std::int64_t>(retryAfter);
        }
        while (readBody) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request.h, &available)) return lastFailure("the answer broke off");
            if (available == 0) break;
            std::string chunk(available, '\0');
            DWORD read = 0;
            if (!WinHttpReadData(request.h, chunk.data(), available, &read)) return lastFailure("the answer broke off");
            if (read == 0) break;
            if (answer.body.size() < kLongestAnswer) {
                answer.body.append(chunk.data(), std::min<std::size_t>(read, kLongestAnswer - answer.body.size()));
            }
        }
        return answer;
    }

    Handle session_;
    UploadTrust trust_;
    AuthorityStore authorities_;
    int timeoutMs_ = 60000;
};

}  // namespace

Result<std::unique_ptr<UploadClient>> makeWinHttpUploadClient(const UploadTrust& trust) {
    const std::wstring agent = win::toWide(std::string("veltrix-agent/") + kVersionText);
    HINTERNET session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return lastFailure("cannot start WinHTTP");
    // TLS 1.2 or newer; a Windows that knows no TLS 1.3 takes 1.2 alone.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
    auto client = std::make_unique<WinHttpUploadClient>(session, trust);
    if (Status started = client->start(); !started.ok()) return started.failure;
    return std::unique_ptr<UploadClient>(std::move(client));
}

}  // namespace veltrix
