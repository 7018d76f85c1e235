#include "ui/console/agent_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "app/machine_identity_reader.h"
#include "app/scan_driver.h"
#include "core/timestamp.h"
#include "core/utf8_path.h"
#include "core/version.h"
#include "data/report_reader.h"
#include "providers/snapshot/machine_json.h"
#include "providers/snapshot/recorder.h"
#include "ui/console/command_line.h"
#include "ui/console/connection_watch.h"
#include "ui/console/gzip_body.h"
#include "ui/console/spool.h"
#include "ui/console/spool_delivery.h"

namespace veltrix {

namespace {

namespace fs = std::filesystem;

constexpr const char* kEnrolPath = "/api/v1/enrol";
constexpr const char* kScansPath = "/api/v1/scans";
// A certificate authority's PEM file is a few kilobytes; a bundle maybe a few hundred.
constexpr std::size_t kLongestCertificateFile = 4u * 1024 * 1024;
constexpr std::size_t kLongestSecretFile = 64 * 1024;

std::string scans(std::size_t count) { return std::to_string(count) + (count == 1 ? " scan" : " scans"); }

void printLine(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fputc('\n', f);
    std::fflush(f);
}

// The real platform for everything the collectors read (factory files, the
// clock), with the report itself kept in memory and dropped: the upload is
// the snapshot, and an agent leaves no report files behind.
class ReportlessPlatform final : public Platform {
public:
    explicit ReportlessPlatform(Platform& inner) : inner_(inner) {}
    std::string programFolder() const override { return inner_.programFolder(); }
    std::string pathSeparator() const override { return inner_.pathSeparator(); }
    std::string systemDrive() const override { return inner_.systemDrive(); }
    bool fileExists(const std::string& path) const override { return path == report_ || inner_.fileExists(path); }
    Status createEmptyFile(const std::string& path) override {
        report_ = path;
        return {};
    }
    Result<std::unique_ptr<ReportStream>> openReport(const std::string& path, Messages& messages) override {
        if (path != report_) return inner_.openReport(path, messages);
        return std::unique_ptr<ReportStream>(std::make_unique<Discarded>(messages));
    }
    Result<std::unique_ptr<ReplacingFile>> createReplacingFile(const std::string& path) override {
        return inner_.createReplacingFile(path);
    }
    Result<std::unique_ptr<LineReader>> openTextFile(const std::string& path) override {
        return inner_.openTextFile(path);
    }
    std::optional<std::string> decodeTextLine(std::string_view bytes) const override {
        return inner_.decodeTextLine(bytes);
    }
    Result<int> getAttributes(const std::string& path) const override { return inner_.getAttributes(path); }
    Status setAttributes(const std::string& path, int attributes) override {
        return inner_.setAttributes(path, attributes);
    }
    // An agent runs unattended: it starts and opens nothing.
    Status startProcess(const std::string& program, const std::string&) override {
        return Failure{failure_code::kFileError, program + ": not started by the agent"};
    }
    Status openWithShell(const std::string&) override { return {}; }
    DateTime now() const override { return inner_.now(); }

private:
    class Discarded final : public ReportStream {
    public:
        using ReportStream::ReportStream;
        Status writeLine(std::string_view) override { return {}; }
        Status close() override { return {}; }
    };

