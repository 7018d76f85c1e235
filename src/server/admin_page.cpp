// Administration: enrolment secrets (create, revoke), enrolled hosts
// (revoke), console users (add, remove) and the machines flagged as possible
// clones. Only administrators reach any of it; every change is a POST that
// carries the session's form token (an API token posts none: it is sent by a
// script, never by a browser on another site's behalf). A new secret is
// shown once, in the answer to the post that made it, and never logged.
#include <charconv>

#include <openssl/crypto.h>

#include <nlohmann/json.hpp>

#include "data/report_export.h"
#include "fleet/enrolment.h"
#include "fleet/fleet_failure.h"
#include "fleet/machine_flags.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/csv_answer.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

constexpr std::size_t kNoteLimit = 200;
constexpr std::size_t kFormLimit = 8 * 1024;

struct AdminTables {
    std::vector<fleet::SecretLine> secrets;
    std::vector<fleet::HostLine> hosts;
    std::vector<fleet::UserLine> users;
    std::vector<fleet::FlaggedPair> clones;
};

Result<AdminTables> readTables(store::SqlConnection& connection) {
    AdminTables tables;
    auto secrets = fleet::listSecrets(connection);
    if (!secrets) return secrets.failure();
    auto hosts = fleet::listHosts(connection);
    if (!hosts) return hosts.failure();
    auto users = fleet::listUsers(connection);
    if (!users) return users.failure();
    auto clones = fleet::listFlaggedMachines(connection);
    if (!clones) return clones.failure();
    return AdminTables{std::move(*secrets), std::move(*hosts), std::move(*users), std::move(*clones)};
}

std::string orEmpty(const std::optional<std::string>& text) { return text.value_or(""); }

std::string hidden(const fleet::Viewer& viewer) {
    return "<input type=\"hidden\" name=\"form_token\" value=\"" + escape(viewer.formToken) + "\">";
}

// A one-button form that posts `field=value` to `action`.
std::string buttonForm(const fleet::Viewer& viewer, std::string_view action, std::string_view field,
                       std::string_view value, std::string_view label) {
    return "<form method=\"post\" action=\"" + std::string(action) + "\" class=\"inline\">" + hidden(viewer) +
           "<input type=\"hidden\" name=\"" + std::string(field) + "\" value=\"" + escape(value) +
           "\"><button type=\"submit\">" + escape(label) + "</button></form>";
}

std::string machineLink(std::int64_t id, const std::string& name) {
    return "<a href=\"/machines/" + std::to_string(id) + "\">" + (name.empty() ? "(no name)" : escape(name)) + "</a>";
}

