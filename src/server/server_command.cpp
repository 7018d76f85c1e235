#include "server/server_command.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "fleet/console_users.h"
#include "fleet/enrolment.h"
#include "fleet/fleet_failure.h"
#include "server/routes.h"
#include "server/settings_file.h"
#include "server/store_pool.h"
#include "server/transport.h"
#include "store/inventory_store.h"
#include "ui/console/command_line.h"

namespace veltrix {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kBadInput = 2;

void printLine(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fputc('\n', f);
}

// Columns padded to their widest cell, the last one left as it is.
void printTable(std::FILE* out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        printLine(out, line);
    }
}

// "HOST:PORT" or "[V6]:PORT".
bool parseListen(const std::string& text, std::string& host, unsigned short& port) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::string_view digits(text.data() + colon + 1, text.size() - colon - 1);
    unsigned value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() || value > 65535) return false;
    port = static_cast<unsigned short>(value);
    return true;
}

std::unique_ptr<store::InventoryStore> openStore(const std::string& db, std::FILE* err) {
    auto opened = store::InventoryStore::open(db, store::OpenMode::CreateOrUpgrade);
    if (!opened) {
        printLine(err, "veltrix: " + opened.failure().description);
        return nullptr;
    }
    return std::move(*opened);
}

int failed(const Failure& failure, std::FILE* err) {
    printLine(err, "veltrix: " + failure.description);
    return failure.number == fleet::kNotFound ? kBadInput : kFailed;
}

struct RunOptions {
    std::string listen;
    std::string certificate, key;
    bool insecureHttp = false;
    std::size_t maxBody = 8 * 1024 * 1024;
    std::size_t maxInflated = 64 * 1024 * 1024;
    std::size_t maxHeader = 16 * 1024;
    unsigned readTimeout = 15;
    std::size_t maxConnections = 256;
    unsigned workers = 4;
};

int runServe(const std::string& db, const RunOptions& o, std::FILE* err) {
    if (o.listen.empty()) {
        printLine(err, "veltrix: server run needs --listen HOST:PORT (or listen = HOST:PORT in its --config file)");
        return kBadInput;
    }
    server::TransportOptions transport;
    if (!parseListen(o.listen, transport.host, transport.port)) {
        printLine(err, "veltrix: --listen takes HOST:PORT, for example 0.0.0.0:8443, not \"" + o.listen + "\"");
        return kBadInput;
    }
    if (o.insecureHttp == !(o.certificate.empty() && o.key.empty())) {
        printLine(err, "veltrix: give either --tls-cert and --tls-key, or --insecure-http");
        return kBadInput;
    }
    if (!o.insecureHttp && (o.certificate.empty() || o.key.empty())) {
        printLine(err, "veltrix: --tls-cert and --tls-key go together");
        return kBadInput;
    }
    if (!o.insecureHttp) {
        transport.certificateFile = o.certificate;
        transport.keyFile = o.key;
    }
    transport.headerLimit = o.maxHeader;
    transport.readTimeout = std::chrono::seconds(o.readTimeout);
    transport.maxConnections = o.maxConnections;
    transport.workers = o.workers;
    transport.stopOnSignals = true;
    // Made or upgraded once here; the workers then only use it.
    if (!openStore(db, err)) return kBadInput;
    server::StorePool stores(db);
    server::RouteLimits limits;
    limits.scanBody = o.maxBody;
    limits.scanInflated = o.maxInflated;
    auto serving = server::Transport::start(transport, server::allRoutes(stores, limits));
    if (!serving) {
        printLine(err, "veltrix: " + serving.failure().description);
        return kBadInput;
    }
    const std::string where = transport.host + ":" + std::to_string((*serving)->port());
    if (o.insecureHttp) {
        printLine(err, "veltrix server: WARNING: plain HTTP without TLS on " + where +
                           ": host keys and scans cross the network readable; use this only behind a TLS "
                           "proxy on this machine");
        printLine(err, "veltrix server: serving http://" + where + " into " + store::displayTarget(db));
    } else {
        printLine(err, "veltrix server: serving https://" + where + " into " + store::displayTarget(db));
    }
    std::fflush(err);
    (*serving)->wait();
    printLine(err, "veltrix server: stopped");
    return kOk;
}

