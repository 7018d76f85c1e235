// A tolerant reading of an HTML page as its tables: rows, cells, the text of
// each cell and the tables nested in it. It accepts the page as this program
// writes it and as a browser saves it again (other quoting, added tbody, closed
// cells), and it is safe on hostile input: no recursion, a bound on nesting
// and on the number of tables and cells, one pass over the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace veltrix::data::html {

struct Cell {
    std::string width;    // attribute values as written, lower case
    std::string bgcolor;
    // The cell's own text: entities decoded, `&nbsp;` dropped, <br> and <p>
    // as line breaks, other tags left out. Text of nested tables is not in it.
    std::string text;
    std::vector<std::size_t> tables;  // tables opened directly inside this cell
};

struct TableRow {
    std::vector<Cell> cells;
};

struct Table {
    std::vector<TableRow> rows;
    bool nested = false;  // opened inside a cell of another table
};

struct Document {
    std::string title;             // decoded text of <title>
    std::vector<Table> tables;     // in the order they were opened
    bool complete = false;         // the closing </html> (or </body>) was seen
};

struct Limits {
    std::size_t maxTableDepth = 32;
    std::size_t maxElements = 2'000'000;  // tables, rows and cells together
};

// `utf8` is the page already decoded to UTF-8.
Result<Document> ReadTables(std::string_view utf8, const Limits& limits = {});

// Appends `text` with its character references decoded and `&nbsp;` (and the
// no-break space itself) dropped. Unknown references stay as written.
void AppendDecoded(std::string_view text, std::string& out);

}  // namespace veltrix::data::html
