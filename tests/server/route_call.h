// The console's routes called as the transport would, without a socket: the
// request made of a method and a target ("/path?query"), answered by the
// route whose method and path (or path prefix) it matches.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/console_request.h"
#include "server/transport.h"

namespace veltrix::server::testing {

inline Response callRoute(const std::vector<Route>& routes, const std::string& method, const std::string& target,
                          const std::string& cookie, const std::string& body, const std::string& authorization,
                          bool secure = false) {
    Request request;
    request.method = method;
    request.path = target.substr(0, target.find('?'));
    if (target.find('?') != std::string::npos) request.query = target.substr(target.find('?') + 1);
    request.cookie = cookie;
    request.body = body;
    request.authorization = authorization;
    request.secure = secure;
    for (const auto& route : routes) {
        const bool matches = route.prefix ? request.path.size() > route.path.size() &&
                                                request.path.compare(0, route.path.size(), route.path) == 0
                                          : route.path == request.path;
        if (route.method == method && matches) return route.handler(request);
    }
    ADD_FAILURE() << "no route for " << method << " " << target;
    return {};
}

// The value a response's Set-Cookie gives cookie `name`; empty when none.
inline std::string setCookieValue(const Response& response, std::string_view name) {
    for (const auto& [key, value] : response.headers) {
        if (key == "Set-Cookie" && value.rfind(std::string(name) + "=", 0) == 0) {
            return value.substr(name.size() + 1, value.find(';') - name.size() - 1);
        }
    }
    return {};
}

// Signs a user in through the form, as a browser does; the session cookie
// header to send.
inline std::string signIn(const std::vector<Route>& routes, const std::string& name, const std::string& password) {
    const std::string login = setCookieValue(callRoute(routes, "GET", "/login", {}, {}, {}), kLoginCookie);
    Response signedIn = callRoute(routes, "POST", "/login", std::string(kLoginCookie) + "=" + login,
                                  "form_token=" + login + "&name=" + name + "&password=" + urlEncode(password), {});
    EXPECT_EQ(signedIn.status, 303u);
    return std::string(kSessionCookie) + "=" + setCookieValue(signedIn, kSessionCookie);
}

}  // namespace veltrix::server::testing