int runSecretCreate(const std::string& db, const std::string& note, std::FILE* out, std::FILE* err) {
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    auto secret = fleet::createSecret(inventory->connection(), note, fleet::utcNow());
    if (!secret) return failed(secret.failure(), err);
    printLine(out, secret->secret);
    printLine(err, "veltrix server: enrolment secret " + std::to_string(secret->id) +
                       " made; it is shown only now (the store keeps only its hash)");
    return kOk;
}

int runSecretList(const std::string& db, std::FILE* out, std::FILE* err) {
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    auto secrets = fleet::listSecrets(inventory->connection());
    if (!secrets) return failed(secrets.failure(), err);
    std::vector<std::vector<std::string>> rows{{"ID", "CREATED", "STATE", "HOSTS", "NOTE"}};
    for (const auto& s : *secrets) {
        rows.push_back({std::to_string(s.id), s.createdAt, s.revokedAt ? "revoked " + *s.revokedAt : "active",
                        std::to_string(s.hosts), s.note});
    }
    printTable(out, rows);
    return kOk;
}

int runSecretRevoke(const std::string& db, std::int64_t id, std::FILE* out, std::FILE* err) {
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    if (Status status = fleet::revokeSecret(inventory->connection(), id, fleet::utcNow()); !status.ok()) {
        return failed(status.failure, err);
    }
    printLine(out, "enrolment secret " + std::to_string(id) +
                       " revoked; hosts enrolled with it keep their keys (see \"hosts revoke\")");
    return kOk;
}

int runHostsList(const std::string& db, std::FILE* out, std::FILE* err) {
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    auto hosts = fleet::listHosts(inventory->connection());
    if (!hosts) return failed(hosts.failure(), err);
    std::vector<std::vector<std::string>> rows{{"ID", "MACHINE", "LAST UPLOAD", "UPLOADS", "KEY", "AGENT"}};
    for (const auto& h : *hosts) {
        std::string state = "active";
        if (h.revokedAt) state = *h.revokedReason + " " + *h.revokedAt;
        rows.push_back({std::to_string(h.id), h.machine.empty() ? "-" : h.machine, h.lastUpload.value_or("never"),
                        std::to_string(h.uploads), state, h.agentId});
    }
    printTable(out, rows);
    return kOk;
}

