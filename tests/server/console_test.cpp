// The console's pages and JSON, called as the transport calls them: who may
// see what, the sign-in and sign-out, the fleet list, and machine texts that
// must stay text.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "fleet/console_users.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "store/store_fixture.h"

namespace veltrix::server {
namespace {

using store::testing::makeReport;
using store::testing::StoreTest;

std::string header(const Response& response, std::string_view name) {
    for (const auto& [key, value] : response.headers) {
        if (key == name) return value;
    }
    return {};
}

std::string setCookieValue(const Response& response, std::string_view name) {
    for (const auto& [key, value] : response.headers) {
        if (key == "Set-Cookie" && value.rfind(std::string(name) + "=", 0) == 0) {
            return value.substr(name.size() + 1, value.find(';') - name.size() - 1);
        }
    }
    return {};
}

class Console : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped()) return;
        auto inventory = openStore();
        ASSERT_TRUE(inventory);
        ASSERT_TRUE(fleet::addUser(inventory->connection(), "anna", fleet::Role::Viewer, "s3cret-pass", "t"));
        stores_ = std::make_unique<StorePool>(target_);
        routes_ = consoleRoutes(*stores_);
    }

    Response call(const std::string& method, const std::string& target, const std::string& cookie = {},
                  const std::string& body = {}, const std::string& authorization = {}, bool secure = false) {
        Request request;
        request.method = method;
        request.path = target.substr(0, target.find('?'));
        if (target.find('?') != std::string::npos) request.query = target.substr(target.find('?') + 1);
        request.cookie = cookie;
        request.body = body;
        request.authorization = authorization;
        request.secure = secure;
        for (const auto& route : routes_) {
            const bool matches = route.prefix ? request.path.size() > route.path.size() &&
                                                    request.path.compare(0, route.path.size(), route.path) == 0
                                              : route.path == request.path;
            if (route.method == method && matches) return route.handler(request);
        }
        ADD_FAILURE() << "no route for " << method << " " << target;
        return {};
    }

    // Signs anna in; the session cookie header to send.
    std::string signIn() {
        Response form = call("GET", "/login");
        std::string loginToken = setCookieValue(form, kLoginCookie);
        Response signedIn = call("POST", "/login", std::string(kLoginCookie) + "=" + loginToken,
                                 "form_token=" + loginToken + "&name=anna&password=s3cret-pass");
        EXPECT_EQ(signedIn.status, 303u);
        return std::string(kSessionCookie) + "=" + setCookieValue(signedIn, kSessionCookie);
    }

    void addReports(const std::vector<data::Report>& reports) {
        auto inventory = openStore();
        addAll(*inventory, reports);
    }

    std::unique_ptr<StorePool> stores_;
    std::vector<Route> routes_;
};

TEST_P(Console, NothingIsShownWithoutASessionOrTokenButTheSignInFormAndItsStyle) {
    Response page = call("GET", "/");
    EXPECT_EQ(page.status, 303u);
    EXPECT_EQ(header(page, "Location"), "/login");
    EXPECT_EQ(call("GET", "/", std::string(kSessionCookie) + "=" + std::string(64, 'a')).status, 303u);
    EXPECT_EQ(call("GET", "/api/v1/machines").status, 401u);
    EXPECT_EQ(call("GET", "/api/v1/machines", {}, {}, "Bearer " + std::string(64, 'b')).status, 401u);
    EXPECT_EQ(call("POST", "/logout").status, 303u);

    Response form = call("GET", "/login");
    EXPECT_EQ(form.status, 200u);
    EXPECT_EQ(form.contentType, "text/html; charset=utf-8");
    const std::string policy = header(form, "Content-Security-Policy");
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos);
    EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_EQ(policy.find("script-src"), std::string::npos);
    EXPECT_NE(form.body.find("<label for=\"password\">"), std::string::npos);
    EXPECT_EQ(call("GET", "/console.css").status, 200u);
}

