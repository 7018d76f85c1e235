#include "store/machine_summary.h"

#include <charconv>
#include <initializer_list>
#include <iterator>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/ascii.h"
#include "report/encoding.h"

namespace veltrix::store {
namespace {

// Figures far beyond any module or disk are left out rather than added up
// past what a number holds.
constexpr std::int64_t kLargest = std::int64_t{1} << 40;

// "8192 MB" as 8192; nothing for another form.
std::optional<std::int64_t> figure(std::string_view text, std::string_view unit) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value < 0 || std::string_view(end, text.data() + text.size() - end) != unit) {
        return std::nullopt;
    }
    return value;
}

// "932 GB", "512 MB", "2 TB" as whole gigabytes (rounded); nothing for other texts.
std::optional<std::int64_t> gigabytesOf(std::string_view size) {
    if (auto gb = figure(size, " GB"); gb && *gb < kLargest) return gb;
    if (auto tb = figure(size, " TB"); tb && *tb < kLargest / 1024) return *tb * 1024;
    if (auto mb = figure(size, " MB"); mb && *mb < kLargest) return (*mb + 512) / 1024;
    return std::nullopt;
}

void appendJoined(std::string& out, std::string_view piece, std::string_view separator) {
    if (piece.empty()) return;
    if (!out.empty()) out += separator;
    out += piece;
}

std::string cpuText(const std::vector<std::string>& cpus) {
    if (cpus.empty()) return {};
    bool allSame = true;
    for (const auto& cpu : cpus) allSame = allSame && cpu == cpus.front();
    if (allSame) return cpus.size() > 1 ? std::to_string(cpus.size()) + " x " + cpus.front() : cpus.front();
    std::string text;
    for (const auto& cpu : cpus) appendJoined(text, cpu, "; ");
    return text;
}

// One machine's figures while its newest scan's rows stream past.
struct Gathered {
    std::int64_t machineId = 0, scanId = 0;
    std::string name, generated, hostName, lastSeen, serial;
    std::int64_t programs = 0, scans = 0;
    bool programsCollected = true;
    std::string maker, model, os;
    std::vector<std::string> cpus;
    std::optional<std::int64_t> ramMegabytes;
    std::optional<std::int64_t> diskGigabytes;
    std::vector<std::pair<std::string, std::string>> disks;  // model, size
    std::int64_t lastDiskItem = -1;
};

constexpr std::size_t kKeys = std::size(kSummaryKeyColumns);

const char* kSummaryColumns[] = {
    "machine_id", "scan_id",   "name",      "generated", "host_name", "last_seen",   "serial",   "maker",
    "model",      "maker_model", "cpu",     "ram_total", "ram_mb",    "disks",       "disk_gb",  "os",
    "programs",   "programs_collected", "scans", "key_name", "key_host", "key_model", "key_serial", "key_cpu",
    "key_ram",    "key_disks", "key_os",    "key_programs", "key_seen", "key_all", "sort_ram", "sort_programs"};

