// The fleet in figures: how many machines run each operating system, come
// from each maker and model, have how much RAM and disk, and how long ago
// each was last seen. Counted from every machine's newest scan.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

// The most frequent names get a bar each; the rest are counted together.
inline constexpr std::size_t kDashboardBars = 12;

struct DashboardBar {
    std::string label;
    std::size_t machines = 0;
    // The search fields that list these machines ({"ram-min", "8"}, {"ram-max", "15"});
    // none for the rest and for unknown figures.
    std::vector<std::pair<std::string, std::string>> search;
};

struct DashboardChart {
    std::string key;    // "os", "model", "ram", "disk", "seen"
    std::string title;  // "Machines by operating system"
    std::vector<DashboardBar> bars;
};

struct Dashboard {
    std::size_t machines = 0;
    std::vector<DashboardChart> charts;
};

Result<Dashboard> readDashboard(store::SqlConnection& connection, std::time_t now);

}  // namespace veltrix::fleet