    Platform& inner_;
    std::string report_;
};

// Only what needs a person reaches stderr: no "file saved", no progress bar.
class AgentUi final : public WindowlessUi {
public:
    explicit AgentUi(std::FILE* err) : err_(err) {}
    void messageBox(std::string_view text, MessageStyle style, std::string_view) override {
        if (style == MessageStyle::Critical) printLine(err_, "veltrix: " + std::string(text));
    }

private:
    std::FILE* err_;
};

// This computer scanned with the batch's collectors; the snapshot document
// of what they read, or why there is none.
Result<std::string> scanThisComputer(AgentEnvironment& environment, const std::string& folder, bool hotfix,
                                     bool software, std::FILE* err) {
    BatchEnvironment& scan = environment.scan;
    auto live = scan.liveService();
    if (!live) return live.failure();
    ConnectionWatch watch(**live);
    snapshot::RecordingService recorder(watch, "veltrix " + std::string(kVersionText) + " agent run");
    auto realPlatform = scan.makePlatform(folder);
    ReportlessPlatform platform(*realPlatform);
    auto locale = scan.makeLocale();
    AgentUi ui(err);
    FixedCheckBoxes boxes(hotfix, software);
    ScanState state;
    state.reportName = "agent-scan.htm";
    std::vector<std::string> sectionsWithErrors;
    platform.createEmptyFile(reportPath(platform, state));
    ScanServices services{ui, platform, recorder, *locale, boxes, false, &sectionsWithErrors};
    std::optional<DateTime> scanTime;
    services.usedScanTime = &scanTime;
    const ScanOutcome outcome = RunScan(state, services);
    if (outcome == ScanOutcome::CouldNotCreate) {
        return Failure{failure_code::kFileError, "the scan could not start"};
    }
    if (watch.noneWorked()) {
        return Failure{watch.lastFailure().number, "the scan reached no data source (every connection failed: " +
                                                       watch.lastFailure().description + ")"};
    }
    if (!sectionsWithErrors.empty()) {
        std::string names;
        for (const std::string& name : sectionsWithErrors) names += (names.empty() ? "" : ", ") + name;
        printLine(err, "veltrix: sections with errors: " + names);
    }
    // When and whose: the server dates the scan and finds the machine by them.
    if (scanTime) recorder.setTakenAt(FormatIso8601({*scanTime, LocalUtcOffsetMinutes(*scanTime)}));
    recorder.setMachine(ReadMachineIdentity(watch));
    return recorder.toJson();
}

std::string reasonOf(const UploadAnswer& answer) {
    nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
    std::string reason = "HTTP " + std::to_string(answer.status);
    if (body.is_object() && body.contains("error") && body["error"].is_string()) {
        std::string text = body["error"].get<std::string>();
        for (char& c : text) {
            if (static_cast<unsigned char>(c) < ' ') c = ' ';
        }
        reason += ": " + text.substr(0, 300);
    }
    return reason;
}

UploadTrust trustOf(const AgentState& state, const std::string& folder) {
    UploadTrust trust;
    trust.insecure = state.insecure;
    if (state.ownCertificateAuthority) trust.caFile = agentCertificateFile(folder);
    return trust;
}

struct EnrolOptions {
    std::string server;
    std::string secret;
    std::string secretFile;
    std::string caFile;
    bool insecure = false;
    bool force = false;
    bool noSchedule = false;
};

// An enrolment in the default state folder is the one the daily run uses:
// it is made to start by itself, also when this computer already was
// enrolled, so that a deployment tool may run `enrol` on every visit.
int scheduleDailyRun(AgentEnvironment& environment, const std::string& folder, const EnrolOptions& o,
                     std::FILE* out, std::FILE* err) {
    if (!environment.enableDailyRun || o.noSchedule) return kExitOk;
    std::error_code error;
    if (fs::weakly_canonical(folder, error) != fs::weakly_canonical(environment.defaultStateFolder, error)) {
        return kExitOk;
    }
    auto enabled = environment.enableDailyRun();
    if (!enabled) {
        printLine(err, "veltrix: enrolled, but the daily run is not set up: " + enabled.failure().description);
        return kExitScanFailed;
    }
    printLine(out, "veltrix: " + *enabled);
    return kExitOk;
}

int runEnrol(AgentEnvironment& environment, const std::string& folder, const EnrolOptions& o, std::FILE* out,
             std::FILE* err) {
    auto server = normalizeServerUrl(o.server, o.insecure);
    if (!server) {
        printLine(err, "veltrix: " + server.failure().description);
        return kExitBadInput;
    }
    std::string secret = o.secret;
    if (!o.secretFile.empty()) {
        auto text = data::ReadWholeFile(o.secretFile, kLongestSecretFile);
        if (!text) {
            printLine(err, "veltrix: " + text.failure().description);
            return kExitBadInput;
        }
        secret = text->substr(0, text->find_first_of("\r\n"));
    }
    if (secret.empty()) {
        printLine(err, "veltrix: enrol needs the enrolment secret: --secret S or --secret-file FILE");
        return kExitBadInput;
    }
    std::string pem;
    if (!o.caFile.empty()) {
        auto text = data::ReadWholeFile(o.caFile, kLongestCertificateFile);
        if (!text) {
            printLine(err, "veltrix: --ca-file: " + text.failure().description);
            return kExitBadInput;
        }
        if (text->find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
            printLine(err, "veltrix: --ca-file " + o.caFile + ": no PEM certificate in it");
            return kExitBadInput;
        }
        pem = std::move(*text);
    }
    auto existing = loadAgentState(folder);
    if (existing && *existing && !o.force) {
        printLine(out, "veltrix: already enrolled with " + (*existing)->server + " as " + (*existing)->agentId +
                           " (--force enrols again)");
        return scheduleDailyRun(environment, folder, o, out, err);
    }
    if (Status prepared = prepareAgentFolder(folder, environment.guardFolder); !prepared.ok()) {
        printLine(err, "veltrix: " + prepared.failure.description);
        return kExitScanFailed;
    }

    // The server tells this computer from others by its hardware, read as
    // every scan's snapshot records it.
    auto live = environment.scan.liveService();
    if (!live) {
        printLine(err, "veltrix: " + live.failure().description);
        return kExitScanFailed;
    }
    const nlohmann::ordered_json machine = snapshot::MachineJson(ReadMachineIdentity(**live));
    const std::string body = nlohmann::ordered_json{{"secret", secret}, {"machine", machine}}.dump();

    UploadTrust trust;
    trust.insecure = o.insecure;
    trust.caFile = o.caFile;
    auto client = environment.makeClient(trust);
    if (!client) {
        printLine(err, "veltrix: " + client.failure().description);
        return kExitScanFailed;
    }
    UploadRequest request;
    request.url = *server + kEnrolPath;
    request.body = body;
    request.timeout = std::chrono::seconds(60);
    auto answer = (*client)->post(request);
    if (!answer) {
        printLine(err, "veltrix: cannot enrol with " + *server + ": " + answer.failure().description);
        return answer.failure().number == upload_failure::kOther ? kExitBadInput : kExitScanFailed;
    }
    if (answer->status == 403 || answer->status == 401) {
        printLine(err, "veltrix: the server refused the enrolment secret (" + reasonOf(*answer) + ")");
        return kExitBadInput;
    }
    if (answer->status != 201 && answer->status != 200) {
        printLine(err, "veltrix: cannot enrol with " + *server + " (" + reasonOf(*answer) + ")");
        return answer->status >= 500 || answer->status == 429 ? kExitScanFailed : kExitBadInput;
    }
    nlohmann::json given = nlohmann::json::parse(answer->body, nullptr, false);
    AgentState state;
    state.server = *server;
    state.insecure = o.insecure;
    state.ownCertificateAuthority = !pem.empty();
    if (given.is_object() && given.contains("agent-id") && given["agent-id"].is_string() && given.contains("key") &&
        given["key"].is_string()) {
        state.agentId = given["agent-id"].get<std::string>();
        state.key = given["key"].get<std::string>();
    }
    if (state.agentId.empty() || state.key.empty()) {
        printLine(err, "veltrix: the server's answer holds no agent id and key: not a Veltrix server?");
        return kExitScanFailed;
    }
    auto platform = environment.scan.makePlatform(folder);
    if (!pem.empty()) {
        if (Status saved = saveAgentCertificate(*platform, folder, pem); !saved.ok()) {
            printLine(err, "veltrix: " + saved.failure.description);
            return kExitScanFailed;
        }
    }
    if (Status saved = saveAgentState(*platform, folder, state); !saved.ok()) {
        printLine(err, "veltrix: " + saved.failure.description);
        return kExitScanFailed;
    }
    printLine(out, "veltrix: enrolled with " + state.server + " as " + state.agentId);
    return scheduleDailyRun(environment, folder, o, out, err);
}

struct RunOptions {
    bool noHotfix = false;
    bool noSoftware = false;
    bool noScan = false;
    double retryFor = 120;
};

// The enrolment that `run` and `schedule` need; nothing, with the reason
// printed, when the state cannot be read or this computer is not enrolled.
std::optional<AgentState> enrolledState(const std::string& folder, std::FILE* err) {
    auto loaded = loadAgentState(folder);
    if (!loaded) {
        printLine(err, "veltrix: " + loaded.failure().description);
        return std::nullopt;
    }
    if (!*loaded) {
        printLine(err, "veltrix: this computer is not enrolled (no " + agentStateFile(folder) +
                           "); run veltrix agent enrol --server URL --secret S first");
        return std::nullopt;
    }
    return std::move(**loaded);
}

int runRun(AgentEnvironment& environment, const std::string& folder, const RunOptions& o, std::FILE* out,
           std::FILE* err) {
    auto enrolled = enrolledState(folder, err);
    if (!enrolled) return kExitBadInput;
    const AgentState state = std::move(*enrolled);
    if (Status prepared = prepareAgentFolder(folder, environment.guardFolder); !prepared.ok()) {
        printLine(err, "veltrix: " + prepared.failure.description);
        return kExitScanFailed;
    }
    auto platform = environment.scan.makePlatform(folder);
    Spool spool(agentSpoolFolder(folder), *platform);

    bool scanFailed = false;
    if (!o.noScan) {
        auto scanned = scanThisComputer(environment, folder, !o.noHotfix, !o.noSoftware, err);
        auto compressed = scanned ? gzipCompress(*scanned) : Result<std::string>(scanned.failure());
        if (!compressed) {
            // What waits in the spool still goes.
            printLine(err, "veltrix: " + compressed.failure().description);
            scanFailed = true;
        } else {
            std::vector<std::string> dropped;
            auto added = spool.add(*compressed, std::chrono::system_clock::now(), dropped);
            for (const std::string& name : dropped) {
                printLine(err, "veltrix: the spool holds at most " + std::to_string(Spool::kDefaultCapacity) +
                                   " scans: dropped the oldest, " + name);
            }
            if (!added) {
                printLine(err, "veltrix: the scan could not be spooled: " + added.failure().description);
                scanFailed = true;
            }
        }
    }

    auto client = environment.makeClient(trustOf(state, folder));
    if (!client) {
        printLine(err, "veltrix: " + client.failure().description);
        return kExitScanFailed;
    }
    std::random_device seed;
    std::mt19937_64 generator(seed());
    std::uniform_real_distribution<double> spread(0.0, 1.0);
    DeliveryServices services{**client,
                              state.server + kScansPath,
                              state.key,
                              environment.sleep ? environment.sleep
                                                : [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); },
                              environment.uniform ? environment.uniform : [&]() { return spread(generator); },
                              err};
    DeliveryPolicy policy;
    policy.retryFor = std::chrono::milliseconds(static_cast<std::int64_t>(o.retryFor * 1000));
    const DeliveryReport report = deliverSpool(spool, services, policy);

