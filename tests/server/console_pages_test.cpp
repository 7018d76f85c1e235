// Search, the dashboard and administration, called as the transport calls
// them: what each finds and counts, who may change what, and machine texts
// that stay text in every page, SVG, CSV and JSON answer.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "fleet/console_users.h"
#include "fleet/enrolment.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "route_call.h"
#include "store/store_fixture.h"

namespace veltrix::server {
namespace {

using store::testing::makeReport;
using store::testing::StoreTest;

using testing::setCookieValue;

std::string formTokenIn(const std::string& page) {
    const std::string marker = "name=\"form_token\" value=\"";
    const std::size_t at = page.find(marker);
    return at == std::string::npos ? std::string() : page.substr(at + marker.size(), 64);
}

class ConsolePages : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped()) return;
        auto inventory = openStore();
        ASSERT_TRUE(inventory);
        ASSERT_TRUE(fleet::addUser(inventory->connection(), "anna", fleet::Role::Viewer, "s3cret-pass", "t"));
        ASSERT_TRUE(fleet::addUser(inventory->connection(), "root", fleet::Role::Admin, "r00t-pass!", "t"));
        stores_ = std::make_unique<StorePool>(target_);
        routes_ = consoleRoutes(*stores_);
    }

    Response call(const std::string& method, const std::string& target, const std::string& cookie = {},
                  const std::string& body = {}, const std::string& authorization = {}) {
        return testing::callRoute(routes_, method, target, cookie, body, authorization);
    }

    // A session cookie, and its form token in `formToken`.
    std::string signIn(const std::string& name, const std::string& password, std::string* formToken = nullptr) {
        const std::string session = testing::signIn(routes_, name, password);
        if (formToken) *formToken = formTokenIn(call("GET", "/", session).body);
        return session;
    }

    nlohmann::json json(const std::string& target, const std::string& session) {
        Response answer = call("GET", target, session);
        EXPECT_EQ(answer.status, 200u) << target << ": " << answer.body;
        return nlohmann::json::parse(answer.body);
    }

    void addReports(const std::vector<data::Report>& reports) {
        auto inventory = openStore();
        addAll(*inventory, reports);
    }

    std::unique_ptr<StorePool> stores_;
    std::vector<Route> routes_;
};