TEST_P(Console, SignInSetsAStrictSessionCookieAndSignOutNeedsTheSessionsFormToken) {
    Response form = call("GET", "/login");
    const std::string loginToken = setCookieValue(form, kLoginCookie);
    ASSERT_EQ(loginToken.size(), 64u);
    EXPECT_NE(form.body.find("value=\"" + loginToken + "\""), std::string::npos);
    const std::string loginCookie = std::string(kLoginCookie) + "=" + loginToken;

    // A form posted from elsewhere lacks the cookie's token.
    EXPECT_EQ(call("POST", "/login", {}, "form_token=" + loginToken + "&name=anna&password=s3cret-pass").status, 403u);
    Response wrong = call("POST", "/login", loginCookie, "form_token=" + loginToken + "&name=anna&password=nope");
    EXPECT_EQ(wrong.status, 401u);
    EXPECT_TRUE(setCookieValue(wrong, kSessionCookie).empty());

    Response plain = call("POST", "/login", loginCookie, "form_token=" + loginToken + "&name=anna&password=s3cret-pass");
    ASSERT_EQ(plain.status, 303u);
    EXPECT_EQ(header(plain, "Location"), "/");
    std::string cookie;
    for (const auto& [key, value] : plain.headers) {
        if (key == "Set-Cookie" && value.rfind(kSessionCookie, 0) == 0) cookie = value;
    }
    EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos);
    EXPECT_NE(cookie.find("; Max-Age=28800"), std::string::npos);
    EXPECT_EQ(cookie.find("Secure"), std::string::npos);
    Response secure = call("POST", "/login", loginCookie, "form_token=" + loginToken + "&name=anna&password=s3cret-pass",
                           {}, true);
    bool secureCookie = false;
    for (const auto& [key, value] : secure.headers) {
        if (key == "Set-Cookie" && value.rfind(kSessionCookie, 0) == 0) secureCookie = value.find("; Secure") != std::string::npos;
    }
    EXPECT_TRUE(secureCookie);

    const std::string session = std::string(kSessionCookie) + "=" + setCookieValue(plain, kSessionCookie);
    Response fleetPage = call("GET", "/", session);
    ASSERT_EQ(fleetPage.status, 200u);
    EXPECT_NE(fleetPage.body.find("anna (viewer)"), std::string::npos);
    const std::string marker = "name=\"form_token\" value=\"";
    const std::size_t at = fleetPage.body.find(marker);
    ASSERT_NE(at, std::string::npos);
    const std::string formToken = fleetPage.body.substr(at + marker.size(), 64);

    EXPECT_EQ(call("POST", "/logout", session, "form_token=" + loginToken).status, 403u);
    EXPECT_EQ(call("GET", "/", session).status, 200u);
    Response out = call("POST", "/logout", session, "form_token=" + formToken);
    EXPECT_EQ(out.status, 303u);
    EXPECT_EQ(header(out, "Location"), "/login");
    EXPECT_EQ(call("GET", "/", session).status, 303u);
}

TEST_P(Console, RepeatedFailedSignInsAreAnsweredWithAWait) {
    Response form = call("GET", "/login");
    const std::string token = setCookieValue(form, kLoginCookie);
    const std::string cookie = std::string(kLoginCookie) + "=" + token;
    // Six wrong guesses: each either counts, doubling the wait from the third,
    // or is refused inside a wait; either way the wait has grown past what a
    // loaded machine takes between two requests.
    for (int i = 0; i < 6; ++i) call("POST", "/login", cookie, "form_token=" + token + "&name=anna&password=guess");
    Response slowed = call("POST", "/login", cookie, "form_token=" + token + "&name=anna&password=s3cret-pass");
    EXPECT_EQ(slowed.status, 429u);
    ASSERT_TRUE(slowed.retryAfterSeconds);
    EXPECT_GE(*slowed.retryAfterSeconds, 1);
}