    const std::string counts = std::to_string(report.stored) + " stored, " + std::to_string(report.alreadyHeld) +
                               " already held, " + std::to_string(report.waiting) + " waiting in the spool";
    switch (report.end) {
        case DeliveryEnd::Delivered:
            printLine(out, "veltrix: " + counts);
            return scanFailed || report.waiting > 0 ? kExitScanFailed : kExitOk;
        case DeliveryEnd::KeyRefused:
            printLine(err, "veltrix: the server refused this computer's key (" + report.problem +
                               "): it was revoked or is unknown; enrol again with --force; " +
                               scans(report.waiting) + " kept in the spool");
            return kExitBadInput;
        case DeliveryEnd::ServerAway:
        case DeliveryEnd::ServerUntrusted:
        case DeliveryEnd::Stopped:
            printLine(err, "veltrix: " + state.server + " did not take the scans (" + report.problem + "): " +
                               counts + " for the next run");
            return kExitScanFailed;
    }
    return kExitScanFailed;
}

int runStatus(AgentEnvironment& environment, const std::string& folder, std::FILE* out, std::FILE* err) {
    auto loaded = loadAgentState(folder);
    if (!loaded) {
        printLine(err, "veltrix: " + loaded.failure().description);
        return kExitBadInput;
    }
    if (!*loaded) {
        printLine(out, "not enrolled (" + folder + ")");
        return kExitScanFailed;
    }
    auto platform = environment.scan.makePlatform(folder);
    Spool spool(agentSpoolFolder(folder), *platform);
    auto waiting = spool.list();
    printLine(out, "server: " + (*loaded)->server);
    printLine(out, "agent id: " + (*loaded)->agentId);
    printLine(out, std::string("certificate check: ") +
                       ((*loaded)->insecure ? "none (--insecure)"
                        : (*loaded)->ownCertificateAuthority ? agentCertificateFile(folder)
                                                             : "the system's trust store"));
    printLine(out, "scans in the spool: " +
                       (waiting ? std::to_string(waiting->size()) : waiting.failure().description));
    return kExitOk;
}

// "H:MM" or "HH:MM", 24-hour local time.
std::optional<std::pair<int, int>> parseTimeOfDay(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2 || text.size() != colon + 3) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != colon && (text[i] < '0' || text[i] > '9')) return std::nullopt;
    }
    const int hour = std::stoi(text.substr(0, colon));
    const int minute = std::stoi(text.substr(colon + 1));
    if (hour > 23 || minute > 59) return std::nullopt;
    return std::make_pair(hour, minute);
}