// makeReport(i): RAM 4096, 6144 or 10240 MB by i % 3; disks 932 + 477 GB;
// "Office 700(i % 3)"; programs "Program 0" .. "Program (2 + i % 4)".
TEST_P(ConsolePages, SearchFindsProgramsAndMachinesByTheirFiguresWithTheSameFiltersInCsvAndJson) {
    std::vector<data::Report> reports;
    for (int i = 0; i < 12; ++i) reports.push_back(makeReport(i));
    reports[5].software.push_back({"7-Zip 24.08 (x64)", "24.08"});
    reports[7].software.push_back({"7-Zip 23.01 (x64)", "23.01"});
    reports[9].software.push_back({"100% Orange_Juice", "2"});  // LIKE's own characters
    reports[9].software.push_back({"100x OrangeXJuice", "2"});
    addReports(reports);
    const std::string session = signIn("anna", "s3cret-pass");

    auto sevenZip = json("/api/v1/search?program=7-zip", session);
    ASSERT_EQ(sevenZip["matching"], 2);
    EXPECT_EQ(sevenZip["machines"][0]["name"], "PC-0005");
    EXPECT_EQ(sevenZip["machines"][0]["programs"][0]["version"], "24.08");
    EXPECT_EQ(sevenZip["machines"][0]["ram-mb"], 10240);  // figures read for the page's machines
    EXPECT_EQ(json("/api/v1/search?program=7-zip&version=23", session)["machines"][0]["name"], "PC-0007");
    EXPECT_EQ(json("/api/v1/search?program=%25%20orange_", session)["matching"], 1);
    // Only the newest scan counts: PC-0005's later scan has no 7-Zip.
    addReports({makeReport(5, 1)});
    EXPECT_EQ(json("/api/v1/search?program=7-zip", session)["matching"], 1);

    EXPECT_EQ(json("/api/v1/search?ram-min=10", session)["matching"], 4);  // 2, 5, 8, 11
    EXPECT_EQ(json("/api/v1/search?ram-min=5&ram-max=6", session)["matching"], 4);
    EXPECT_EQ(json("/api/v1/search?disk-min=1409&disk-max=1409", session)["matching"], 12);
    EXPECT_EQ(json("/api/v1/search?disk-max=1408", session)["matching"], 0);
    EXPECT_EQ(json("/api/v1/search?model=norvane%20/%20office%207001", session)["matching"], 4);
    // "Program 5" on PC-0003, -0007 and -0011; only PC-0003 has 4 GB.
    EXPECT_EQ(json("/api/v1/search?os=windows%2010&ram-max=4&program=program%205", session)["matching"], 1);
    EXPECT_EQ(json("/api/v1/search", session)["matching"], 0);  // nothing asked, nothing listed
    EXPECT_EQ(call("GET", "/api/v1/search?ram-min=lots", session).status, 400u);

    Response page = call("GET", "/search?program=7-zip&ram-min=x", session);
    ASSERT_EQ(page.status, 200u);
    EXPECT_NE(page.body.find("1 machines found"), std::string::npos);
    EXPECT_NE(page.body.find("ram-min is not a whole number"), std::string::npos);
    EXPECT_NE(page.body.find("<label for=\"program\">"), std::string::npos);
    EXPECT_NE(page.body.find("value=\"7-zip\""), std::string::npos);
    const std::string id = std::to_string(json("/api/v1/search?program=7-zip", session)["machines"][0]["id"].get<int>());
    EXPECT_NE(page.body.find("<a href=\"/machines/" + id + "\">PC-0007</a>"), std::string::npos);
    EXPECT_NE(page.body.find("href=\"/search?program=7-zip&amp;ram-min=x&amp;format=csv\""), std::string::npos);
    Response csv = call("GET", "/search?model=office%207002&format=csv", session);
    EXPECT_EQ(csv.contentType, "text/csv; charset=utf-8");
    EXPECT_EQ(csv.body.substr(0, csv.body.find("\r\n")),
              "ID,Name,Host name,Maker / model,RAM total,Disks,Operating system,Last seen,Programs");
    EXPECT_EQ(std::count(csv.body.begin(), csv.body.end(), '\n'), 5);
    EXPECT_NE(csv.body.find(",PC-0002,,Norvane / Office 7002,10240 MB,1409 GB,Microsoft Windows 10 Pro,"),
              std::string::npos);
    EXPECT_EQ(call("GET", "/api/v1/search?program=7").status, 401u);
    EXPECT_EQ(call("GET", "/search?program=7").status, 303u);
}

TEST_P(ConsolePages, TheDashboardCountsTheFleetAndDrawsItAsSvgWithATableOfTheSameFigures) {
    std::vector<data::Report> reports;
    for (int i = 0; i < 6; ++i) reports.push_back(makeReport(i));
    reports[4].takenAt = "2026-01-01T08:00:00Z";
    addReports(reports);
    const std::string session = signIn("anna", "s3cret-pass");
    auto dashboard = json("/api/v1/dashboard", session);
    EXPECT_EQ(dashboard["machines"], 6);
    std::map<std::string, nlohmann::json> charts;
    for (const auto& chart : dashboard["charts"]) charts[chart["key"]] = chart["bars"];
    ASSERT_EQ(charts.size(), 5u);
    EXPECT_EQ(charts["os"][0]["label"], "Microsoft Windows 10 Pro");
    EXPECT_EQ(charts["os"][0]["machines"], 6);
    EXPECT_EQ(charts["model"].size(), 3u);
    EXPECT_EQ(charts["model"][0]["machines"], 2);
    // 4096 MB is 4 GB, 6144 MB 6 GB, 10240 MB 10 GB.
    auto counts = [](const nlohmann::json& bars) {
        std::map<std::string, int> byLabel;
        for (const auto& bar : bars) byLabel[bar["label"]] = bar["machines"];
        return byLabel;
    };
    EXPECT_EQ(counts(charts["ram"])["4 to 7 GB"], 4);
    EXPECT_EQ(counts(charts["ram"])["8 to 15 GB"], 2);
    EXPECT_EQ(counts(charts["disk"])["1 to 2 TB"], 6);
    auto seen = counts(charts["seen"]);
    int total = 0;
    for (const auto& [label, n] : seen) total += n;
    EXPECT_EQ(total, 6);
    EXPECT_GE(seen["more than a year ago"] + seen["within a year"], 1);  // the January scan

    Response page = call("GET", "/dashboard", session);
    ASSERT_EQ(page.status, 200u);
    std::size_t svgs = 0;
    for (std::size_t at = page.body.find("<svg"); at != std::string::npos; at = page.body.find("<svg", at + 1)) ++svgs;
    EXPECT_EQ(svgs, 5u);
    EXPECT_NE(page.body.find("role=\"img\" aria-labelledby=\"chart-os-title\""), std::string::npos);
    EXPECT_NE(page.body.find("<caption>RAM</caption>"), std::string::npos);
    EXPECT_NE(page.body.find("<a href=\"/search?ram-min=8&amp;ram-max=15\">8 to 15 GB</a>"), std::string::npos);
    EXPECT_EQ(page.body.find("<script"), std::string::npos);
    Response csv = call("GET", "/dashboard?format=csv", session);
    EXPECT_NE(csv.body.find("RAM,8 to 15 GB,2\r\n"), std::string::npos);
}

