// What each machine's newest scan shows, one row per machine, kept current as
// scans arrive: the fleet list, search and dashboard read these rows (and
// the newest scans' programs beside them) instead of gathering every
// machine's rows on each request, so that their cost follows what they show,
// not the size of the store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::store {

// The columns of machine_summary that hold the fleet list's ten cells
// lowered, in the list's order; key_all holds them all, one per line.
inline constexpr const char* kSummaryKeyColumns[] = {"key_name", "key_host",  "key_model", "key_serial",
                                                     "key_cpu",  "key_ram",   "key_disks", "key_os",
                                                     "key_programs", "key_seen"};

// The tables: machine_summary, summary_counts, latest_software and
// program_names.
std::string MachineSummaryTablesSql(Engine engine);

// Makes one machine's row and newest programs agree with its scans again
// (none when it has no scan left). Called after every change to a
// machine's scans, in the same transaction.
Status RefreshMachineSummary(SqlConnection& connection, std::int64_t machineId);
// Every machine's, made anew: after an upgrade or a bulk load.
Status RefreshAllMachineSummaries(SqlConnection& connection);

// How many machines there are, from the kept counts.
Result<std::size_t> CountSummarisedMachines(SqlConnection& connection);

// "Contains" on both engines, byte for byte: `column` holds `?`.
std::string ContainsSql(Engine engine, std::string_view column);

// A typed text as the keys can hold it: ASCII letters lowered, and each
// byte that is no UTF-8, or NUL, as U+FFFD (PostgreSQL refuses both in a
// text, and no cell holds them).
std::string ComparableText(std::string_view typed);

// The index of the summaries' cells by their substrings (version 4): each
// key_all's character trigrams, on SQLite in a full-text table, on
// PostgreSQL in a trigram index where the server has pg_trgm.
std::string SummaryTextIndexSql(Engine engine);

// The condition on machine_summary `s` that one of a machine's list cells
// holds `needle` (as ComparableText makes it), the tables it reads beside
// `s` (to follow "FROM machine_summary s"), and the texts it binds in order.
// A needle of three characters or more is looked up in the text index; a
// shorter one, or one holding a line feed (which could span two cells),
// compares every summary. `RowByRow` never asks the index, for a query that
// another index leads: one that narrows the summaries to a few, or that
// walks them in an order and stops at a page.
struct CellsFilter {
    std::string tables;
    std::string sql;
    std::vector<std::string> texts;
};
enum class CellsLookup { Indexed, RowByRow };
CellsFilter CellsContainingSql(Engine engine, const std::string& needle, CellsLookup lookup = CellsLookup::Indexed);

}  // namespace veltrix::store
