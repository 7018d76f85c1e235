// The fleet server under load: N agents at once (64 by default) enrol, then
// upload varied real scans over TLS to a veltrix-server process, first into
// SQLite, then into PostgreSQL when VELTRIX_TEST_PG_URL names a server
// (tests/store/with_postgres.sh starts one). Prints scans per second and
// p50/p99 latency beside `store add` of the same scans in the same run, the
// server's resident memory during two rounds of uploads, and the upload rate
// into a store that already holds 100,000 machines beside one of 1,000.
// Figures beside their references; never fails on timing.
// Usage: bench_server_upload [--scans N] [--agents N] [--big-store N]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <utility>
// Asio's headers use std::exchange without including <utility> themselves.
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "fresh_postgres.h"
#include "store/inventory_store.h"
#include "ui/console/gzip_body.h"
#include "ui/console/store_command.h"

namespace {

using namespace veltrix;
namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using Clock = std::chrono::steady_clock;

struct Settings {
    int scans = 640;
    int agents = 64;
    int bigStore = 100000;
};

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string gzipText(const std::string& text) {
    auto packed = gzipCompress(text);
    return packed ? *packed : std::string();
}

std::string uuidOf(int agent) {
    char text[40];
    std::snprintf(text, sizeof text, "5EC0%04X-0000-4000-8000-%012X", agent & 0xFFFF, agent);
    return text;
}

// Scan `n` of agent `agent`: a real machine's snapshot with that agent's
// identity, a time of its own and a few more programs, so no two are alike.
std::string scanOf(const std::vector<nlohmann::json>& bases, int agent, int n) {
    nlohmann::json document = bases[static_cast<std::size_t>(agent + n) % bases.size()];
    document["veltrix-snapshot"] = 2;
    document["machine"] = {{"host-name", "ws-" + std::to_string(agent)}, {"uuid", uuidOf(agent)}};
    char when[40];
    std::snprintf(when, sizeof when, "2026-11-%02dT%02d:%02d:%02d+01:00", 1 + n % 28, n / 60 % 24, n % 60, agent % 60);
    document["taken-at"] = when;
    document["source"] = "bench scan " + std::to_string(n) + " of agent " + std::to_string(agent);
    return document.dump();
}

struct Answer {
    unsigned status = 0;
    std::string body;
};

// One request on a connection of its own, as an agent's run makes it.
Answer post(ssl::context& tls, unsigned short port, const std::string& path, const std::string& body,
            const std::string& key, bool gzip) {
    net::io_context io;
    beast::ssl_stream<beast::tcp_stream> stream(io, tls);
    beast::error_code error;
    beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(60));
    beast::get_lowest_layer(stream).socket().connect({net::ip::address_v4::loopback(), port}, error);
    if (!error) stream.handshake(ssl::stream_base::client, error);
    if (error) return {};
    http::request<http::string_body> request{http::verb::post, path, 11};
    request.set(http::field::host, "127.0.0.1");
    request.set(http::field::content_type, "application/json");
    if (!key.empty()) request.set(http::field::authorization, "Bearer " + key);
    if (gzip) request.set(http::field::content_encoding, "gzip");
    request.body() = body;
    request.prepare_payload();
    http::write(stream, request, error);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    if (!error) http::read(stream, buffer, response, error);
    if (error) return {};
    stream.shutdown(error);
    return {response.result_int(), response.body()};
}

