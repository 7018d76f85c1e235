// The console's pages and JSON, called as the transport calls them: who may
// see what, the sign-in and sign-out, the fleet list, and machine texts that
// must stay text.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <ctime>
#include <set>

#include "fleet/changes.h"
#include "fleet/console_users.h"
#include "fleet/fleet_list.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "route_call.h"
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

using testing::setCookieValue;

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
        return testing::callRoute(routes_, method, target, cookie, body, authorization, secure);
    }

    // Signs anna in; the session cookie header to send.
    std::string signIn() { return testing::signIn(routes_, "anna", "s3cret-pass"); }

    // What a signed-in GET of `target` answers in JSON; it must be a 200.
    nlohmann::json json(const std::string& target, const std::string& session) {
        Response answer = call("GET", target, session);
        EXPECT_EQ(answer.status, 200u) << target;
        return nlohmann::json::parse(answer.body);
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
    // The right password inside the wait opens no session.
    EXPECT_TRUE(setCookieValue(slowed, kSessionCookie).empty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_sessions"), 0);
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
    auto machines = [&](const std::string& query) { return json("/api/v1/machines" + query, session); };
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

// A filter that most of a large fleet matches is counted only as far as a
// page needs, while its stale machines are still counted among all matching.
TEST_P(Console, AFilterMostMachinesMatchIsCountedAsMoreThanAndStillPagesOn) {
    const std::time_t now = std::time(nullptr);
    auto isoTime = [](std::time_t when) {
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&when));
        return std::string(text);
    };
    std::vector<data::Report> reports;
    const std::size_t total = fleet::kFleetCounted + 10;
    for (std::size_t i = 0; i < total; ++i) {
        data::Report report = makeReport(static_cast<int>(i));
        // Three machines were last seen 40 days ago, one of them among PC-1000 to PC-1009.
        const bool stale = i == 5 || i == 500 || i == 1003;
        report.takenAt = isoTime(now - (stale ? 40 : 1) * 86400);
        reports.push_back(std::move(report));
    }
    addReports(reports);
    const std::string session = signIn();
    auto machines = [&](const std::string& query) { return json("/api/v1/machines" + query, session); };

    // Through the text index ("pc-") and without it ("pc"), alike.
    for (const std::string filter : {"pc-", "pc"}) {
        auto first = machines("?q=" + filter);
        EXPECT_EQ(first["machines"], total);
        EXPECT_EQ(first["matching"], fleet::kFleetCounted) << filter;
        EXPECT_EQ(first["more"], true) << filter;
        EXPECT_EQ(first["stale"], 3) << filter;
        EXPECT_EQ(first["lines"].size(), fleet::kFleetPageSize);
        EXPECT_EQ(first["lines"][0]["name"], "PC-0000");
    }
    // A page past the count counts on to it: the last page is then known.
    auto last = machines("?q=pc-&page=11");
    EXPECT_EQ(last["matching"], total);
    EXPECT_EQ(last["more"], false);
    EXPECT_EQ(last["page"], 11);
    EXPECT_EQ(last["pages"], 11);
    ASSERT_EQ(last["lines"].size(), 10u);
    EXPECT_EQ(last["lines"][0]["name"], "PC-1000");
    EXPECT_EQ(machines("?q=pc-&page=99")["page"], 11);
    EXPECT_EQ(machines("?q=pc-&page=18446744073709551615")["page"], 11);  // the largest page a size holds
    auto few = machines("?q=pc-100");
    EXPECT_EQ(few["matching"], 10);
    EXPECT_EQ(few["more"], false);
    EXPECT_EQ(few["stale"], 1);
    EXPECT_EQ(machines("")["stale"], 3);

    Response page = call("GET", "/?q=pc-", session);
    const std::string counted = std::to_string(fleet::kFleetCounted);
    EXPECT_NE(page.body.find(std::to_string(total) + " machines, more than " + counted + " matching, 3 not seen for 30 days"),
              std::string::npos);
    EXPECT_NE(page.body.find("Page 1 of more than 10 <a href=\"/?sort=name&amp;q=pc-&amp;page=2\">Next</a>"),
              std::string::npos);
    page = call("GET", "/?q=pc-&page=10", session);
    EXPECT_NE(page.body.find("Page 10 of more than 10 <a href=\"/?sort=name&amp;q=pc-&amp;page=9\">Previous</a> "
                             "<a href=\"/?sort=name&amp;q=pc-&amp;page=11\">Next</a>"),
              std::string::npos);
    page = call("GET", "/?q=pc-&page=11", session);
    EXPECT_NE(page.body.find(", " + std::to_string(total) + " matching"), std::string::npos);
    EXPECT_NE(page.body.find("Page 11 of 11 <a href=\"/?sort=name&amp;q=pc-&amp;page=10\">Previous</a></p>"),
              std::string::npos);
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

// One PC three times: as bought, with its second disk replaced, with 7-Zip
// upgraded; `last` is when the newest scan was taken.
std::vector<data::Report> repairedPc(const std::string& last) {
    data::Report bought = makeReport(5);
    bought.software = {{"7-Zip 23.01 (x64)", "23.01"}, {"Mozilla Firefox", "121.0"}};
    bought.takenAt = "2020-11-01T08:00:00Z";
    bought.comment = "bought";
    data::Report disk = bought;
    for (auto& item : disk.sections[5].items) {
        for (auto& row : item.rows) {
            if (row.value == "Samsung SSD 860 v0") row.value = "WD Blue SN580 1TB";
        }
    }
    disk.takenAt = "2021-11-15T08:00:00Z";
    disk.comment = "disk";
    data::Report upgraded = disk;
    upgraded.software[0] = {"7-Zip 24.08 (x64)", "24.08"};
    upgraded.takenAt = last;
    upgraded.comment = "upgraded";
    return {upgraded, bought, disk};  // out of order, as files may come
}

// Today at one second past midnight UTC, as a snapshot's taken-at.
std::string todayEarly() {
    std::time_t now = secondsNow();
    std::tm day{};
    gmtime_r(&now, &day);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT00:00:01Z", &day);
    return text;
}

constexpr const char* kUpgradeText = "7-Zip 23.01 (x64) 23.01 \xE2\x86\x92 7-Zip 24.08 (x64) 24.08";

TEST_P(Console, AMachinePageShowsEachScansChangesAndItsNewestReportInASandboxedFrame) {
    addReports(repairedPc("2026-12-01T08:00:00Z"));
    const std::string session = signIn();
    auto list = nlohmann::json::parse(call("GET", "/api/v1/machines", session).body);
    ASSERT_EQ(list["lines"].size(), 1u);
    const std::string id = std::to_string(list["lines"][0]["id"].get<std::int64_t>());
    auto machine = nlohmann::json::parse(call("GET", "/api/v1/machines/" + id, session).body);
    ASSERT_EQ(machine["scans"].size(), 3u);
    EXPECT_EQ(machine["scans"][0]["changes"],
              nlohmann::json::parse(std::string(R"([{"section": "Installed Software", "change": "upgraded", "what": ")") +
                                    kUpgradeText + R"(", "detail": ""}])"));
    EXPECT_EQ(machine["scans"][1]["changes"].size(), 2u);
    EXPECT_EQ(machine["scans"][1]["changes"][0]["change"], "removed");
    EXPECT_EQ(machine["scans"][1]["changes"][1]["what"], "disk1 [WD Blue SN580 1TB]");
    EXPECT_TRUE(machine["scans"][2]["changes"].empty());
    const std::string newest = std::to_string(machine["scans"][0]["id"].get<std::int64_t>());

    Response page = call("GET", "/machines/" + id, session);
    ASSERT_EQ(page.status, 200u);
    EXPECT_NE(page.body.find("<iframe class=\"report\" sandbox src=\"/reports/" + newest + "\""), std::string::npos);
    EXPECT_NE(page.body.find(std::string("<li><strong>Programs</strong> upgraded: ") + kUpgradeText + "</li>"),
              std::string::npos);
    EXPECT_NE(page.body.find("<li><strong>Disks</strong> removed: disk1 [Samsung SSD 860 v0]"), std::string::npos);
    EXPECT_NE(page.body.find("first scan"), std::string::npos);

    Response report = call("GET", "/reports/" + newest, session);
    ASSERT_EQ(report.status, 200u);
    EXPECT_EQ(report.contentType, "text/html; charset=windows-1252");
    const std::string policy = header(report, "Content-Security-Policy");
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos);
    EXPECT_NE(policy.find("; sandbox"), std::string::npos);
    EXPECT_EQ(policy.find("script-src"), std::string::npos);
    EXPECT_NE(report.body.find("Designation: PC-0005"), std::string::npos);
    EXPECT_NE(report.body.find("7-Zip 24.08 (x64)"), std::string::npos);
    EXPECT_NE(report.body.find("WD Blue SN580 1TB"), std::string::npos);
    for (const std::string& missing : {std::string("/reports/999"), std::string("/reports/x"), std::string("/reports/-1")}) {
        EXPECT_EQ(call("GET", missing, session).status, 404u) << missing;
    }
    EXPECT_EQ(call("GET", "/reports/" + newest).status, 303u);
}