TEST_P(ConsolePages, AViewerReachesNoAdminPageOrActionAndNothingIsChanged) {
    std::string formToken;
    const std::string session = signIn("anna", "s3cret-pass", &formToken);
    ASSERT_EQ(formToken.size(), 64u);
    auto inventory = openStore();
    auto token = fleet::createApiToken(inventory->connection(), fleet::Role::Viewer, "", "t");
    ASSERT_TRUE(token);
    auto secret = fleet::createSecret(inventory->connection(), "kept", "t");
    ASSERT_TRUE(secret);
    const std::string bearer = "Bearer " + *token;
    EXPECT_EQ(call("GET", "/admin", session).status, 403u);
    EXPECT_EQ(call("GET", "/admin?format=csv&table=users", session).status, 403u);
    EXPECT_EQ(call("GET", "/api/v1/admin", {}, {}, bearer).status, 403u);
    EXPECT_EQ(call("GET", "/", session).body.find("href=\"/admin\""), std::string::npos);
    const std::string id = std::to_string(secret->id);
    for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
             {"/secrets", "note=x"}, {"/secrets/revoke", "id=" + id}, {"/hosts/revoke", "id=1"},
             {"/users", "name=mallory&role=admin&password=longenough"}, {"/users/remove", "name=root"}}) {
        EXPECT_EQ(call("POST", "/admin" + path, session, "form_token=" + formToken + "&" + body).status, 403u) << path;
        EXPECT_EQ(call("POST", "/api/v1/admin" + path, {}, body, bearer).status, 403u) << path;
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM enrolment_secrets"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM enrolment_secrets WHERE revoked_at IS NOT NULL"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_users"), 2);
    EXPECT_EQ(call("GET", "/admin").status, 303u);
    EXPECT_EQ(call("POST", "/api/v1/admin/secrets", {}, "note=x").status, 401u);
}

