// A database of its own for a benchmark, on the PostgreSQL server that
// tests/store/with_postgres.sh started.
#pragma once

#include <string>

#include "store/sql_connection.h"

namespace veltrix::bench {

// The URL of a new, empty database `name` beside the one `url` names (one
// left from an earlier run is dropped first); empty when it cannot be made.
inline std::string freshPostgres(const std::string& url, const std::string& name) {
    auto admin = store::openPostgres(url);
    if (!admin || !(*admin)->execute("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)").ok() ||
        !(*admin)->execute("CREATE DATABASE " + name).ok()) {
        return {};
    }
    std::string target = url;
    std::size_t slash = target.find('/', target.find("://") + 3);
    std::size_t query = target.find('?', slash);
    target.replace(slash, (query == std::string::npos ? target.size() : query) - slash, "/" + name);
    return target;
}

}  // namespace veltrix::bench