std::string pageOf(const AdminTables& t, const fleet::Viewer& viewer, std::string_view notice) {
    std::string c(notice);
    c += "<p>Each table as CSV: <a href=\"/admin?format=csv&amp;table=secrets\">secrets</a>, "
         "<a href=\"/admin?format=csv&amp;table=hosts\">hosts</a>, <a href=\"/admin?format=csv&amp;table=users\">users</a>, "
         "<a href=\"/admin?format=csv&amp;table=clones\">possible clones</a>; all as "
         "<a href=\"/admin?format=json\">JSON</a>.</p>\n";

    c += "<section aria-labelledby=\"secrets\"><h2 id=\"secrets\">Enrolment secrets</h2>\n"
         "<form method=\"post\" action=\"/admin/secrets\">" + hidden(viewer) +
         "<label for=\"note\">Note for a new secret (where it will be used)</label>"
         "<input id=\"note\" name=\"note\" maxlength=\"200\"> <button type=\"submit\">Create a secret</button></form>\n"
         "<table><thead><tr><th scope=\"col\">ID</th><th scope=\"col\">Note</th><th scope=\"col\">Created</th>"
         "<th scope=\"col\">Hosts enrolled</th><th scope=\"col\">Revoked</th></tr></thead><tbody>\n";
    for (const auto& s : t.secrets) {
        c += "<tr><td>" + std::to_string(s.id) + "</td><td>" + escape(s.note) + "</td><td>" + escape(s.createdAt) +
             "</td><td>" + std::to_string(s.hosts) + "</td><td>" +
             (s.revokedAt ? escape(*s.revokedAt)
                          : buttonForm(viewer, "/admin/secrets/revoke", "id", std::to_string(s.id),
                                       "Revoke secret " + std::to_string(s.id))) +
             "</td></tr>\n";
    }
    if (t.secrets.empty()) c += "<tr><td colspan=\"5\">No secrets yet.</td></tr>\n";
    c += "</tbody></table></section>\n";

    c += "<section aria-labelledby=\"hosts\"><h2 id=\"hosts\">Enrolled hosts</h2>\n"
         "<table><thead><tr><th scope=\"col\">ID</th><th scope=\"col\">Agent</th><th scope=\"col\">Machine</th>"
         "<th scope=\"col\">Enrolled</th><th scope=\"col\">Last upload</th><th scope=\"col\">Uploads</th>"
         "<th scope=\"col\">Revoked</th></tr></thead><tbody>\n";
    for (const auto& h : t.hosts) {
        c += "<tr><td>" + std::to_string(h.id) + "</td><td>" + escape(h.agentId) + "</td><td>" + escape(h.machine) +
             "</td><td>" + escape(h.enrolledAt) + "</td><td>" + escape(orEmpty(h.lastUpload)) + "</td><td>" +
             std::to_string(h.uploads) + "</td><td>" +
             (h.revokedAt ? escape(*h.revokedAt + " (" + orEmpty(h.revokedReason) + ")")
                          : buttonForm(viewer, "/admin/hosts/revoke", "id", std::to_string(h.id),
                                       "Revoke host " + std::to_string(h.id))) +
             "</td></tr>\n";
    }
    if (t.hosts.empty()) c += "<tr><td colspan=\"7\">No hosts have enrolled.</td></tr>\n";
    c += "</tbody></table></section>\n";

    c += "<section aria-labelledby=\"users\"><h2 id=\"users\">Users</h2>\n"
         "<form method=\"post\" action=\"/admin/users\">" + hidden(viewer) +
         "<label for=\"user-name\">Name</label><input id=\"user-name\" name=\"name\" autocomplete=\"off\" required>"
         "<label for=\"user-role\">Role</label><select id=\"user-role\" name=\"role\">"
         "<option value=\"viewer\">viewer</option><option value=\"admin\">admin</option></select>"
         "<label for=\"user-password\">Password (at least " + std::to_string(fleet::kMinimumPasswordLength) +
         " characters)</label><input id=\"user-password\" name=\"password\" type=\"password\" "
         "autocomplete=\"new-password\" required> <button type=\"submit\">Add the user</button></form>\n"
         "<table><thead><tr><th scope=\"col\">Name</th><th scope=\"col\">Role</th><th scope=\"col\">Created</th>"
         "<th scope=\"col\">Remove</th></tr></thead><tbody>\n";
    for (const auto& u : t.users) {
        c += "<tr><td>" + escape(u.name) + "</td><td>" + fleet::roleName(u.role) + "</td><td>" + escape(u.createdAt) +
             "</td><td>" +
             (u.id == viewer.userId ? std::string("(you)")
                                    : buttonForm(viewer, "/admin/users/remove", "name", u.name, "Remove " + u.name)) +
             "</td></tr>\n";
    }
    c += "</tbody></table></section>\n";

    c += "<section aria-labelledby=\"clones\"><h2 id=\"clones\">Possible clones</h2>\n"
         "<p>Machines that show the same UUID with different serials are kept apart and listed here.</p>\n"
         "<table><thead><tr><th scope=\"col\">Machine</th><th scope=\"col\">Serial</th>"
         "<th scope=\"col\">Other machine</th><th scope=\"col\">Its serial</th><th scope=\"col\">UUID</th>"
         "<th scope=\"col\">Reason</th></tr></thead><tbody>\n";
    for (const auto& f : t.clones) {
        c += "<tr><td>" + machineLink(f.machineId, f.name) + "</td><td>" + escape(f.serial) + "</td><td>" +
             machineLink(f.otherMachineId, f.otherName) + "</td><td>" + escape(f.otherSerial) + "</td><td>" +
             escape(f.uuid) + "</td><td>" + escape(f.reason) + "</td></tr>\n";
    }
    if (t.clones.empty()) c += "<tr><td colspan=\"6\">None.</td></tr>\n";
    c += "</tbody></table></section>\n";
    return c;
}