Result<std::vector<Gathered>> gather(SqlConnection& connection, std::optional<std::int64_t> machineId) {
    std::vector<Gathered> machines;
    std::unordered_map<std::int64_t, std::size_t> byScan;
    std::vector<SqlParam> params;
    std::string only;
    if (machineId) {
        only = " AND l.machine_id = ?";
        params.emplace_back(*machineId);
    }
    Status status = connection.query(
        "SELECT l.id, l.machine_id, m.name, l.generated, n.host_name, n.generated_at, m.serial, n.software_collected, "
        "(SELECT COUNT(*) FROM software s WHERE s.scan_id = l.id), "
        "(SELECT COUNT(*) FROM scans c WHERE c.machine_id = l.machine_id) "
        "FROM latest l JOIN machines m ON m.id = l.machine_id JOIN scans n ON n.id = l.id WHERE 1 = 1" + only,
        params, [&](const SqlRow& row) {
            byScan.emplace(row.integer(0), machines.size());
            Gathered g;
            g.scanId = row.integer(0);
            g.machineId = row.integer(1);
            g.name = std::string(row.text(2).value_or(""));
            g.generated = std::string(row.text(3).value_or(""));
            g.hostName = std::string(row.text(4).value_or(""));
            g.lastSeen = std::string(row.text(5).value_or(""));
            g.serial = std::string(row.text(6).value_or(""));
            g.programsCollected = row.integer(7) != 0;
            g.programs = row.integer(8);
            g.scans = row.integer(9);
            machines.push_back(std::move(g));
        });
    if (!status.ok()) return status.failure;
    status = connection.query(
        // CROSS JOIN keeps SQLite walking the newest scans and seeking their
        // rows, rather than reading every row of every scan.
        "SELECT r.scan_id, r.section, r.item, r.label, r.value FROM latest l CROSS JOIN \"rows\" r "
        "WHERE r.scan_id = l.id AND r.section IN ('CPU', 'Memory', 'HDD', 'Systeminformation', 'Motherboard', "
        "'Operatingsystem') AND ((r.section = 'CPU' AND r.label = 'Name') "
        "OR (r.section = 'Memory' AND r.label = 'Capacity') "
        "OR (r.section = 'HDD' AND r.label IN ('Model', 'Size')) "
        "OR (r.section = 'Systeminformation' AND r.label = 'Product') "
        "OR (r.section = 'Motherboard' AND r.label = 'Manufacturer (System)') "
        "OR (r.section = 'Operatingsystem' AND r.label = 'Name'))" + only + " ORDER BY r.scan_id, r.position",
        params, [&](const SqlRow& row) {
            auto found = byScan.find(row.integer(0));
            if (found == byScan.end()) return;
            Gathered& g = machines[found->second];
            std::string_view section = row.text(1).value_or("");
            std::int64_t item = row.integer(2);
            std::string_view label = row.text(3).value_or("");
            std::string_view value = row.text(4).value_or("");
            if (section == "CPU") {
                g.cpus.emplace_back(value);
            } else if (section == "Memory") {
                if (auto mb = figure(value, " MB"); mb && *mb < kLargest) g.ramMegabytes = g.ramMegabytes.value_or(0) + *mb;
            } else if (section == "HDD") {
                if (item != g.lastDiskItem) {
                    g.disks.emplace_back();
                    g.lastDiskItem = item;
                }
                (label == "Model" ? g.disks.back().first : g.disks.back().second) = value;
                if (label == "Size") {
                    if (auto gb = gigabytesOf(value)) g.diskGigabytes = g.diskGigabytes.value_or(0) + *gb;
                }
            } else if (section == "Systeminformation") {
                if (g.model.empty()) g.model = value;
            } else if (section == "Motherboard") {
                if (g.maker.empty()) g.maker = value;
            } else if (g.os.empty()) {
                g.os = value;
            }
        });
    if (!status.ok()) return status.failure;
    return machines;
}