TEST_P(Console, TheFleetIsSortedFilteredPagedAndGivenAsCsvAndJson) {
    std::vector<data::Report> reports;
    for (int i = 0; i < 150; ++i) reports.push_back(makeReport(i));
    addReports(reports);
    const std::string session = signIn();

    Response first = call("GET", "/", session);
    ASSERT_EQ(first.status, 200u);
    EXPECT_NE(first.body.find("150 machines"), std::string::npos);
    EXPECT_NE(first.body.find("Page 1 of 2"), std::string::npos);
    EXPECT_NE(first.body.find(">PC-0099<"), std::string::npos);
    EXPECT_EQ(first.body.find(">PC-0100<"), std::string::npos);
    Response second = call("GET", "/?page=2", session);
    EXPECT_NE(second.body.find(">PC-0149<"), std::string::npos);
    EXPECT_EQ(second.body.find(">PC-0099<"), std::string::npos);

    // RAM by value: 8192 MB + 2048 MB machines (index % 3 == 2) first when descending.
    auto machines = [&](const std::string& query) {
        Response answer = call("GET", "/api/v1/machines" + query, session);
        EXPECT_EQ(answer.status, 200u);
        return nlohmann::json::parse(answer.body);
    };
    auto byRam = machines("?sort=ram&order=desc");
    EXPECT_EQ(byRam["lines"][0]["ram-total"], "10240 MB");
    EXPECT_EQ(byRam["lines"][0]["name"], "PC-0002");
    EXPECT_EQ(machines("?sort=ram")["lines"][0]["ram-total"], "4096 MB");
    EXPECT_EQ(machines("?sort=name&order=desc")["lines"][0]["name"], "PC-0149");

    auto filtered = machines("?q=pc-012");
    EXPECT_EQ(filtered["machines"], 150);
    EXPECT_EQ(filtered["matching"], 10);
    EXPECT_EQ(filtered["lines"].size(), 10u);
    EXPECT_EQ(machines("?q=office%207001")["matching"], 50);

    Response csv = call("GET", "/?q=pc-012&sort=name&format=csv", session);
    EXPECT_EQ(csv.contentType, "text/csv; charset=utf-8");
    EXPECT_EQ(csv.body.substr(0, csv.body.find("\r\n")),
              "ID,Name,Host name,Maker / model,Serial,CPU,RAM total,Disks,Operating system,Programs,Last seen,"
              "Not seen for 30 days");
    EXPECT_EQ(std::count(csv.body.begin(), csv.body.end(), '\n'), 11);

    // Scripts use a token, never a password.
    auto inventory = openStore();
    auto token = fleet::createApiToken(inventory->connection(), fleet::Role::Viewer, "", "t");
    ASSERT_TRUE(token);
    Response scripted = call("GET", "/api/v1/machines?q=PC-0007", {}, {}, "Bearer " + *token);
    ASSERT_EQ(scripted.status, 200u);
    EXPECT_EQ(nlohmann::json::parse(scripted.body)["matching"], 1);
}

