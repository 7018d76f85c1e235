#include "server/console_request.h"

#include <nlohmann/json.hpp>

#include <chrono>

#include "core/ascii.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::time_t secondsNow() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }

std::string urlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string urlEncode(std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string formField(std::string_view encoded, std::string_view name) {
    for (std::size_t start = 0; start <= encoded.size();) {
        std::size_t end = encoded.find('&', start);
        if (end == std::string_view::npos) end = encoded.size();
        std::string_view pair = encoded.substr(start, end - start);
        std::size_t equals = pair.find('=');
        if (urlDecode(pair.substr(0, equals)) == name) {
            return equals == std::string_view::npos ? std::string() : urlDecode(pair.substr(equals + 1));
        }
        start = end + 1;
    }
    return {};
}

std::string cookieValue(std::string_view header, std::string_view name) {
    for (std::size_t start = 0; start < header.size();) {
        std::size_t end = header.find(';', start);
        if (end == std::string_view::npos) end = header.size();
        std::string_view pair = trimView(header.substr(start, end - start));
        std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
            return std::string(trimView(pair.substr(equals + 1)));
        }
        start = end + 1;
    }
    return {};
}

Response htmlPage(unsigned status, std::string body) {
    Response response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = std::move(body);
    response.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    return response;
}

Response seeOther(const std::string& location) {
    Response response = htmlPage(303, "");
    response.headers.emplace_back("Location", location);
    return response;
}

Response jsonAnswer(const nlohmann::json& value) {
    Response response;
    response.body = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return response;
}

std::variant<fleet::Viewer, Response> whoAsks(StorePool& stores, const Request& request, bool api) {
    auto refused = [&]() -> Response {
        if (api) return errorResponse(401, "sign in: send \"Authorization: Bearer TOKEN\" (see \"token create\")");
        return seeOther("/login");
    };
    std::string_view authorization = trimView(request.authorization);
    std::string session = cookieValue(request.cookie, kSessionCookie);
    if (authorization.empty() && session.empty()) return refused();
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    Result<std::optional<fleet::Viewer>> viewer = std::optional<fleet::Viewer>();
    constexpr std::string_view kScheme = "Bearer ";
    if (api && authorization.size() > kScheme.size() &&
        equalsIgnoringCase(authorization.substr(0, kScheme.size()), kScheme)) {
        viewer = fleet::apiTokenViewer((*lease)->connection(), trimView(authorization.substr(kScheme.size())));
    } else if (!session.empty()) {
        viewer = fleet::sessionViewer((*lease)->connection(), session, secondsNow());
    }
    if (!viewer) {
        lease->discard();
        return storeUnavailable("the store cannot be reached; try again later");
    }
    if (!*viewer) return refused();
    return **viewer;
}

}  // namespace veltrix::server