nlohmann::json jsonOf(const AdminTables& t) {
    auto optional = [](const std::optional<std::string>& text) {
        return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
    };
    nlohmann::json secrets = nlohmann::json::array(), hosts = nlohmann::json::array(),
                   users = nlohmann::json::array(), clones = nlohmann::json::array();
    for (const auto& s : t.secrets) {
        secrets.push_back({{"id", s.id}, {"note", s.note}, {"created", s.createdAt}, {"revoked", optional(s.revokedAt)},
                           {"hosts", s.hosts}});
    }
    for (const auto& h : t.hosts) {
        hosts.push_back({{"id", h.id}, {"agent-id", h.agentId}, {"machine", h.machine}, {"enrolled", h.enrolledAt},
                         {"last-upload", optional(h.lastUpload)}, {"uploads", h.uploads},
                         {"revoked", optional(h.revokedAt)}, {"revoked-reason", optional(h.revokedReason)}});
    }
    for (const auto& u : t.users) {
        users.push_back({{"name", u.name}, {"role", fleet::roleName(u.role)}, {"created", u.createdAt}});
    }
    for (const auto& f : t.clones) {
        clones.push_back({{"machine-id", f.machineId}, {"name", f.name}, {"serial", f.serial},
                          {"other-machine-id", f.otherMachineId}, {"other-name", f.otherName},
                          {"other-serial", f.otherSerial}, {"uuid", f.uuid}, {"reason", f.reason}});
    }
    return {{"secrets", secrets}, {"hosts", hosts}, {"users", users}, {"possible-clones", clones}};
}

std::optional<std::string> csvOf(const AdminTables& t, std::string_view table) {
    std::string csv;
    auto line = [&](std::initializer_list<std::string> fields) {
        bool first = true;
        for (const auto& field : fields) {
            csv += (first ? "" : ",") + data::CsvField(field);
            first = false;
        }
        csv += "\r\n";
    };
    if (table == "secrets") {
        line({"ID", "Note", "Created", "Hosts enrolled", "Revoked"});
        for (const auto& s : t.secrets) {
            line({std::to_string(s.id), s.note, s.createdAt, std::to_string(s.hosts), orEmpty(s.revokedAt)});
        }
    } else if (table == "hosts") {
        line({"ID", "Agent", "Machine", "Enrolled", "Last upload", "Uploads", "Revoked", "Reason"});
        for (const auto& h : t.hosts) {
            line({std::to_string(h.id), h.agentId, h.machine, h.enrolledAt, orEmpty(h.lastUpload),
                  std::to_string(h.uploads), orEmpty(h.revokedAt), orEmpty(h.revokedReason)});
        }
    } else if (table == "users") {
        line({"Name", "Role", "Created"});
        for (const auto& u : t.users) line({u.name, fleet::roleName(u.role), u.createdAt});
    } else if (table == "clones") {
        line({"Machine ID", "Machine", "Serial", "Other machine ID", "Other machine", "Its serial", "UUID", "Reason"});
        for (const auto& f : t.clones) {
            line({std::to_string(f.machineId), f.name, f.serial, std::to_string(f.otherMachineId), f.otherName,
                  f.otherSerial, f.uuid, f.reason});
        }
    } else {
        return std::nullopt;
    }
    return csv;
}

bool sameToken(std::string_view a, std::string_view b) {
    return !a.empty() && a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// The administrator asking, or the answer that refuses.
std::variant<fleet::Viewer, Response> administrator(StorePool& stores, const Request& request, bool api) {
    auto who = whoAsks(stores, request, api);
    if (std::holds_alternative<Response>(who)) return who;
    const auto& viewer = std::get<fleet::Viewer>(who);
    if (viewer.role != fleet::Role::Admin) {
        if (api) return errorResponse(403, "only an administrator may do this");
        return htmlPage(403, consolePage("Not allowed", &viewer,
                                         "<p class=\"error\">Only an administrator may see and change this.</p>"));
    }
    // A session posts only with its form token; an API token is not a browser's.
    if (request.method == "POST" && !viewer.formToken.empty() &&
        !sameToken(formField(request.body, "form_token"), viewer.formToken)) {
        if (api) return errorResponse(403, "the form was not this session's: nothing was changed");
        return htmlPage(403, consolePage("Not changed", &viewer,
                                         "<p class=\"error\">The form was not this session's: nothing was changed.</p>"));
    }
    return viewer;
}

Response adminPage(StorePool& stores, const Request& request, bool api, unsigned status = 200,
                   std::string_view notice = {}) {
    auto who = administrator(stores, request, api);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto tables = readTables((*lease)->connection());
    if (!tables) {
        lease->discard();
        return storeUnavailable("the store cannot be read: " + tables.failure().description);
    }
    const std::string format = request.method == "GET" ? formField(request.query, "format") : std::string();
    if (api || format == "json") return jsonAnswer(jsonOf(*tables));
    if (format == "csv") {
        const std::string table = formField(request.query, "table");
        auto csv = csvOf(*tables, table);
        if (!csv) return errorResponse(404, "there is no such table: ask for secrets, hosts, users or clones");
        return csvAnswer(std::move(*csv), table + ".csv");
    }
    return htmlPage(status, consolePage("Administration", &viewer, pageOf(*tables, viewer, notice)));
}

// A change refused for what was asked (not for who asked): the page again
// with the reason, or the reason as JSON.
Response refused(StorePool& stores, const Request& request, bool api, unsigned status, const std::string& reason) {
    if (api) return errorResponse(status, reason);
    return adminPage(stores, request, false, status, "<p class=\"error\" role=\"alert\">" + escape(reason) + "</p>\n");
}

std::optional<std::int64_t> idOf(std::string_view text) {
    std::int64_t id = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || id <= 0) return std::nullopt;
    return id;
}