TEST(ChangePeriods, StartAtTheDayTheMondayTheFirstOfTheMonthAndOfTheYear) {
    auto at = [](int year, int month, int day) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = 15;
        return timegm(&t);
    };
    EXPECT_EQ(fleet::periodStart("today", at(2026, 12, 9)), "2026-12-09");
    EXPECT_EQ(fleet::periodStart("week", at(2026, 12, 9)), "2026-12-07");   // a Wednesday
    EXPECT_EQ(fleet::periodStart("week", at(2026, 12, 13)), "2026-12-07");  // a Sunday
    EXPECT_EQ(fleet::periodStart("week", at(2026, 12, 2)), "2026-11-30");   // back into November
    EXPECT_EQ(fleet::periodStart("week", at(2029, 1, 1)), "2029-01-01");    // a Monday
    EXPECT_EQ(fleet::periodStart("month", at(2026, 12, 9)), "2026-12-01");
    EXPECT_EQ(fleet::periodStart("year", at(2026, 12, 9)), "2026-01-01");
    EXPECT_EQ(fleet::periodStart("", at(2026, 12, 9)), "");
}

TEST_P(Console, TheFleetsChangesAreFilteredBySectionChangeAndTimePagedAndGivenAsCsvAndJson) {
    std::vector<data::Report> reports = repairedPc(todayEarly());
    // Another PC that got 150 programs at once, today.
    data::Report bare = makeReport(9);
    bare.takenAt = "2021-01-01T08:00:00Z";
    data::Report full = bare;
    full.takenAt = todayEarly();
    for (int i = 0; i < 150; ++i) full.software.push_back({"Tool " + std::to_string(1000 + i), "1.0"});
    reports.push_back(bare);
    reports.push_back(full);
    addReports(reports);
    const std::string session = signIn();
    auto changes = [&](const std::string& query) { return json("/api/v1/changes" + query, session); };
    auto all = changes("");
    EXPECT_EQ(all["matching"], 153);
    EXPECT_EQ(all["pages"], 2);
    EXPECT_EQ(all["lines"].size(), 100u);
    EXPECT_EQ(changes("?page=2")["lines"].size(), 53u);

    auto disks = changes("?section=disks");
    ASSERT_EQ(disks["matching"], 2);
    EXPECT_EQ(disks["lines"][0]["machine"], "PC-0005");
    EXPECT_EQ(disks["lines"][0]["section-title"], "Disks");
    EXPECT_EQ(disks["lines"][0]["taken"], "2021-11-15 08:00:00");
    // The disk was replaced in 2021: not this year, not this month.
    EXPECT_EQ(changes("?section=disks&when=year")["matching"], 0);
    EXPECT_EQ(changes("?section=hardware")["matching"], 2);
    auto upgrades = changes("?section=programs&change=upgraded&when=week");
    ASSERT_EQ(upgrades["matching"], 1);
    EXPECT_EQ(upgrades["lines"][0]["what"], kUpgradeText);
    EXPECT_EQ(upgrades["lines"][0]["section"], "Installed Software");
    EXPECT_EQ(changes("?change=installed&when=today")["matching"], 150);
    EXPECT_EQ(changes("?change=installed&section=disks")["matching"], 0);
    // Unknown filters are no filters, and are not echoed.
    auto unknown = changes("?section=%3Cscript%3E&change=x&when=never");
    EXPECT_EQ(unknown["matching"], 153);
    EXPECT_EQ(unknown["section"], "");

    Response page = call("GET", "/changes?section=programs&change=upgraded", session);
    ASSERT_EQ(page.status, 200u);
    EXPECT_NE(page.body.find("<p class=\"counts\">1 change</p>"), std::string::npos);
    EXPECT_NE(page.body.find("<option value=\"programs\" selected>Programs</option>"), std::string::npos);
    EXPECT_NE(page.body.find("<label for=\"when\">When</label>"), std::string::npos);
    const std::string machineId = std::to_string(upgrades["lines"][0]["machine-id"].get<std::int64_t>());
    EXPECT_NE(page.body.find("<a class=\"name\" href=\"/machines/" + machineId + "\">PC-0005</a>"), std::string::npos);
    EXPECT_NE(page.body.find("href=\"/changes?section=programs&amp;change=upgraded&amp;format=csv\""), std::string::npos);
    Response paged = call("GET", "/changes", session);
    EXPECT_NE(paged.body.find("Page 1 of 2 <a href=\"/changes?page=2\">Next</a>"), std::string::npos);

    Response csv = call("GET", "/changes?section=disks&format=csv", session);
    EXPECT_EQ(csv.contentType, "text/csv; charset=utf-8");
    EXPECT_EQ(csv.body.substr(0, csv.body.find("\r\n")), "Taken,Machine ID,Machine,Section,Change,What,Detail");
    EXPECT_EQ(std::count(csv.body.begin(), csv.body.end(), '\n'), 3);
    EXPECT_NE(csv.body.find(",Disks,added,disk1 [WD Blue SN580 1TB],"), std::string::npos);

    auto inventory = openStore();
    auto token = fleet::createApiToken(inventory->connection(), fleet::Role::Viewer, "", "t");
    ASSERT_TRUE(token);
    EXPECT_EQ(call("GET", "/api/v1/changes?section=disks", {}, {}, "Bearer " + *token).status, 200u);
    EXPECT_EQ(call("GET", "/api/v1/changes").status, 401u);
    EXPECT_EQ(call("GET", "/changes").status, 303u);
}

