#include "fleet/search.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "core/ascii.h"

namespace veltrix::fleet {
namespace {

bool contains(std::string_view haystack, const std::string& needle) {
    return needle.empty() || lowerAscii(haystack).find(lowerAscii(needle)) != std::string::npos;
}

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

bool inRange(const std::optional<std::int64_t>& value, const std::optional<std::int64_t>& least,
             const std::optional<std::int64_t>& most) {
    if (!least && !most) return true;
    if (!value) return false;
    return (!least || *value >= *least) && (!most || *value <= *most);
}

bool hardwareAsked(const SearchQuery& q) {
    return q.ramAtLeastGb || q.ramAtMostGb || q.diskAtLeastGb || q.diskAtMostGb || !q.model.empty() || !q.os.empty();
}

bool matchesHardware(const MachineFigures& m, const SearchQuery& q) {
    std::optional<std::int64_t> ramLeast, ramMost;
    if (q.ramAtLeastGb) ramLeast = *q.ramAtLeastGb * 1024;
    if (q.ramAtMostGb) ramMost = *q.ramAtMostGb * 1024;
    return inRange(m.ramMegabytes, ramLeast, ramMost) && inRange(m.diskGigabytes, q.diskAtLeastGb, q.diskAtMostGb) &&
           contains(m.makerModel(), q.model) && contains(m.os, q.os);
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
    const bool programAsked = !query.program.empty() || !query.version.empty();

    // Machine id to its name (for the order) and, when asked, its programs.
    struct Candidate {
        std::string name;
        std::vector<std::pair<std::string, std::string>> programs;
    };
    std::map<std::int64_t, Candidate> candidates;
    if (programAsked) {
        const std::string name = likeAnywhere(query.program), version = likeAnywhere(query.version);
        // SQLite's LIKE ignores the case of ASCII letters as it is;
        // PostgreSQL's needs ILIKE. Either compares the stored text without
        // making a lowered copy of every program's name.
        const std::string like = connection.engine() == store::Engine::Postgres ? "ILIKE" : "LIKE";
        Status status = connection.query(
            "SELECT l.machine_id, l.machine, s.name, s.version FROM latest l CROSS JOIN software s "
            "WHERE s.scan_id = l.id AND s.name " + like + " ? ESCAPE '\\' AND s.version " + like +
                " ? ESCAPE '\\' ORDER BY s.name, s.version",
            {std::string_view(name), std::string_view(version)}, [&](const store::SqlRow& row) {
                Candidate& c = candidates[row.integer(0)];
                c.name = std::string(row.text(1).value_or(""));
                c.programs.emplace_back(std::string(row.text(2).value_or("")), std::string(row.text(3).value_or("")));
            });
        if (!status.ok()) return status.failure;
    }

    std::vector<SearchHit> matching;
    if (hardwareAsked(query)) {
        // Every machine's figures are needed to compare them; only the newest
        // scan's few rows of each are read.
        std::optional<std::vector<std::int64_t>> only;
        if (programAsked) {
            only.emplace();
            for (const auto& [id, c] : candidates) only->push_back(id);
        }
        auto figures = readMachineFigures(connection, only);
        if (!figures) return figures.failure();
        for (auto& m : *figures) {
            if (!matchesHardware(m, query)) continue;
            SearchHit hit{std::move(m), {}};
            if (programAsked) hit.programs = std::move(candidates[hit.machine.machineId].programs);
            matching.push_back(std::move(hit));
        }
    } else {
        for (auto& [id, c] : candidates) {
            SearchHit hit;
            hit.machine.machineId = id;
            hit.machine.name = c.name;
            hit.programs = std::move(c.programs);
            matching.push_back(std::move(hit));
        }
    }
    std::sort(matching.begin(), matching.end(), [](const SearchHit& a, const SearchHit& b) {
        std::string x = lowerAscii(a.machine.name), y = lowerAscii(b.machine.name);
        return x != y ? x < y : a.machine.machineId < b.machine.machineId;
    });
    result.matching = matching.size();
    result.pages = std::max<std::size_t>(1, (matching.size() + kSearchPageSize - 1) / kSearchPageSize);
    result.page = std::min(query.page, result.pages);
    const std::size_t first = (result.page - 1) * kSearchPageSize;
    for (std::size_t i = first; i < matching.size() && i < first + kSearchPageSize; ++i) {
        result.hits.push_back(std::move(matching[i]));
    }
    if (!hardwareAsked(query) && !result.hits.empty()) {
        // Only a program was asked: the page's machines' figures, read now.
        std::vector<std::int64_t> ids;
        for (const auto& hit : result.hits) ids.push_back(hit.machine.machineId);
        auto figures = readMachineFigures(connection, ids);
        if (!figures) return figures.failure();
        std::map<std::int64_t, MachineFigures*> byId;
        for (auto& m : *figures) byId[m.machineId] = &m;
        for (auto& hit : result.hits) {
            if (auto found = byId.find(hit.machine.machineId); found != byId.end()) hit.machine = std::move(*found->second);
        }
    }
    return result;
}

}  // namespace veltrix::fleet