// One line of standard input, without its line end: a password piped in or
// typed, never given on the command line where other users see it.
std::optional<std::string> readPasswordLine(std::FILE* in) {
    std::string line;
    for (int c; (c = std::fgetc(in)) != EOF && c != '\n';) {
        if (line.size() > fleet::kMaximumPasswordLength) return std::nullopt;
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

int runUserAdd(const std::string& db, const std::string& name, const std::string& roleText, std::FILE* out,
               std::FILE* err) {
    auto role = fleet::roleNamed(roleText);
    if (!role) {
        printLine(err, "veltrix: --role is admin or viewer, not \"" + roleText + "\"");
        return kBadInput;
    }
    auto password = readPasswordLine(stdin);
    if (!password) {
        printLine(err, "veltrix: the password on standard input is longer than " +
                           std::to_string(fleet::kMaximumPasswordLength) + " characters");
        return kBadInput;
    }
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    auto added = fleet::addUser(inventory->connection(), name, *role, *password, fleet::utcNow());
    if (!added) {
        printLine(err, "veltrix: " + added.failure().description);
        return added.failure().number == fleet::kStoreFailed ? kFailed : kBadInput;
    }
    printLine(out, "user " + name + " added as " + roleText);
    return kOk;
}

int runUserList(const std::string& db, std::FILE* out, std::FILE* err) {
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    auto users = fleet::listUsers(inventory->connection());
    if (!users) return failed(users.failure(), err);
    std::vector<std::vector<std::string>> rows{{"NAME", "ROLE", "CREATED"}};
    for (const auto& u : *users) rows.push_back({u.name, fleet::roleName(u.role), u.createdAt});
    printTable(out, rows);
    return kOk;
}

int runUserRemove(const std::string& db, const std::string& name, std::FILE* out, std::FILE* err) {
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    if (Status status = fleet::removeUser(inventory->connection(), name); !status.ok()) {
        return failed(status.failure, err);
    }
    printLine(out, "user " + name + " removed; their sessions are ended");
    return kOk;
}

int runTokenCreate(const std::string& db, const std::string& roleText, const std::string& note, std::FILE* out,
                   std::FILE* err) {
    auto role = fleet::roleNamed(roleText);
    if (!role) {
        printLine(err, "veltrix: --role is admin or viewer, not \"" + roleText + "\"");
        return kBadInput;
    }
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    auto token = fleet::createApiToken(inventory->connection(), *role, note, fleet::utcNow());
    if (!token) return failed(token.failure(), err);
    printLine(out, *token);
    printLine(err, "veltrix server: API token made for the role " + roleText +
                       "; it is shown only now (send it as \"Authorization: Bearer TOKEN\")");
    return kOk;
}

int runHostsRevoke(const std::string& db, const std::string& id, std::FILE* out, std::FILE* err) {
    auto inventory = openStore(db, err);
    if (!inventory) return kBadInput;
    if (Status status = fleet::revokeHost(inventory->connection(), id, fleet::utcNow()); !status.ok()) {
        return failed(status.failure, err);
    }
    printLine(out, "host " + id + " revoked; its uploads are refused until it enrols again");
    return kOk;
}

}  // namespace

int runServerCommand(int argc, char** argv, std::FILE* out, std::FILE* err) {
    CLI::App app{"Veltrix fleet server: agents enrol and upload their scans over HTTPS into the store."};
    app.name("veltrix server");
    app.require_subcommand(1);
    std::string db = "veltrix-inventory.sqlite";
    const std::string dbHelp = "SQLite file or postgresql:// URL (default: veltrix-inventory.sqlite)";

    RunOptions run;
    CLI::App* serve = app.add_subcommand("run", "Serve until SIGTERM, then finish the requests in flight");
    serve->add_option("--db", db, dbHelp)->option_text("DB");
    serve->add_option("--listen", run.listen, "HOST:PORT to listen on, for example 0.0.0.0:8443")->option_text("HOST:PORT");
    serve->add_option("--tls-cert", run.certificate, "The server's certificate chain (PEM)")->option_text("FILE");
    serve->add_option("--tls-key", run.key, "The certificate's private key (PEM)")->option_text("FILE");
    serve->add_flag("--insecure-http", run.insecureHttp, "Plain HTTP, for a TLS proxy in front on this machine");
    serve->add_option("--max-body", run.maxBody, "Largest upload as sent, in bytes (default 8 MiB)")
        ->check(CLI::Range(std::size_t{1024}, std::size_t{1} << 30));
    serve->add_option("--max-inflated", run.maxInflated, "Largest scan once inflated, in bytes (default 64 MiB)")
        ->check(CLI::Range(std::size_t{1024}, std::size_t{4} << 30));
    serve->add_option("--max-header", run.maxHeader, "Largest request header, in bytes (default 16 KiB)")
        ->check(CLI::Range(std::size_t{1024}, std::size_t{1} << 20));
    serve->add_option("--read-timeout", run.readTimeout,
                      "Seconds a request may take to arrive whole, or an idle connection stay open (default 15)")
        ->check(CLI::Range(1u, 3600u));
    serve->add_option("--max-connections", run.maxConnections,
                      "Open connections; more are told 503 to come back later (default 256)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{100000}));
    serve->add_option("--workers", run.workers, "Requests handled at once against the store (default 4)")
        ->check(CLI::Range(1u, 256u));

    CLI::App* secret = app.add_subcommand("secret", "Enrolment secrets that hosts exchange for their keys");
    secret->require_subcommand(1);
    std::string note;
    CLI::App* secretCreate = secret->add_subcommand("create", "Print a new enrolment secret");
    secretCreate->add_option("--db", db, dbHelp)->option_text("DB");
    secretCreate->add_option("--note", note, "What the secret is for, shown by \"secret list\"");
    CLI::App* secretList = secret->add_subcommand("list", "List the enrolment secrets (never the secrets)");
    secretList->add_option("--db", db, dbHelp)->option_text("DB");
    CLI::App* secretRevoke = secret->add_subcommand("revoke", "Refuse further enrolments with a secret");
    secretRevoke->add_option("--db", db, dbHelp)->option_text("DB");
    std::int64_t secretId = 0;
    secretRevoke->add_option("ID", secretId, "The secret's id (see \"secret list\")")->required();

    CLI::App* hosts = app.add_subcommand("hosts", "List the enrolled hosts");
    hosts->add_option("--db", db, dbHelp)->option_text("DB");
    CLI::App* hostsRevoke = hosts->add_subcommand("revoke", "Refuse a host's key");
    hostsRevoke->add_option("--db", db, dbHelp)->option_text("DB");
    std::string hostId;
    hostsRevoke->add_option("ID", hostId, "The host's id or agent id (see \"hosts\")")->required();

    CLI::App* user = app.add_subcommand("user", "The people who may sign in to the console");
    user->require_subcommand(1);
    std::string userName, role;
    CLI::App* userAdd = user->add_subcommand("add", "Add a user; the password is read from standard input");
    userAdd->add_option("--db", db, dbHelp)->option_text("DB");
    userAdd->add_option("NAME", userName, "The name to sign in with")->required();
    userAdd->add_option("--role", role, "admin or viewer")->required();
    CLI::App* userList = user->add_subcommand("list", "List the users (never their passwords)");
    userList->add_option("--db", db, dbHelp)->option_text("DB");
    CLI::App* userRemove = user->add_subcommand("remove", "Remove a user and end their sessions");
    userRemove->add_option("--db", db, dbHelp)->option_text("DB");
    userRemove->add_option("NAME", userName, "The user's name")->required();

    CLI::App* token = app.add_subcommand("token", "API tokens for scripts that read the console's JSON");
    token->require_subcommand(1);
    CLI::App* tokenCreate = token->add_subcommand("create", "Print a new API token");
    tokenCreate->add_option("--db", db, dbHelp)->option_text("DB");
    tokenCreate->add_option("--role", role, "admin or viewer")->required();
    tokenCreate->add_option("--note", note, "What the token is for");

    // Every command that takes the store also takes it, and run all its
    // settings, from a file (the system service's /etc/veltrix/server.conf).
    std::string settingsFile;
    const std::vector<CLI::App*> withStore{serve,    secretCreate, secretList, secretRevoke, hosts,
                                           hostsRevoke, userAdd,   userList,   userRemove,   tokenCreate};
    for (CLI::App* command : withStore) {
        command->add_option("--config", settingsFile,
                            "Take the options not given here from FILE: NAME = VALUE lines, NAME a long option of "
                            "\"server run\" without its dashes")
            ->type_name("FILE");
    }
    const std::set<std::string> settings = server::settingNames(*serve);

    if (auto answered = parseArguments(app, argc, argv, out, err)) return *answered ? kOk : kBadInput;
    if (!settingsFile.empty()) {
        CLI::App* given = nullptr;
        for (CLI::App* command : withStore) {
            if (command->parsed()) given = command;  // "hosts revoke" after "hosts"
        }
        if (Status applied = server::applySettingsFile(*given, settingsFile, settings); !applied.ok()) {
            printLine(err, "veltrix: " + applied.failure.description);
            return kBadInput;
        }
    }
    if (userAdd->parsed()) return runUserAdd(db, userName, role, out, err);
    if (userList->parsed()) return runUserList(db, out, err);
    if (userRemove->parsed()) return runUserRemove(db, userName, out, err);
    if (tokenCreate->parsed()) return runTokenCreate(db, role, note, out, err);
    if (serve->parsed()) return runServe(db, run, err);
    if (secretCreate->parsed()) return runSecretCreate(db, note, out, err);
    if (secretList->parsed()) return runSecretList(db, out, err);
    if (secretRevoke->parsed()) return runSecretRevoke(db, secretId, out, err);
    if (hostsRevoke->parsed()) return runHostsRevoke(db, hostId, out, err);
    return runHostsList(db, out, err);
}

}  // namespace veltrix
