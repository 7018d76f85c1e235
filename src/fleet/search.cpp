#include "fleet/search.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "store/machine_summary.h"

namespace veltrix::fleet {
namespace {

// A LIKE pattern that finds `text` anywhere, its own % and _ taken literally.
std::string likeAnywhere(std::string_view text) {
    std::string pattern = "%";
    for (char c : store::ComparableText(text)) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

std::optional<std::int64_t> wholeFigure(const std::string& text, const char* name, std::vector<std::string>* rejected) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Up to a million GB, so that no figure overflows when turned into MB.
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > 1000000) {
        if (rejected) rejected->push_back(name);
        return std::nullopt;
    }
    return value;
}

bool hardwareAsked(const SearchQuery& q) {
    return q.ramAtLeastGb || q.ramAtMostGb || q.diskAtLeastGb || q.diskAtMostGb || !q.model.empty() || !q.os.empty();
}

}  // namespace

bool SearchQuery::empty() const { return program.empty() && version.empty() && !hardwareAsked(*this); }

SearchQuery searchQueryFrom(const std::string& program, const std::string& version, const std::string& ramMin,
                            const std::string& ramMax, const std::string& diskMin, const std::string& diskMax,
                            const std::string& model, const std::string& os, const std::string& page,
                            std::vector<std::string>* rejected) {
    SearchQuery q;
    q.program = program.substr(0, kSearchTextLimit);
    q.version = version.substr(0, kSearchTextLimit);
    q.model = model.substr(0, kSearchTextLimit);
    q.os = os.substr(0, kSearchTextLimit);
    q.ramAtLeastGb = wholeFigure(ramMin, "ram-min", rejected);
    q.ramAtMostGb = wholeFigure(ramMax, "ram-max", rejected);
    q.diskAtLeastGb = wholeFigure(diskMin, "disk-min", rejected);
    q.diskAtMostGb = wholeFigure(diskMax, "disk-max", rejected);
    std::size_t number = 0;
    auto [end, error] = std::from_chars(page.data(), page.data() + page.size(), number);
    if (error == std::errc() && end == page.data() + page.size() && number >= 1) q.page = number;
    return q;
}