enum class Action { CreateSecret, RevokeSecret, RevokeHost, AddUser, RemoveUser };

Response changePosted(StorePool& stores, const Request& request, bool api, Action action) {
    auto who = administrator(stores, request, api);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    // PostgreSQL refuses bytes that are not UTF-8: they are replaced before
    // they reach it, so that such a form is refused or done, never a failure.
    auto field = [&](const char* name) { return validUtf8(formField(request.body, name)); };
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto& connection = (*lease)->connection();
    auto failed = [&](const Failure& failure) -> Response {
        if (failure.number == fleet::kNotFound) return refused(stores, request, api, 404, failure.description);
        if (failure.number == fleet::kMalformed) return refused(stores, request, api, 400, failure.description);
        if (failure.number == fleet::kNameTaken) return refused(stores, request, api, 409, failure.description);
        lease->discard();
        return storeUnavailable("the store cannot be written: " + failure.description);
    };
    Status done;
    switch (action) {
        case Action::CreateSecret: {
            const std::string note = field("note");
            if (note.size() > kNoteLimit) {
                return refused(stores, request, api, 400, "a note has at most " + std::to_string(kNoteLimit) + " bytes");
            }
            auto made = fleet::createSecret(connection, note, fleet::utcNow());
            if (!made) return failed(made.failure());
            if (api) {
                Response response = jsonAnswer({{"id", made->id}, {"secret", made->secret}});
                response.status = 201;
                return response;
            }
            return adminPage(stores, request, false, 200,
                             "<div class=\"notice\" role=\"alert\"><p>Secret " + std::to_string(made->id) +
                                 " was made. It is shown only now: copy it to the hosts that will enrol with it.</p>"
                                 "<p><label for=\"new-secret\">New secret</label><input id=\"new-secret\" readonly "
                                 "size=\"66\" value=\"" + escape(made->secret) + "\"></p></div>\n");
        }
        case Action::RevokeSecret:
        case Action::RevokeHost: {
            auto id = idOf(field("id"));
            if (!id) return refused(stores, request, api, 400, "give the id to revoke");
            done = action == Action::RevokeSecret ? fleet::revokeSecret(connection, *id, fleet::utcNow())
                                                  : fleet::revokeHost(connection, std::to_string(*id), fleet::utcNow());
            break;
        }
        case Action::AddUser: {
            auto role = fleet::roleNamed(field("role"));
            if (!role) return refused(stores, request, api, 400, "a role is viewer or admin");
            auto added = fleet::addUser(connection, field("name"), *role, field("password"), fleet::utcNow());
            if (!added) return failed(added.failure());
            break;
        }
        case Action::RemoveUser: {
            const std::string name = field("name");
            if (viewer.userId != 0 && name == viewer.name) {
                // Nobody locks themselves out from the page they are on.
                return refused(stores, request, api, 409, "you cannot remove yourself; another administrator can");
            }
            done = fleet::removeUser(connection, name);
            break;
        }
    }
    if (!done.ok()) return failed(done.failure);
    if (api) return jsonAnswer({{"done", true}});
    return seeOther("/admin");
}

Route post(const std::string& path, StorePool& stores, bool api, Action action) {
    return Route{"POST", path, kFormLimit,
                 [&stores, api, action](const Request& request) { return changePosted(stores, request, api, action); }};
}

}  // namespace

std::vector<Route> adminRoutes(StorePool& stores) {
    std::vector<Route> routes{
        Route{"GET", "/admin", 0, [&stores](const Request& request) { return adminPage(stores, request, false); }},
        Route{"GET", "/api/v1/admin", 0, [&stores](const Request& request) { return adminPage(stores, request, true); }},
    };
    const std::pair<const char*, Action> actions[] = {{"/secrets", Action::CreateSecret},
                                                      {"/secrets/revoke", Action::RevokeSecret},
                                                      {"/hosts/revoke", Action::RevokeHost},
                                                      {"/users", Action::AddUser},
                                                      {"/users/remove", Action::RemoveUser}};
    for (const auto& [path, action] : actions) {
        routes.push_back(post(std::string("/admin") + path, stores, false, action));
        routes.push_back(post(std::string("/api/v1/admin") + path, stores, true, action));
    }
    return routes;
}

}  // namespace veltrix::server