TEST_P(Console, WhatAMachineReportsStaysTextOnPagesAndInJson) {
    data::Report report = makeReport(1);
    const std::string longName(10000, 'N');
    report.name = "<script>alert('name')</script>";
    for (auto& section : report.sections) {
        for (auto& item : section.items) {
            for (auto& row : item.rows) {
                if (row.label == "Product") row.value = "\"><img src=x onerror=alert('model')>";
                if (section.title == "Operatingsystem" && row.label == "Name") row.value = "javascript:alert('os')";
                if (section.title == "CPU" && row.label == "Name") row.value = "</textarea><b>cpu</b>";
                // PostgreSQL refuses such bytes at the door; SQLite keeps them.
                if (row.label == "Model") row.value = postgres() ? "disk \xef\xbf\xbd end" : "disk \xff\xfe\xc3 end";
                if (section.title == "HDD" && row.label == "Size") row.value = longName;
            }
        }
    }
    addReports({report});
    const std::string session = signIn();
    for (std::string target : {"/", "/?q=%3Cscript%3E", "/?q=%22%3E%3Cimg"}) {
        Response page = call("GET", target, session);
        ASSERT_EQ(page.status, 200u) << target;
        EXPECT_EQ(page.body.find("<script"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("<img"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("</textarea>"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("<b>cpu"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("href=\"javascript:"), std::string::npos) << target;
    }
    Response page = call("GET", "/", session);
    EXPECT_NE(page.body.find("&lt;script&gt;alert(&#39;name&#39;)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.body.find("&quot;&gt;&lt;img src=x onerror=alert(&#39;model&#39;)&gt;"), std::string::npos);
    EXPECT_NE(page.body.find(longName), std::string::npos);
    // The filter's own echo is escaped too.
    Response echoed = call("GET", "/?q=%22%3E%3Cscript%3E", session);
    EXPECT_NE(echoed.body.find("value=\"&quot;&gt;&lt;script&gt;\""), std::string::npos);

    Response json = call("GET", "/api/v1/machines", session);
    ASSERT_EQ(json.status, 200u);
    auto parsed = nlohmann::json::parse(json.body);  // valid UTF-8 despite the disk's bytes
    EXPECT_EQ(parsed["lines"][0]["name"], "<script>alert('name')</script>");
    EXPECT_NE(parsed["lines"][0]["disks"].get<std::string>().find(longName), std::string::npos);
    EXPECT_NE(parsed["lines"][0]["disks"].get<std::string>().find("\xef\xbf\xbd"), std::string::npos);
    Response csv = call("GET", "/?format=csv", session);
    EXPECT_NE(csv.body.find("\"Norvane / \"\"><img"), std::string::npos);  // a CSV field, quoted
}

TEST_P(Console, AMachineShowsItsIdentityAndItsScansNewestFirst) {
    data::Report older = makeReport(7, 1);
    older.takenAt = "2026-11-01T08:00:00Z";
    data::Report newer = makeReport(7, 2);
    newer.takenAt = "2026-12-01T08:00:00Z";
    newer.comment = "<script>alert('comment')</script>";
    addReports({newer, older});
    const std::string session = signIn();
    auto list = nlohmann::json::parse(call("GET", "/api/v1/machines", session).body);
    ASSERT_EQ(list["lines"].size(), 1u);
    const std::string id = std::to_string(list["lines"][0]["id"].get<std::int64_t>());

    Response page = call("GET", "/machines/" + id, session);
    ASSERT_EQ(page.status, 200u);
    EXPECT_NE(page.body.find("<h1>PC-0007</h1>"), std::string::npos);
    EXPECT_NE(page.body.find("<td>name</td>"), std::string::npos);  // how the older scan was recognised
    EXPECT_EQ(page.body.find("<script>"), std::string::npos);
    EXPECT_NE(page.body.find("&lt;script&gt;alert(&#39;comment&#39;)"), std::string::npos);
    EXPECT_LT(page.body.find("2026-12-01"), page.body.find("2026-11-01"));

    auto machine = nlohmann::json::parse(call("GET", "/api/v1/machines/" + id, session).body);
    ASSERT_EQ(machine["scans"].size(), 2u);
    EXPECT_EQ(machine["scans"][0]["comment"], "<script>alert('comment')</script>");
    // The newer scan was loaded first and made the machine; the older one joined it by its name.
    EXPECT_EQ(machine["scans"][0]["matched-by"], "new");
    EXPECT_EQ(machine["scans"][1]["matched-by"], "name");

    for (const std::string& missing : {std::string("/machines/999"), std::string("/machines/abc"),
                                       std::string("/machines/1x"), std::string("/machines/-1")}) {
        EXPECT_EQ(call("GET", missing, session).status, 404u) << missing;
    }
    EXPECT_EQ(call("GET", "/api/v1/machines/999", session).status, 404u);
    EXPECT_EQ(call("GET", "/machines/" + id).status, 303u);
    EXPECT_EQ(call("GET", "/api/v1/machines/" + id).status, 401u);
}

INSTANTIATE_TEST_SUITE_P(Store, Console, ::testing::Values("sqlite", "postgresql"), store::testing::engineName);

}  // namespace
}  // namespace veltrix::server
