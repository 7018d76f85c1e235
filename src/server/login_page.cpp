// Signing in and out. The sign-in form carries a token that must match a
// cookie set with it, so that another site cannot sign a browser in to an
// account of its choosing; sign-out posts the session's own form token.
#include <openssl/crypto.h>

#include "fleet/enrolment.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

std::string cookie(const Request& request, std::string_view name, std::string_view value, std::string_view path,
                   std::time_t maxAge) {
    std::string text = std::string(name) + "=" + std::string(value) + "; Path=" + std::string(path) +
                       "; Max-Age=" + std::to_string(maxAge) + "; HttpOnly; SameSite=Strict";
    if (request.secure) text += "; Secure";
    return text;
}

bool sameToken(std::string_view a, std::string_view b) {
    return !a.empty() && a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

Response loginForm(const Request& request, unsigned status, std::string_view message) {
    std::string token = cookieValue(request.cookie, kLoginCookie);
    const bool fresh = token.size() != 64;
    if (fresh) {
        auto made = fleet::randomToken();
        if (!made) return errorResponse(500, made.failure().description);
        token = *made;
    }
    std::string content;
    if (!message.empty()) content += "<p class=\"error\" role=\"alert\">" + escape(message) + "</p>\n";
    content +=
        "<form method=\"post\" action=\"/login\">\n"
        "<input type=\"hidden\" name=\"form_token\" value=\"" + escape(token) + "\">\n"
        "<label for=\"name\">Name</label><input id=\"name\" name=\"name\" autocomplete=\"username\" required>\n"
        "<label for=\"password\">Password</label>"
        "<input id=\"password\" name=\"password\" type=\"password\" autocomplete=\"current-password\" required>\n"
        "<p><button type=\"submit\">Sign in</button></p>\n</form>";
    Response response = htmlPage(status, consolePage("Sign in", nullptr, content));
    if (fresh) response.headers.emplace_back("Set-Cookie", cookie(request, kLoginCookie, token, "/login", 3600));
    return response;
}

Response signInPosted(StorePool& stores, const ConsoleSettings& settings, const Request& request) {
    if (!sameToken(formField(request.body, "form_token"), cookieValue(request.cookie, kLoginCookie))) {
        return loginForm(request, 403, "The sign-in form has expired: please sign in again.");
    }
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    std::int64_t wait = 0;
    // A name that is not UTF-8 is nobody's; PostgreSQL would refuse to look it up.
    auto signedIn = fleet::signIn((*lease)->connection(), validUtf8(formField(request.body, "name")),
                                  formField(request.body, "password"), secondsNow(), settings.sessions, &wait);
    if (!signedIn) {
        const auto& failure = signedIn.failure();
        if (failure.number == fleet::kSignInRefused) return loginForm(request, 401, "The name or the password is wrong.");
        if (failure.number == fleet::kSignInTooSoon) {
            Response response = loginForm(request, 429, "Too many failed sign-ins: try again in " +
                                                            std::to_string(wait) + " seconds.");
            response.retryAfterSeconds = static_cast<int>(wait);
            return response;
        }
        lease->discard();
        return storeUnavailable("the store cannot be reached; try again later");
    }
    Response response = seeOther("/");
    response.headers.emplace_back("Set-Cookie", cookie(request, kSessionCookie, signedIn->sessionToken, "/",
                                                       settings.sessions.lifetimeSeconds));
    response.headers.emplace_back("Set-Cookie", cookie(request, kLoginCookie, "", "/login", 0));
    return response;
}

Response signOutPosted(StorePool& stores, const Request& request) {
    auto who = whoAsks(stores, request, false);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    if (!sameToken(formField(request.body, "form_token"), viewer.formToken)) {
        return htmlPage(403, consolePage("Not signed out", &viewer,
                                         "<p class=\"error\">The form was not this session's: nothing was changed.</p>"));
    }
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    if (!fleet::endSession((*lease)->connection(), cookieValue(request.cookie, kSessionCookie)).ok()) {
        lease->discard();
        return storeUnavailable("the store cannot be reached; try again later");
    }
    Response response = seeOther("/login");
    response.headers.emplace_back("Set-Cookie", cookie(request, kSessionCookie, "", "/", 0));
    return response;
}

}  // namespace

std::vector<Route> signInRoutes(StorePool& stores, const ConsoleSettings& settings) {
    return {
        Route{"GET", "/login", 0, [](const Request& request) { return loginForm(request, 200, ""); }},
        Route{"POST", "/login", 8 * 1024,
              [&stores, settings](const Request& request) { return signInPosted(stores, settings, request); }},
        Route{"POST", "/logout", 8 * 1024, [&stores](const Request& request) { return signOutPosted(stores, request); }},
        Route{"GET", "/console.css", 0,
              [](const Request&) {
                  Response response;
                  response.contentType = "text/css; charset=utf-8";
                  response.body = consoleStyleSheet();
                  return response;
              }},
    };
}

}  // namespace veltrix::server
