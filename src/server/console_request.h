// What the console's pages share: reading forms, queries and cookies,
// knowing who asks (a session cookie or an API token), and answering with a
// page, a redirect or JSON under the console's headers.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "fleet/console_users.h"
#include "server/store_pool.h"
#include "server/transport.h"

namespace veltrix::server {

inline constexpr const char* kSessionCookie = "veltrix_session";
inline constexpr const char* kLoginCookie = "veltrix_login";

// Pages run no script at all; the style sheet is the server's own.
inline constexpr const char* kPagePolicy =
    "default-src 'none'; style-src 'self'; img-src 'self' data:; frame-src 'self'; form-action 'self'; "
    "base-uri 'none'; frame-ancestors 'none'";

// "a%20b+c" to "a b c".
std::string urlDecode(std::string_view text);
std::string urlEncode(std::string_view text);
// The first field of that name in "a=1&b=2" (a query or a form body).
std::string formField(std::string_view encoded, std::string_view name);
std::string cookieValue(std::string_view header, std::string_view name);

Response htmlPage(unsigned status, std::string body);
Response seeOther(const std::string& location);
// JSON that survives any bytes a machine sent: invalid UTF-8 is replaced.
Response jsonAnswer(const nlohmann::json& value);

// Who made the request: a session cookie for pages, a bearer token for the
// API. Otherwise the answer to give instead (to /login for a page, 401 for
// the API, 503 when the store cannot be reached).
std::variant<fleet::Viewer, Response> whoAsks(StorePool& stores, const Request& request, bool api);

std::time_t secondsNow();

}  // namespace veltrix::server