class ServerProcess {
public:
    ServerProcess(const std::string& db, const std::filesystem::path& folder) {
        port_ = 20000 + static_cast<unsigned short>(getpid() % 20000);
        std::string listen = "127.0.0.1:" + std::to_string(port_);
        std::string cert = (folder / "cert.pem").string(), key = (folder / "key.pem").string();
        std::string log = (folder / "server.log").string();
        pid_ = fork();
        if (pid_ == 0) {
            std::freopen(log.c_str(), "a", stderr);
            execl(VELTRIX_SERVER_PROGRAM, "veltrix-server", "run", "--db", db.c_str(), "--listen", listen.c_str(),
                  "--tls-cert", cert.c_str(), "--tls-key", key.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && !listening(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~ServerProcess() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    unsigned short port() const { return port_; }
    // Resident memory now, in MiB, from /proc.
    double residentMiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
        }
        return 0;
    }

private:
    bool listening() const {
        net::io_context io;
        net::ip::tcp::socket socket(io);
        beast::error_code error;
        socket.connect({net::ip::address_v4::loopback(), port_}, error);
        return !error;
    }
    pid_t pid_ = 0;
    unsigned short port_ = 0;
};

struct Round {
    double seconds = 0;
    int uploaded = 0, failed = 0;
    double p50 = 0, p99 = 0;
    double peakResidentMiB = 0;
};

// Each agent uploads its share of `scans` in turn; all agents at once.
Round uploadAll(ssl::context& tls, ServerProcess& server, const std::vector<std::string>& keys,
                const std::vector<std::vector<std::string>>& bodies, int round) {
    Round result;
    std::vector<double> latencies;
    std::mutex mutex;
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            result.peakResidentMiB = std::max(result.peakResidentMiB, server.residentMiB());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    auto start = Clock::now();
    std::vector<std::thread> agents;
    for (std::size_t a = 0; a < keys.size(); ++a) {
        agents.emplace_back([&, a] {
            for (std::size_t n = static_cast<std::size_t>(round); n < bodies[a].size(); n += 2) {
                auto begin = Clock::now();
                Answer answer = post(tls, server.port(), "/api/v1/scans", bodies[a][n], keys[a], true);
                double took = secondsSince(begin) * 1000;
                std::lock_guard<std::mutex> lock(mutex);
                if (answer.status == 201) {
                    ++result.uploaded;
                    latencies.push_back(took);
                } else {
                    if (result.failed++ == 0) std::fprintf(stderr, "upload: %u %s\n", answer.status, answer.body.c_str());
                }
            }
        });
    }
    for (auto& agent : agents) agent.join();
    result.seconds = secondsSince(start);
    done = true;
    sampler.join();
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        result.p50 = latencies[latencies.size() / 2];
        result.p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    }
    return result;
}

std::string makeSecret(const std::string& db) {
    std::string command = std::string("'") + VELTRIX_SERVER_PROGRAM + "' secret create --db '" + db + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    char line[256] = {};
    if (!pipe || !std::fgets(line, sizeof line, pipe)) return {};
    pclose(pipe);
    std::string secret = line;
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r')) secret.pop_back();
    return secret;
}

// `machines` more machines and hosts than the load brings, as a fleet that
// has been reporting for a while would hold.
bool prefill(const std::string& db, int machines) {
    auto opened = store::InventoryStore::open(db, store::OpenMode::CreateOrUpgrade);
    if (!opened) return false;
    auto& connection = (*opened)->connection();
    if (!connection.beginWrite().ok()) return false;
    if (!connection.execute("INSERT INTO enrolment_secrets (secret_hash, note, created_at) "
                            "VALUES ('prefill', 'prefill', '2026-01-01T00:00:00Z')").ok()) {
        return false;
    }
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(machines) * 4);
    for (int i = 0; i < machines; ++i) {
        char uuid[40];
        std::snprintf(uuid, sizeof uuid, "0FF1CE00-%04X-4000-8000-%012X", i & 0xFFFF, i);
        texts.push_back("old-" + std::to_string(i));
        texts.push_back(uuid);
        texts.push_back("agent-" + std::to_string(i));
        texts.push_back("hash-" + std::to_string(i));
    }
    std::vector<std::vector<store::SqlParam>> machineRows, hostRows;
    for (int i = 0; i < machines; ++i) {
        const std::string* t = &texts[static_cast<std::size_t>(i) * 4];
        machineRows.push_back({std::string_view(t[0])});
        hostRows.push_back({std::string_view(t[2]), std::string_view(t[3]), std::int64_t{1}, std::string_view(t[0]),
                            std::string_view(t[1]), std::string_view(""), std::string_view("2026-01-01T00:00:00Z")});
    }
    bool ok = connection.insertRows("machines", {"name"}, machineRows).ok() &&
              connection.insertRows("hosts", {"agent_id", "key_hash", "secret_id", "host_name", "uuid", "macs",
                                              "enrolled_at"},
                                    hostRows)
                  .ok() &&
              // Each machine known by its UUID and agent, as uploads leave them.
              connection.execute("INSERT INTO machine_keys (machine_id, kind, value) "
                                 "SELECT m.id, 'uuid', h.uuid FROM machines m JOIN hosts h ON h.host_name = m.name; "
                                 "INSERT INTO machine_keys (machine_id, kind, value) "
                                 "SELECT m.id, 'agent', h.agent_id FROM machines m JOIN hosts h ON h.host_name = m.name")
                  .ok() &&
              connection.execute("COMMIT").ok();
    if (!ok) connection.execute("ROLLBACK");
    return ok;
}

