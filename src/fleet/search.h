// Search across the fleet's newest scans: where a program is installed (by
// name and version), and machines by RAM, disk size, model or operating
// system. Every criterion given must hold; results are machines by name, in
// pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/result.h"
#include "fleet/machine_figures.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

inline constexpr std::size_t kSearchPageSize = 100;
// Texts longer than this are cut: a search box is not a place for essays.
inline constexpr std::size_t kSearchTextLimit = 200;

struct SearchQuery {
    // Parts of the name and version, case-insensitively; empty: any.
    std::string program, version;
    std::optional<std::int64_t> ramAtLeastGb, ramAtMostGb;
    std::optional<std::int64_t> diskAtLeastGb, diskAtMostGb;  // all disks together
    std::string model;                                        // part of "maker / model"
    std::string os;                                           // part of the operating system's name
    std::size_t page = 1;

    bool empty() const;
};

// From the query's fields; numbers that are not whole, non-negative figures
// are left out, and `rejected` names them so the page can say so.
SearchQuery searchQueryFrom(const std::string& program, const std::string& version, const std::string& ramMin,
                            const std::string& ramMax, const std::string& diskMin, const std::string& diskMax,
                            const std::string& model, const std::string& os, const std::string& page,
                            std::vector<std::string>* rejected = nullptr);

struct SearchHit {
    MachineFigures machine;
    // The matching programs (name, version) when the search named one.
    std::vector<std::pair<std::string, std::string>> programs;
};

struct SearchResult {
    std::size_t matching = 0;  // machines
    std::size_t page = 1, pages = 1;
    std::vector<SearchHit> hits;  // this page
};

// An empty query finds nothing (rather than listing the whole fleet).
Result<SearchResult> searchFleet(store::SqlConnection& connection, const SearchQuery& query);

}  // namespace veltrix::fleet