TEST_P(ConsolePages, AnAdminManagesSecretsHostsAndUsersWithTheFormTokenAndSeesTheClones) {
    std::string formToken;
    const std::string session = signIn("root", "r00t-pass!", &formToken);
    ASSERT_EQ(formToken.size(), 64u);
    // Without the session's form token nothing changes.
    EXPECT_EQ(call("POST", "/admin/secrets", session, "note=x").status, 403u);
    EXPECT_EQ(call("POST", "/admin/secrets", session, "form_token=" + std::string(64, '0') + "&note=x").status, 403u);
    EXPECT_EQ(count("SELECT COUNT(*) FROM enrolment_secrets"), 0);

    Response made = call("POST", "/admin/secrets", session, "form_token=" + formToken + "&note=office%20%3Cb%3E");
    ASSERT_EQ(made.status, 200u);
    const std::string marker = "id=\"new-secret\" readonly size=\"66\" value=\"";
    const std::size_t at = made.body.find(marker);
    ASSERT_NE(at, std::string::npos);
    const std::string secret = made.body.substr(at + marker.size(), 64);
    EXPECT_NE(made.body.find("office &lt;b&gt;"), std::string::npos);
    // Shown once: neither the page afterwards nor the store holds it.
    Response admin = call("GET", "/admin", session);
    ASSERT_EQ(admin.status, 200u);
    EXPECT_EQ(admin.body.find(secret), std::string::npos);
    EXPECT_EQ(count("SELECT COUNT(*) FROM enrolment_secrets WHERE secret_hash = '" + secret + "' OR note LIKE '%" +
                    secret + "%'"),
              0);

    auto inventory = openStore();
    MachineIdentity machine;
    machine.hostName = "ws-1";
    auto enrolled = fleet::enrolHost(inventory->connection(), secret, machine, "t");
    ASSERT_TRUE(enrolled) << enrolled.failure().description;
    auto tables = json("/admin?format=json", session);
    ASSERT_EQ(tables["secrets"].size(), 1u);
    EXPECT_EQ(tables["secrets"][0]["hosts"], 1);
    ASSERT_EQ(tables["hosts"].size(), 1u);
    const std::string secretId = std::to_string(tables["secrets"][0]["id"].get<int>());
    const std::string hostId = std::to_string(tables["hosts"][0]["id"].get<int>());

    auto posted = [&](const std::string& path, const std::string& body) {
        return call("POST", path, session, "form_token=" + formToken + "&" + body);
    };
    EXPECT_EQ(posted("/admin/secrets/revoke", "id=" + secretId).status, 303u);
    EXPECT_EQ(posted("/admin/hosts/revoke", "id=" + hostId).status, 303u);
    EXPECT_EQ(posted("/admin/hosts/revoke", "id=999").status, 404u);
    EXPECT_EQ(posted("/admin/secrets/revoke", "id=abc").status, 400u);
    EXPECT_EQ(count("SELECT COUNT(*) FROM enrolment_secrets WHERE revoked_at IS NOT NULL"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM hosts WHERE revoked_at IS NOT NULL"), 1);
    EXPECT_EQ(call("POST", "/admin/secrets", session, "form_token=" + formToken + "&note=" + std::string(201, 'n')).status,
              400u);

    EXPECT_EQ(posted("/admin/users", "name=bert&role=viewer&password=bert-pass-1").status, 303u);
    EXPECT_EQ(posted("/admin/users", "name=bert&role=viewer&password=bert-pass-1").status, 409u);
    EXPECT_EQ(posted("/admin/users", "name=carl&role=owner&password=carl-pass-1").status, 400u);
    EXPECT_EQ(posted("/admin/users", "name=carl&role=viewer&password=short").status, 400u);
    const std::string bert = signIn("bert", "bert-pass-1");
    EXPECT_EQ(call("GET", "/search", bert).status, 200u);
    EXPECT_EQ(posted("/admin/users/remove", "name=bert").status, 303u);
    EXPECT_EQ(call("GET", "/search", bert).status, 303u);  // the removed user's session ended
    EXPECT_EQ(posted("/admin/users/remove", "name=root").status, 409u);
    EXPECT_EQ(count("SELECT COUNT(*) FROM console_users"), 2);

    // Scripts with an admin token need no form token; the secret is in the answer.
    auto adminToken = fleet::createApiToken(inventory->connection(), fleet::Role::Admin, "", "t");
    ASSERT_TRUE(adminToken);
    Response scripted = call("POST", "/api/v1/admin/secrets", {}, "note=script", "Bearer " + *adminToken);
    EXPECT_EQ(scripted.status, 201u);
    EXPECT_EQ(nlohmann::json::parse(scripted.body)["secret"].get<std::string>().size(), 64u);

    // Two clones of one virtual machine: one UUID, two serials.
    data::Report a = makeReport(1), b = makeReport(2);
    a.machine.uuid = b.machine.uuid = "4c4c4544-0038-3510-8052-b3c04f4d4a32";
    a.machine.enclosureSerial = "VM-A";
    b.machine.enclosureSerial = "VM-B";
    addReports({a, b});
    auto clones = json("/api/v1/admin", session)["possible-clones"];
    ASSERT_EQ(clones.size(), 1u);
    EXPECT_EQ(clones[0]["name"], "PC-0001");
    EXPECT_EQ(clones[0]["other-serial"], "VM-B");
    Response page = call("GET", "/admin", session);
    EXPECT_NE(page.body.find("<label for=\"user-role\">"), std::string::npos);
    EXPECT_NE(page.body.find(">PC-0002</a>"), std::string::npos);
    Response csv = call("GET", "/admin?format=csv&table=clones", session);
    EXPECT_NE(csv.body.find(",VM-A,"), std::string::npos);
    EXPECT_EQ(call("GET", "/admin?format=csv&table=keys", session).status, 404u);
}

TEST_P(ConsolePages, WhatAMachineReportsStaysTextInSearchDashboardAndAdmin) {
    data::Report report = makeReport(1);
    const std::string longName(10000, 'N');
    report.name = "<script>alert('name')</script>";
    report.machine.uuid = "4c4c4544-0038-3510-8052-b3c04f4d4a32";
    report.machine.enclosureSerial = "\"><img src=x onerror=alert('serial')>";
    for (auto& section : report.sections) {
        for (auto& item : section.items) {
            for (auto& row : item.rows) {
                if (row.label == "Product") row.value = "\"><img src=x onerror=alert('model')>";
                if (section.title == "Operatingsystem" && row.label == "Name") row.value = "javascript:alert('os')";
                if (section.title == "Motherboard" && row.label == "Manufacturer (System)") {
                    row.value = postgres() ? "maker \xef\xbf\xbd" : "maker \xff\xfe\xc3";
                }
            }
        }
    }
    report.software = {{"</textarea><script>alert(1)</script>", longName}, {"javascript:alert('program')", "1"}};
    data::Report clone = makeReport(2);
    clone.name = longName;
    clone.machine.uuid = report.machine.uuid;
    clone.machine.enclosureSerial = "other";
    addReports({report, clone});
    const std::string session = signIn("root", "r00t-pass!");
    for (std::string target : {"/search?program=a", "/search?program=%3C%2Ftextarea%3E%3Cscript%3E",
                               "/search?os=javascript", "/search?model=%22%3E%3Cimg", "/dashboard", "/admin"}) {
        Response page = call("GET", target, session);
        ASSERT_EQ(page.status, 200u) << target;
        EXPECT_EQ(page.body.find("<script"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("<img"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("</textarea>"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("href=\"javascript:"), std::string::npos) << target;
        EXPECT_EQ(page.body.find("maker \xff"), std::string::npos) << target;  // never the bytes as sent
    }
    Response found = call("GET", "/search?program=textarea", session);
    EXPECT_NE(found.body.find("&lt;/textarea&gt;&lt;script&gt;alert(1)&lt;/script&gt; " + longName), std::string::npos);
    Response echoed = call("GET", "/search?os=%22%3E%3Cscript%3E", session);
    EXPECT_NE(echoed.body.find("value=\"&quot;&gt;&lt;script&gt;\""), std::string::npos);
    // A bar's label is SVG text; its search link is URL-encoded, then escaped.
    Response dashboard = call("GET", "/dashboard", session);
    EXPECT_NE(dashboard.body.find("&quot;&gt;&lt;img src=x onerror=alert(&#39;model&#39;)&gt;"), std::string::npos);
    EXPECT_NE(dashboard.body.find("href=\"/search?os=javascript%3Aalert%28%27os%27%29\""), std::string::npos);
    Response admin = call("GET", "/admin", session);
    EXPECT_NE(admin.body.find("&lt;script&gt;alert(&#39;name&#39;)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(admin.body.find(longName), std::string::npos);

    // A search in bytes that are not UTF-8 finds nothing; it does not fail.
    for (std::string target : {"/api/v1/search?program=a", "/api/v1/search?program=%FF%FE&os=%C3", "/api/v1/dashboard",
                               "/api/v1/admin"}) {
        Response answer = call("GET", target, session);
        ASSERT_EQ(answer.status, 200u) << target;
        EXPECT_TRUE(nlohmann::json::accept(answer.body)) << target;  // valid UTF-8
    }
    auto hits = nlohmann::json::parse(call("GET", "/api/v1/search?program=textarea", session).body);
    EXPECT_EQ(hits["machines"][0]["name"], "<script>alert('name')</script>");
    EXPECT_EQ(hits["machines"][0]["programs"][0]["version"], longName);
    // Forms in bytes that are not UTF-8 are refused or done, never a store failure.
    std::string formToken = formTokenIn(admin.body);
    EXPECT_EQ(call("POST", "/admin/users/remove", session, "form_token=" + formToken + "&name=%FF").status, 404u);
    EXPECT_EQ(call("POST", "/admin/secrets", session, "form_token=" + formToken + "&note=%FF%C3").status, 200u);
    const std::string login = setCookieValue(call("GET", "/login"), kLoginCookie);
    EXPECT_EQ(call("POST", "/login", std::string(kLoginCookie) + "=" + login,
                   "form_token=" + login + "&name=%FF&password=whatever1")
                  .status,
              401u);
    Response csv = call("GET", "/search?program=javascript&format=csv", session);
    EXPECT_NE(csv.body.find("javascript:alert('program') 1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Store, ConsolePages, ::testing::Values("sqlite", "postgresql"), store::testing::engineName);

}  // namespace
}  // namespace veltrix::server