struct Load {
    Round first, second;
    double storeAddPerSecond = 0;
};

bool runLoad(const std::string& label, const std::string& db, const std::string& storeAddDb,
             const std::vector<nlohmann::json>& bases, const Settings& settings, const std::filesystem::path& folder,
             ssl::context& tls, Load& load, bool compareStoreAdd) {
    ServerProcess server(db, folder);
    std::string secret = makeSecret(db);
    if (secret.empty()) {
        std::fprintf(stderr, "%s: no secret\n", label.c_str());
        return false;
    }
    std::vector<std::string> keys;
    for (int a = 0; a < settings.agents; ++a) {
        nlohmann::json enrol{{"secret", secret},
                             {"machine", {{"host-name", "ws-" + std::to_string(a)}, {"uuid", uuidOf(a)}}}};
        Answer answer = post(tls, server.port(), "/api/v1/enrol", enrol.dump(), "", false);
        if (answer.status != 201) {
            std::fprintf(stderr, "%s: enrol: %u %s\n", label.c_str(), answer.status, answer.body.c_str());
            return false;
        }
        keys.push_back(nlohmann::json::parse(answer.body)["key"].get<std::string>());
    }
    // Made before the clock starts: the agents' own work is not the server's.
    const int each = std::max(2, settings.scans / settings.agents);
    std::vector<std::vector<std::string>> bodies(keys.size());
    auto scanFolder = folder / "scans";
    std::filesystem::create_directories(scanFolder);
    std::vector<std::string> files;
    for (int a = 0; a < settings.agents; ++a) {
        for (int n = 0; n < each; ++n) {
            std::string scan = scanOf(bases, a, n);
            bodies[static_cast<std::size_t>(a)].push_back(gzipText(scan));
            if (compareStoreAdd) {
                files.push_back((scanFolder / ("scan-" + std::to_string(a) + "-" + std::to_string(n) + ".json")).string());
                std::ofstream(files.back(), std::ios::binary) << scan;
            }
        }
    }
    load.first = uploadAll(tls, server, keys, bodies, 0);
    const double afterFirst = server.residentMiB();
    load.second = uploadAll(tls, server, keys, bodies, 1);
    const double afterSecond = server.residentMiB();
    auto report = [&](const char* which, const Round& r) {
        std::printf("%s: %s round, %d agents: %d scans in %.2f s = %.0f scans/s, latency p50 %.0f ms, p99 %.0f ms, "
                    "server resident memory peak %.1f MiB (reference: under 64 MiB)%s\n",
                    label.c_str(), which, settings.agents, r.uploaded, r.seconds, r.uploaded / r.seconds, r.p50,
                    r.p99, r.peakResidentMiB, r.failed ? " FAILED UPLOADS" : "");
    };
    report("first", load.first);
    report("second", load.second);
    std::printf("%s: server resident memory after %d uploads %.1f MiB, after %d %.1f MiB (reference: no growth)\n",
                label.c_str(), load.first.uploaded, afterFirst, load.first.uploaded + load.second.uploaded,
                afterSecond);
    if (compareStoreAdd) {
        std::vector<std::string> arguments{"store", "add", "--db", storeAddDb};
        arguments.insert(arguments.end(), files.begin(), files.end());
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        std::FILE* quiet = std::fopen("/dev/null", "w");
        auto start = Clock::now();
        int code = runStoreCommand(static_cast<int>(argv.size()), argv.data(), quiet, stderr);
        double took = secondsSince(start);
        std::fclose(quiet);
        load.storeAddPerSecond = files.size() / took;
        const double served = (load.first.uploaded + load.second.uploaded) / (load.first.seconds + load.second.seconds);
        std::printf("%s: store add of the same %zu scans: %.2f s = %.0f scans/s (exit %d); the server reached %.0f%% "
                    "of it (reference: at least 50%%)\n",
                    label.c_str(), files.size(), took, load.storeAddPerSecond, code, 100 * served / load.storeAddPerSecond);
    }
    std::filesystem::remove_all(scanFolder);
    return load.first.failed + load.second.failed == 0;
}