constexpr const char* kNoScheduler =
    "veltrix: agent schedule and unschedule use the Windows Task Scheduler; on Linux the package's timer "
    "runs the agent daily: systemctl enable --now veltrix-agent.timer";

int runSchedule(AgentEnvironment& environment, const std::string& folder, const std::string& time, std::FILE* out,
                std::FILE* err) {
    if (!environment.scheduler.schedule) {
        printLine(err, kNoScheduler);
        return kExitBadInput;
    }
    auto when = parseTimeOfDay(time);
    if (!when) {
        printLine(err, "veltrix: --time " + time + ": not a time of day as HH:MM (00:00 to 23:59)");
        return kExitBadInput;
    }
    // A task that would fail every day helps nobody: enrolment comes first.
    if (!enrolledState(folder, err)) return kExitBadInput;
    // Each computer its own minute in the hour after --time, drawn once: a
    // thousand agents given one time do not all call the server at once.
    std::random_device seed;
    std::mt19937_64 generator(seed());
    std::uniform_real_distribution<double> spread(0.0, 1.0);
    const double drawn = environment.uniform ? environment.uniform() : spread(generator);
    const int start = when->first * 60 + when->second + std::min(59, static_cast<int>(drawn * 60));
    DailyAgentRun run;
    run.hour = start / 60 % 24;
    run.minute = start % 60;
    run.arguments = {"agent", "run"};
    if (folder != environment.defaultStateFolder) {
        // The task starts in the program's folder, not here.
        std::error_code error;
        fs::path absolute = fs::absolute(pathFromUtf8(folder), error).lexically_normal();
        if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
        run.arguments.push_back("--state-dir");
        run.arguments.push_back(error ? folder : utf8FromPath(absolute));
    }
    const Status done = environment.scheduler.schedule(run);
    if (!done.ok()) {
        printLine(err, "veltrix: " + done.failure.description);
        return kExitScanFailed;
    }
    char hhmm[8];
    std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", run.hour, run.minute);
    printLine(out, std::string("veltrix: the agent runs daily at ") + hhmm + " as SYSTEM (a minute drawn from the hour after " +
                       time + ", so that a fleet does not call at once)");
    return kExitOk;
}