Result<SearchResult> searchFleet(store::SqlConnection& connection, const SearchQuery& query) {
    SearchResult result;
    if (query.empty()) return result;
    const store::Engine engine = connection.engine();

    // The hardware asked for, as conditions on the machines' summaries.
    std::string conditions;
    std::vector<store::SqlParam> hardware;
    auto bound = [&](const char* column, const std::optional<std::int64_t>& value, std::int64_t scale,
                       const char* comparison) {
        if (!value) return;
        conditions += std::string(" AND s.") + column + comparison + "?";
        hardware.emplace_back(*value * scale);
    };
    bound("ram_mb", query.ramAtLeastGb, 1024, " >= ");
    bound("ram_mb", query.ramAtMostGb, 1024, " <= ");
    bound("disk_gb", query.diskAtLeastGb, 1, " >= ");
    bound("disk_gb", query.diskAtMostGb, 1, " <= ");
    const std::string model = store::ComparableText(query.model), os = store::ComparableText(query.os);
    if (!model.empty()) {
        conditions += " AND " + store::ContainsSql(engine, "s.key_model");
        hardware.emplace_back(std::string_view(model));
    }
    if (!os.empty()) {
        conditions += " AND " + store::ContainsSql(engine, "s.key_os");
        hardware.emplace_back(std::string_view(os));
    }

    // The machines that hold a program asked for: its names matched among
    // the few the fleet has, then the newest scans that hold them.
    const bool programAsked = !query.program.empty() || !query.version.empty();
    const std::string name = likeAnywhere(query.program), version = likeAnywhere(query.version);
    // SQLite's LIKE ignores the case of ASCII letters as it is;
    // PostgreSQL's needs ILIKE.
    const std::string like = engine == store::Engine::Postgres ? "ILIKE" : "LIKE";
    const std::string programs = "FROM program_names p CROSS JOIN latest_software ls WHERE p.name " + like +
                                 " ? ESCAPE '\\' AND ls.name = p.name AND ls.version " + like + " ? ESCAPE '\\'";
    // The names that match, and how many machines hold each.
    std::size_t names = 0, holdingName = 0;
    if (programAsked) {
        Status status = connection.query(
            "SELECT COUNT(*), COALESCE(SUM(machines), 0) FROM program_names p WHERE p.name " + like + " ? ESCAPE '\\'",
            {std::string_view(name)}, [&](const store::SqlRow& row) {
                names = static_cast<std::size_t>(row.integer(0));
                holdingName = static_cast<std::size_t>(row.integer(1));
            });
        if (!status.ok()) return status.failure;
        if (names == 0) return result;
    }
    std::vector<store::SqlParam> params;
    std::string holding = " FROM machine_summary s WHERE 1 = 1";
    if (programAsked) {
        holding += " AND s.machine_id IN (SELECT ls.machine_id " + programs + ")";
        params = {std::string_view(name), std::string_view(version)};
    }
    holding += conditions;
    params.insert(params.end(), hardware.begin(), hardware.end());

    // Counted by the store: one name alone from its kept count, a program
    // from the index of the newest scans' programs.
    const bool nameAlone = programAsked && names == 1 && query.version.empty() && conditions.empty();
    if (nameAlone) {
        result.matching = holdingName;
    } else {
        auto counted = store::queryValue(connection,
                                         programAsked && conditions.empty()
                                             ? "SELECT COUNT(DISTINCT ls.machine_id) " + programs
                                             : "SELECT COUNT(*)" + holding,
                                         params);
        if (!counted) return counted.failure();
        result.matching = *counted ? std::stoull(**counted) : 0;
    }
    result.pages = std::max<std::size_t>(1, (result.matching + kSearchPageSize - 1) / kSearchPageSize);
    result.page = std::min(query.page, result.pages);
    if (result.matching == 0) return result;
    // Where the program is common, the machines are walked in name order and
    // each asked whether it holds it, so the page is found within a few
    // hundred; where it is rare, its machines are gathered and sorted.
    if (programAsked) {
        auto machines = store::CountSummarisedMachines(connection);
        if (!machines) return machines.failure();
        if (result.matching * 20 >= *machines) {
            holding = " FROM machine_summary s WHERE EXISTS (SELECT 1 FROM latest_software ls WHERE ls.machine_id = "
                      "s.machine_id AND ls.name IN (SELECT p.name FROM program_names p WHERE p.name " + like +
                      " ? ESCAPE '\\') AND ls.version " + like + " ? ESCAPE '\\')" + conditions;
        }
    }
    params.emplace_back(static_cast<std::int64_t>(kSearchPageSize));
    params.emplace_back(static_cast<std::int64_t>((result.page - 1) * kSearchPageSize));
    std::vector<store::SqlParam> pageParams;
    std::string listed;
    Status status = connection.query(
        "SELECT " + MachineFiguresColumnsSql() + holding + " ORDER BY s.key_name, s.machine_id LIMIT ? OFFSET ?",
        params, [&](const store::SqlRow& row) {
            result.hits.push_back({MachineFiguresOf(row), {}});
            pageParams.emplace_back(result.hits.back().machine.machineId);
            listed += listed.empty() ? "?" : ", ?";
        });
    if (!status.ok()) return status.failure;
    if (!programAsked || result.hits.empty()) return result;
    pageParams.emplace_back(std::string_view(name));
    pageParams.emplace_back(std::string_view(version));

    // The programs found on the page's machines.
    std::map<std::int64_t, SearchHit*> hitOf;
    for (auto& hit : result.hits) hitOf[hit.machine.machineId] = &hit;
    // Walked from the page's machines, each sought in the index of its
    // programs: started from the names, SQLite makes itself an index of
    // every machine's programs first.
    status = connection.query("SELECT ls.machine_id, ls.name, ls.version FROM machine_summary s CROSS JOIN "
                              "latest_software ls WHERE s.machine_id IN (" + listed + ") AND ls.machine_id = "
                              "s.machine_id AND ls.name IN (SELECT p.name FROM program_names p WHERE p.name " + like +
                                  " ? ESCAPE '\\') AND ls.version " + like + " ? ESCAPE '\\' ORDER BY ls.name, ls.version",
                              pageParams, [&](const store::SqlRow& row) {
                                  if (auto found = hitOf.find(row.integer(0)); found != hitOf.end()) {
                                      found->second->programs.emplace_back(std::string(row.text(1).value_or("")),
                                                                           std::string(row.text(2).value_or("")));
                                  }
                              });
    if (!status.ok()) return status.failure;
    return result;
}

}  // namespace veltrix::fleet