// The rows' texts first, so that the views into them stay put.
Status writeSummaries(SqlConnection& connection, const std::vector<Gathered>& machines) {
    std::vector<std::string> texts;
    texts.reserve(machines.size() * 15);  // never moved while the rows below point into it
    for (const Gathered& g : machines) {
        std::string makerModel;
        appendJoined(makerModel, g.maker, " / ");
        appendJoined(makerModel, g.model, " / ");
        std::string disks;
        for (const auto& [model, size] : g.disks) {
            appendJoined(disks, size.empty() ? model : model + " (" + size + ")", "; ");
        }
        const std::string cpu = cpuText(g.cpus);
        const std::string ram = g.ramMegabytes ? std::to_string(*g.ramMegabytes) + " MB" : "";
        const std::string programs = g.programsCollected ? std::to_string(g.programs) : "not collected";
        const std::string seen = g.lastSeen.empty() ? "unknown" : g.lastSeen;
        // The cells as shown, then each as the list's filter and sort read it.
        for (const std::string* text : std::initializer_list<const std::string*>{&makerModel, &cpu, &ram, &disks}) {
            texts.push_back(*text);
        }
        for (const std::string* cell : std::initializer_list<const std::string*>{&g.name, &g.hostName, &makerModel, &g.serial, &cpu, &ram, &disks, &g.os,
                                        &programs, &seen}) {
            texts.push_back(lowerAscii(*cell));
        }
        std::string all;
        for (std::size_t key = texts.size() - kKeys; key < texts.size(); ++key) {
            all += texts[key];
            all += '\n';
        }
        texts.push_back(std::move(all));
    }
    std::vector<std::vector<SqlParam>> rows;
    rows.reserve(machines.size());
    std::size_t t = 0;
    for (const Gathered& g : machines) {
        auto next = [&]() { return SqlParam(std::string_view(texts[t++])); };
        auto optional = [](const std::optional<std::int64_t>& value) {
            return value ? SqlParam(*value) : SqlParam(nullptr);
        };
        std::vector<SqlParam> row{g.machineId, g.scanId, std::string_view(g.name), std::string_view(g.generated),
                                  std::string_view(g.hostName), std::string_view(g.lastSeen),
                                  std::string_view(g.serial), std::string_view(g.maker), std::string_view(g.model)};
        row.push_back(next());  // maker / model
        row.push_back(next());  // CPU
        row.push_back(next());  // RAM total
        row.push_back(optional(g.ramMegabytes));
        row.push_back(next());  // disks
        row.push_back(optional(g.diskGigabytes));
        row.push_back(std::string_view(g.os));
        row.push_back(g.programs);
        row.push_back(std::int64_t{g.programsCollected ? 1 : 0});
        row.push_back(g.scans);
        for (std::size_t key = 0; key <= kKeys; ++key) row.push_back(next());  // and key_all
        row.push_back(g.ramMegabytes.value_or(-1));
        row.push_back(g.programsCollected ? g.programs : std::int64_t{-1});
        rows.push_back(std::move(row));
    }
    return connection.insertRows("machine_summary",
                                 std::vector<std::string_view>(std::begin(kSummaryColumns), std::end(kSummaryColumns)),
                                 rows);
}

// The dashboard's charts: what each counts of a summary, '' when unknown.
constexpr std::pair<const char*, const char*> kCountedCharts[] = {
    {"os", "os"},
    {"model", "maker_model"},
    {"ram", "COALESCE(CAST(ram_mb / 1024 AS TEXT), '')"},  // whole gigabytes, as the search takes them
    {"disk", "COALESCE(CAST(disk_gb AS TEXT), '')"},
    {"day", "substr(last_seen, 1, 10)"},  // the day and the minute last seen, for the ages
    {"minute", "substr(last_seen, 1, 16)"},
};

// One machine's summary counted in (`by` 1) or out (-1) of the charts.
Status countMachine(SqlConnection& connection, std::int64_t machineId, int by) {
    for (const auto& [chart, shown] : kCountedCharts) {
        const std::string sql =
            by > 0 ? std::string("INSERT INTO summary_counts (chart, shown, machines) SELECT '") + chart + "', " +
                         shown + ", 1 FROM machine_summary WHERE machine_id = ? "
                                 "ON CONFLICT (chart, shown) DO UPDATE SET machines = summary_counts.machines + 1"
                   : std::string("UPDATE summary_counts SET machines = machines - 1 WHERE chart = '") + chart +
                         "' AND shown = (SELECT " + shown + " FROM machine_summary WHERE machine_id = ?)";
        if (Status status = connection.query(sql, {machineId}); !status.ok()) return status;
    }
    return by > 0 ? Status{} : connection.execute("DELETE FROM summary_counts WHERE machines <= 0");
}

Status countAllMachines(SqlConnection& connection) {
    if (Status status = connection.execute("DELETE FROM summary_counts"); !status.ok()) return status;
    for (const auto& [chart, shown] : kCountedCharts) {
        Status status = connection.execute(std::string("INSERT INTO summary_counts (chart, shown, machines) SELECT '") +
                                           chart + "', " + shown + ", COUNT(*) FROM machine_summary GROUP BY 2");
        if (!status.ok()) return status;
    }
    return {};
}