int runUnschedule(AgentEnvironment& environment, std::FILE* out, std::FILE* err) {
    if (!environment.scheduler.unschedule) {
        printLine(err, kNoScheduler);
        return kExitBadInput;
    }
    const Status done = environment.scheduler.unschedule();
    if (!done.ok()) {
        printLine(err, "veltrix: " + done.failure.description);
        return kExitScanFailed;
    }
    printLine(out, "veltrix: the agent's daily task is removed");
    return kExitOk;
}

}  // namespace

int runAgentCommand(int argc, char** argv, AgentEnvironment& environment, std::FILE* out, std::FILE* err) {
    CLI::App app{"Veltrix agent: this computer reports its scans to a fleet server by itself."};
    app.name("veltrix agent");
    app.require_subcommand(1);
    std::string folder = environment.defaultStateFolder;
    const std::string folderHelp = "The agent's state folder (default: " + environment.defaultStateFolder + ")";

    EnrolOptions enrolOptions;
    CLI::App* enrol = app.add_subcommand("enrol", "Trade the enrolment secret for this computer's own key");
    enrol->add_option("--server", enrolOptions.server, "The server, https://HOST:PORT")->required()->option_text("URL");
    auto* secret = enrol->add_option("--secret", enrolOptions.secret, "The enrolment secret");
    auto* secretFile = enrol->add_option("--secret-file", enrolOptions.secretFile,
                                         "Read the secret from the first line of FILE (keeps it out of the process list)")
                           ->option_text("FILE");
    secret->excludes(secretFile);
    enrol->add_option("--ca-file", enrolOptions.caFile,
                      "Trust only the certificate authority in FILE (PEM), not the system's trust store")
        ->option_text("FILE");
    enrol->add_flag("--insecure", enrolOptions.insecure,
                    "Take any server certificate, and allow plain http (for tests and a TLS proxy on loopback)");
    enrol->add_flag("--force", enrolOptions.force, "Enrol again although this computer already is");
    enrol->add_option("--state-dir", folder, folderHelp)->option_text("DIR");
    if (environment.enableDailyRun) {
        enrol->add_flag("--no-schedule", enrolOptions.noSchedule,
                        "Leave the daily run to the administrator (do not enable veltrix-agent.timer)");
    }

    RunOptions runOptions;
    CLI::App* run = app.add_subcommand("run", "Scan this computer and send the scan and the spool to the server");
    run->add_flag("--no-hotfix", runOptions.noHotfix, "Leave out the installed updates");
    run->add_flag("--no-software", runOptions.noSoftware, "Leave out the installed software");
    run->add_flag("--no-scan", runOptions.noScan, "Only send what waits in the spool");
    run->add_option("--retry-for", runOptions.retryFor,
                    "Seconds this run may wait between tries while the server is away (default 120)")
        ->check(CLI::Range(0.0, 86400.0))
        ->option_text("SECONDS");
    run->add_option("--state-dir", folder, folderHelp)->option_text("DIR");

    CLI::App* status = app.add_subcommand("status", "Show the enrolment and the spool");
    status->add_option("--state-dir", folder, folderHelp)->option_text("DIR");

    std::string time = "12:00";
    CLI::App* schedule = app.add_subcommand(
        "schedule", "Run the agent every day as SYSTEM, through the Task Scheduler (Windows; administrators only)");
    schedule->add_option("--time", time,
                         "Local time of day, HH:MM (default 12:00); the task starts at a minute drawn from the hour after it")
        ->option_text("HH:MM");
    schedule->add_option("--state-dir", folder, folderHelp)->option_text("DIR");
    CLI::App* unschedule = app.add_subcommand("unschedule", "Remove the agent's daily task (Windows)");

    if (auto answered = parseArguments(app, argc, argv, out, err)) return *answered ? kExitOk : kExitBadInput;
    if (folder.empty()) {
        printLine(err, "veltrix: --state-dir must not be empty");
        return kExitBadInput;
    }
    if (enrol->parsed()) return runEnrol(environment, folder, enrolOptions, out, err);
    if (run->parsed()) return runRun(environment, folder, runOptions, out, err);
    if (schedule->parsed()) return runSchedule(environment, folder, time, out, err);
    if (unschedule->parsed()) return runUnschedule(environment, out, err);
    return runStatus(environment, folder, out, err);
}

}  // namespace veltrix