TEST_P(Console, WhatChangedOnAMachineStaysTextOnEveryNewPageAndInJson) {
    const std::string longName(10000, 'P');
    const std::string invalid = postgres() ? "tool \xef\xbf\xbd end" : "tool \xff\xfe\xc3 end";
    data::Report before = makeReport(4);
    before.takenAt = "2026-11-01T08:00:00Z";
    before.software = {{"<script>alert('old')</script>", "1"}};
    before.machine.enclosureSerial = "NRV-7731-0666";  // one machine under two names
    data::Report after = before;
    after.takenAt = "2026-12-01T08:00:00Z";
    after.name = "\"><img src=x onerror=alert('name')>";
    after.software = {{"<script>alert('old')</script>", "2"},
                      {"javascript:alert('program')", "1"},
                      {"</textarea><b>tool</b>", "1"},
                      {longName, "1"},
                      {invalid, "1"}};
    for (auto& item : after.sections[5].items) {
        for (auto& row : item.rows) {
            if (row.label == "Model") row.value = "\"><img src=x onerror=alert('disk')>";
        }
    }
    addReports({before, after});
    const std::string session = signIn();
    auto list = nlohmann::json::parse(call("GET", "/api/v1/machines", session).body);
    const std::string id = std::to_string(list["lines"][0]["id"].get<std::int64_t>());
    auto machine = nlohmann::json::parse(call("GET", "/api/v1/machines/" + id, session).body);
    const std::string newest = std::to_string(machine["scans"][0]["id"].get<std::int64_t>());
    for (const std::string& target :
         std::vector<std::string>{"/changes", "/changes?section=programs", "/machines/" + id, "/reports/" + newest}) {
        Response page = call("GET", target, session);
        ASSERT_EQ(page.status, 200u) << target;
        EXPECT_EQ(page.body.find("<script"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("<img"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("</textarea>"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("<b>tool"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("href=\"javascript:"), std::string::npos) << target;
        EXPECT_NE(page.body.find("&lt;script&gt;alert(&#39;old&#39;)"), std::string::npos) << target;
        EXPECT_NE(page.body.find(longName), std::string::npos) << target;
    }
    EXPECT_NE(call("GET", "/changes", session).body.find("&quot;&gt;&lt;img src=x onerror=alert(&#39;name&#39;)&gt;"),
              std::string::npos);

    Response json = call("GET", "/api/v1/changes", session);
    auto parsed = nlohmann::json::parse(json.body);  // valid UTF-8 despite the tool's bytes
    std::set<std::string> what;
    for (const auto& line : parsed["lines"]) what.insert(line["what"].get<std::string>());
    EXPECT_TRUE(what.count("<script>alert('old')</script> 1 \xE2\x86\x92 <script>alert('old')</script> 2"));
    EXPECT_TRUE(what.count("javascript:alert('program')"));
    EXPECT_TRUE(what.count(longName));
    EXPECT_EQ(parsed["lines"][0]["machine"], "\"><img src=x onerror=alert('name')>");
    EXPECT_TRUE(nlohmann::json::parse(call("GET", "/changes?format=json", session).body).is_object());
    EXPECT_NE(call("GET", "/changes?format=csv", session).body.find("\"\"\"><img src=x onerror=alert('name')>\""),
              std::string::npos);  // a CSV field, quoted
}

INSTANTIATE_TEST_SUITE_P(Store, Console, ::testing::Values("sqlite", "postgresql"), store::testing::engineName);

}  // namespace
}  // namespace veltrix::server