// The newest scan's programs, and their names among every name searched
// with how many machines hold each.
Status copyNewestPrograms(SqlConnection& connection, std::optional<std::int64_t> machineId) {
    std::vector<SqlParam> params;
    std::string only, ofMachine;
    if (machineId) {
        only = " AND l.machine_id = ?";
        ofMachine = " AND machine_id = ?";
        params.emplace_back(*machineId);
    }
    // IN counts a machine once per name, however many versions it holds.
    auto countNames = [&](const char* by) {
        return connection.query(std::string("UPDATE program_names SET machines = machines ") + by +
                                    " WHERE name IN (SELECT name FROM latest_software WHERE machine_id = ?)",
                                params);
    };
    Status status = machineId ? countNames("- 1") : Status{};
    if (status.ok()) status = connection.query("DELETE FROM latest_software WHERE 1 = 1" + ofMachine, params);
    if (status.ok()) {
        status = connection.query(
            "INSERT INTO latest_software (machine_id, name, version) SELECT l.machine_id, s.name, s.version "
            "FROM latest l CROSS JOIN software s WHERE s.scan_id = l.id" + only,
            params);
    }
    if (status.ok()) {
        // WHERE keeps SQLite from reading ON CONFLICT as a join's ON.
        status = connection.query("INSERT INTO program_names (name, machines) SELECT DISTINCT name, 0 FROM "
                                  "latest_software WHERE 1 = 1" + ofMachine + " ON CONFLICT (name) DO NOTHING",
                                  params);
    }
    if (status.ok()) {
        status = machineId ? countNames("+ 1")
                           : connection.execute("UPDATE program_names SET machines = (SELECT COUNT(DISTINCT "
                                                "ls.machine_id) FROM latest_software ls WHERE ls.name = "
                                                "program_names.name)");
    }
    return status;
}

// SQLite's text index made to hold the summaries' key_all again (one
// machine's, or all); PostgreSQL's index follows the rows by itself.
Status copySummaryText(SqlConnection& connection, std::optional<std::int64_t> machineId) {
    if (connection.engine() != Engine::Sqlite) return {};
    std::vector<SqlParam> params;
    std::string only;
    if (machineId) {
        only = " WHERE machine_id = ?";
        params.emplace_back(*machineId);
    }
    Status status = connection.query(std::string("DELETE FROM summary_text") +
                                         (machineId ? " WHERE rowid = ?" : ""),
                                     params);
    if (!status.ok()) return status;
    return connection.query("INSERT INTO summary_text (rowid, key_all) SELECT machine_id, key_all FROM machine_summary" +
                                only,
                            params);
}

}  // namespace

std::string MachineSummaryTablesSql(Engine engine) {
    const bool sqlite = engine == Engine::Sqlite;
    const std::string ref = sqlite ? "INTEGER" : "BIGINT";
    // Keys compare byte for byte on both engines, as the list always has.
    const std::string key = sqlite ? "TEXT NOT NULL" : "TEXT COLLATE \"C\" NOT NULL";
    std::string sql = "CREATE TABLE machine_summary (machine_id " + ref +
                      " PRIMARY KEY REFERENCES machines(id) ON DELETE CASCADE,\n"
                      "  scan_id " + ref + " NOT NULL REFERENCES scans(id) ON DELETE CASCADE,\n"
                      "  name TEXT NOT NULL, generated TEXT NOT NULL, host_name TEXT NOT NULL,\n"
                      "  last_seen " + key + ", serial TEXT NOT NULL, maker TEXT NOT NULL, model TEXT NOT NULL,\n"
                      "  maker_model TEXT NOT NULL, cpu TEXT NOT NULL, ram_total TEXT NOT NULL, ram_mb BIGINT,\n"
                      "  disks TEXT NOT NULL, disk_gb BIGINT, os TEXT NOT NULL, programs BIGINT NOT NULL,\n"
                      "  programs_collected INTEGER NOT NULL, scans BIGINT NOT NULL";
    for (const char* column : kSummaryKeyColumns) sql += std::string(",\n  ") + column + " " + key;
    sql += ",\n  key_all " + key;
    sql += ",\n  sort_ram BIGINT NOT NULL, sort_programs BIGINT NOT NULL);\n";
    // Two indexes per sortable column, one for each direction (machines
    // equal in the column go by id either way): the first page of any order
    // is read from an index's start, whatever the fleet's size.
    for (const char* column : {"key_name", "key_host", "key_model", "key_serial", "key_cpu", "sort_ram", "key_disks",
                               "key_os", "sort_programs", "key_seen"}) {
        sql += std::string("CREATE INDEX machine_summary_by_") + column + " ON machine_summary (" + column +
               ", machine_id);\n";
        sql += std::string("CREATE INDEX machine_summary_by_") + column + "_down ON machine_summary (" + column +
               " DESC, machine_id);\n";
    }
    sql += "CREATE INDEX machine_summary_by_last_seen ON machine_summary (last_seen);\n"
           // How many machines' summaries show each operating system, maker
           // and model, RAM in whole gigabytes, disk size, and day and minute
           // last seen (compared byte for byte, as times are):
           // the dashboard's charts, kept as the summaries change. '' is unknown.
           "CREATE TABLE summary_counts (chart TEXT NOT NULL, shown " + key + ", machines BIGINT NOT NULL,\n"
           "  PRIMARY KEY (chart, shown));\n";
    sql += "CREATE TABLE latest_software (machine_id " + ref + " NOT NULL REFERENCES machines(id) ON DELETE CASCADE,\n"
           "  name TEXT NOT NULL,\n"
           "  version TEXT NOT NULL);\n"
           // Holding all three, a search reads the matching programs from
           // the index alone.
           "CREATE INDEX latest_software_by_name ON latest_software (name, version, machine_id);\n"
           // Every program name the newest scans have shown: a search matches
           // a text against these few thousand, then seeks their machines.
           "CREATE TABLE program_names (name TEXT PRIMARY KEY, machines BIGINT NOT NULL);\n"
           "CREATE INDEX latest_software_by_machine_name ON latest_software (machine_id, name, version);\n";
    return sql;
}