bool engine(const std::string& label, const std::function<std::string(const std::string&)>& fresh,
            const std::vector<nlohmann::json>& bases, const Settings& settings, const std::filesystem::path& folder,
            ssl::context& tls) {
    Load load;
    bool ok = runLoad(label, fresh("veltrix_bench_server"), fresh("veltrix_bench_store_add"), bases, settings, folder,
                      tls, load, true);
    if (settings.bigStore <= 0) return ok;
    // The same load into stores that already hold 1,000 and `bigStore`
    // machines: the rate must not fall with the size of the fleet.
    Settings smaller = settings;
    smaller.scans = std::max(settings.agents * 2, settings.scans / 2);
    double rates[2] = {0, 0};
    const int sizes[2] = {1000, settings.bigStore};
    for (int i = 0; i < 2; ++i) {
        std::string db = fresh("veltrix_bench_size_" + std::to_string(i));
        auto start = Clock::now();
        if (!prefill(db, sizes[i])) {
            std::fprintf(stderr, "%s: cannot fill a store of %d machines\n", label.c_str(), sizes[i]);
            return false;
        }
        double filled = secondsSince(start);
        Load sized;
        ok = runLoad(label + " (" + std::to_string(sizes[i]) + " machines, filled in " +
                         std::to_string(static_cast<int>(filled + 0.5)) + " s)",
                     db, "", bases, smaller, folder, tls, sized, false) &&
             ok;
        rates[i] = (sized.first.uploaded + sized.second.uploaded) / (sized.first.seconds + sized.second.seconds);
    }
    std::printf("%s: uploads into %d machines at %.0f scans/s, into 1,000 at %.0f: %.2fx slower "
                "(reference: within 1.5x)\n",
                label.c_str(), settings.bigStore, rates[1], rates[0], rates[0] / rates[1]);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        int value = std::atoi(argv[i + 1]);
        if (option == "--scans") settings.scans = value;
        else if (option == "--agents") settings.agents = std::max(1, value);
        else if (option == "--big-store") settings.bigStore = value;
        else {
            std::fprintf(stderr, "usage: bench_server_upload [--scans N] [--agents N] [--big-store N]\n");
            return 2;
        }
    }
    std::vector<nlohmann::json> bases;
    const std::filesystem::path realdata = VELTRIX_SOURCE_DIR "/../shared/realdata/windows";
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(realdata, missing)) {
        if (entry.path().extension() == ".json") bases.push_back(nlohmann::json::parse(readFile(entry.path())));
    }
    bases.push_back(nlohmann::json::parse(readFile(VELTRIX_SOURCE_DIR "/examples/office-desktop.json")));
    std::printf("%zu real snapshots as the bases of the uploads; %d agents, about %d scans per engine\n", bases.size(),
                settings.agents, settings.scans);

    auto folder = std::filesystem::temp_directory_path() / ("veltrix-bench-server-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                       "-addext subjectAltName=IP:127.0.0.1 -keyout '" + (folder / "key.pem").string() + "' -out '" +
                       (folder / "cert.pem").string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "openssl could not make the certificate\n");
        return 1;
    }
    ssl::context tls(ssl::context::tls_client);
    tls.load_verify_file((folder / "cert.pem").string());
    tls.set_verify_mode(ssl::verify_peer);

    int files = 0;
    bool ok = engine("sqlite", [&](const std::string& name) {
        return (folder / (name + "-" + std::to_string(files++) + ".sqlite")).string();
    }, bases, settings, folder, tls);
    if (const char* url = std::getenv("VELTRIX_TEST_PG_URL")) {
        ok = engine("postgresql", [&](const std::string& name) { return bench::freshPostgres(url, name); }, bases, settings,
                    folder, tls) &&
             ok;
    } else {
        std::printf("postgresql: skipped, VELTRIX_TEST_PG_URL is not set (run under tests/store/with_postgres.sh)\n");
    }
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
