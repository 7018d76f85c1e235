#include "fleet/search.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "core/ascii.h"
#include "store/machine_summary.h"

namespace veltrix::fleet {
namespace {

// A LIKE pattern that finds `text` anywhere, its own % and _ taken literally.
std::string likeAnywhere(std::string_view text) {
    std::string pattern = "%";
    for (char c : lowerAscii(text)) {
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
    const std::string model = lowerAscii(query.model), os = lowerAscii(query.os);
    if (!model.empty()) {
        conditions += " AND " + store::ContainsSql(engine, "s.key_model");
        hardware.emplace_back(std::string_view(model));
    }
    if (!os.empty()) {
        conditions += " AND " + store::ContainsSql(engine, "s.key_os");
        hardware.emplace_back(std::string_view(os));
    }

    auto paginate = [&](std::size_t matching) {
        result.matching = matching;
        result.pages = std::max<std::size_t>(1, (matching + kSearchPageSize - 1) / kSearchPageSize);
        result.page = std::min(query.page, result.pages);
        return (result.page - 1) * kSearchPageSize;
    };

    if (query.program.empty() && query.version.empty()) {
        // Hardware alone: counted and paged by the store.
        auto counted = store::queryValue(connection, "SELECT COUNT(*) FROM machine_summary s WHERE 1 = 1" + conditions,
                                         hardware);
        if (!counted) return counted.failure();
        const std::size_t offset = paginate(*counted ? std::stoull(**counted) : 0);
        std::vector<store::SqlParam> params = hardware;
        params.emplace_back(static_cast<std::int64_t>(kSearchPageSize));
        params.emplace_back(static_cast<std::int64_t>(offset));
        Status status = connection.query("SELECT " + MachineFiguresColumnsSql() +
                                             " FROM machine_summary s WHERE 1 = 1" + conditions +
                                             " ORDER BY s.key_name, s.machine_id LIMIT ? OFFSET ?",
                                         params, [&](const store::SqlRow& row) {
                                             result.hits.push_back({MachineFiguresOf(row), {}});
                                         });
        if (!status.ok()) return status.failure;
        return result;
    }

    // A program: its names matched among the few the fleet has, then the
    // newest scans that hold them, machines in name order.
    const std::string name = likeAnywhere(query.program), version = likeAnywhere(query.version);
    // SQLite's LIKE ignores the case of ASCII letters as it is;
    // PostgreSQL's needs ILIKE.
    const std::string like = engine == store::Engine::Postgres ? "ILIKE" : "LIKE";
    std::vector<store::SqlParam> params{std::string_view(name), std::string_view(version)};
    params.insert(params.end(), hardware.begin(), hardware.end());
    std::vector<SearchHit> matching;
    Status status = connection.query(
        "SELECT s.machine_id, ls.name, ls.version FROM program_names p CROSS JOIN latest_software ls "
        "CROSS JOIN machine_summary s WHERE p.name " + like + " ? ESCAPE '\\' AND ls.name = p.name AND ls.version " +
            like + " ? ESCAPE '\\' AND s.machine_id = ls.machine_id" + conditions +
            " ORDER BY s.key_name, s.machine_id, ls.name, ls.version",
        params, [&](const store::SqlRow& row) {
            const std::int64_t id = row.integer(0);
            if (matching.empty() || matching.back().machine.machineId != id) {
                matching.emplace_back();
                matching.back().machine.machineId = id;
            }
            matching.back().programs.emplace_back(std::string(row.text(1).value_or("")),
                                                  std::string(row.text(2).value_or("")));
        });
    if (!status.ok()) return status.failure;
    const std::size_t offset = paginate(matching.size());
    std::vector<std::int64_t> ids;
    for (std::size_t i = offset; i < matching.size() && i < offset + kSearchPageSize; ++i) {
        ids.push_back(matching[i].machine.machineId);
        result.hits.push_back(std::move(matching[i]));
    }
    auto figures = readMachineFigures(connection, ids);
    if (!figures) return figures.failure();
    std::map<std::int64_t, MachineFigures*> byId;
    for (auto& m : *figures) byId[m.machineId] = &m;
    for (auto& hit : result.hits) {
        if (auto found = byId.find(hit.machine.machineId); found != byId.end()) hit.machine = std::move(*found->second);
    }
    return result;
}

}  // namespace veltrix::fleet