std::string ContainsSql(Engine engine, std::string_view column) {
    return (engine == Engine::Sqlite ? "instr(" : "strpos(") + std::string(column) + ", ?) > 0";
}

namespace {

// PostgreSQL's trigram module builds its trigrams word by word: "model 12"
// would propose every machine with an "i5-12500". So its index is on a copy
// of key_all (key_marked) in which each ASCII mark stands in as a letter: a
// key reads as one word and every three characters in a row count. The
// letters the marks share with real text only propose a few machines more,
// which comparing key_all itself then leaves out. The copy is a stored
// column because the index's every answer is checked against it.
constexpr std::string_view kMarks = " \n!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\t";
constexpr std::string_view kMarkLetters = "qkzzzzzzzzzzzzxjvzzzzzzzzzzzzzzzzzk";
static_assert(kMarks.size() == kMarkLetters.size());

std::string markedAsLetters(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (auto at = kMarks.find(c); at != std::string_view::npos) c = kMarkLetters[at];
    }
    return out;
}

// key_marked's definition: translate() by the same marks.
std::string markedAsLettersSql() {
    std::string marks;
    for (char c : kMarks) marks += c == '\'' ? std::string("''") : std::string(1, c);
    return "translate(key_all, '" + marks + "', '" + std::string(kMarkLetters) + "')";
}

}  // namespace

std::string SummaryTextIndexSql(Engine engine) {
    if (engine == Engine::Sqlite) {
        // Case kept: the keys are lowered already, and a phrase of trigrams
        // then matches exactly the texts that hold it.
        return "CREATE VIRTUAL TABLE summary_text USING fts5(key_all, tokenize = 'trigram case_sensitive 1');\n"
               "INSERT INTO summary_text (rowid, key_all) SELECT machine_id, key_all FROM machine_summary;\n";
    }
    // pg_trgm comes with the server's contributed modules and is trusted, so
    // a database's owner may add it; where it is missing or not ours to add,
    // the store does without the index (a filter then reads every summary)
    // rather than refusing to open.
    return "ALTER TABLE machine_summary ADD COLUMN key_marked TEXT COLLATE \"C\" GENERATED ALWAYS AS (" +
           markedAsLettersSql() +
           ") STORED;\n"
           "DO $$\n"
           "BEGIN\n"
           "  BEGIN\n"
           "    CREATE EXTENSION IF NOT EXISTS pg_trgm;\n"
           "  EXCEPTION WHEN OTHERS THEN\n"
           "    NULL;\n"
           "  END;\n"
           "  IF EXISTS (SELECT 1 FROM pg_opclass WHERE opcname = 'gin_trgm_ops' AND pg_opclass_is_visible(oid)) THEN\n"
           "    CREATE INDEX machine_summary_by_text ON machine_summary USING gin (key_marked gin_trgm_ops);\n"
           "  END IF;\n"
           "END\n"
           "$$;\n";
}

std::string ComparableText(std::string_view typed) {
    std::string text = lowerAscii(replaceInvalidUtf8(typed));
    for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at)) {
        text.replace(at, 1, "\xEF\xBF\xBD");
    }
    return text;
}

CellsFilter CellsContainingSql(Engine engine, const std::string& needle, CellsLookup lookup) {
    CellsFilter filter;
    if (needle.find('\n') != std::string::npos) {
        for (const char* column : kSummaryKeyColumns) {
            filter.sql += (filter.sql.empty() ? "(" : " OR ") + ContainsSql(engine, std::string("s.") + column);
            filter.texts.push_back(needle);
        }
        filter.sql += ")";
        return filter;
    }
    std::size_t characters = 0;
    for (char c : needle) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (characters >= 3 && lookup == CellsLookup::Indexed) {
        // The index names the machines whose keys hold the text's trigrams
        // in a row; comparing their keys again keeps the answer exact. On
        // SQLite the index leads the join, so that a count with a limit
        // stops reading it there.
        if (engine == Engine::Sqlite) {
            std::string phrase = "\"";
            for (char c : needle) {
                phrase += c;
                if (c == '"') phrase += '"';
            }
            filter.tables = ", summary_text t";
            filter.sql = "t.rowid = s.machine_id AND t.summary_text MATCH ? AND ";
            filter.texts.push_back(phrase + "\"");
        } else {
            // LIKE's own marks are letters by then, so nothing needs escaping.
            filter.sql = "s.key_marked LIKE ? AND ";
            filter.texts.push_back("%" + markedAsLetters(needle) + "%");
        }
    }
    filter.sql += ContainsSql(engine, "s.key_all");
    filter.texts.push_back(needle);
    return filter;
}

Result<std::size_t> CountSummarisedMachines(SqlConnection& connection) {
    auto machines = queryValue(connection, "SELECT COALESCE(SUM(machines), 0) FROM summary_counts WHERE chart = 'os'");
    if (!machines) return machines.failure();
    return *machines ? static_cast<std::size_t>(std::stoull(**machines)) : std::size_t{0};
}

Status RefreshMachineSummary(SqlConnection& connection, std::int64_t machineId) {
    auto previous = queryValue(connection, "SELECT scan_id FROM machine_summary WHERE machine_id = ?", {machineId});
    if (!previous) return previous.failure();
    auto machines = gather(connection, machineId);
    if (!machines) return machines.failure();
    Status status = countMachine(connection, machineId, -1);
    if (status.ok()) status = connection.query("DELETE FROM machine_summary WHERE machine_id = ?", {machineId});
    if (status.ok()) status = writeSummaries(connection, *machines);
    if (status.ok()) status = copySummaryText(connection, machineId);
    if (status.ok()) status = countMachine(connection, machineId, 1);
    // The programs are copied again only when the newest scan is another.
    const bool sameScan = *previous && !machines->empty() && *previous == std::to_string(machines->front().scanId);
    if (status.ok() && !sameScan) status = copyNewestPrograms(connection, machineId);
    return status;
}

Status RefreshAllMachineSummaries(SqlConnection& connection) {
    auto machines = gather(connection, std::nullopt);
    if (!machines) return machines.failure();
    Status status = connection.execute("DELETE FROM machine_summary");
    if (status.ok()) status = writeSummaries(connection, *machines);
    if (status.ok()) status = copySummaryText(connection, std::nullopt);
    if (status.ok()) status = countAllMachines(connection);
    if (status.ok()) status = copyNewestPrograms(connection, std::nullopt);
    return status;
}

}  // namespace veltrix::store
