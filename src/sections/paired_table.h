// The four-column list of the hotfix and software sections: entries set out
// two to a line, built in memory and written as the value of one row.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrix {

class PairedTable {
public:
    // Starts with the outer table's opening.
    PairedTable();

    // The column headings; `secondHeading` names the narrow column
    // ("Hotfix ID" or "Version").
    void addHeadings(std::string_view secondHeading);

    // One entry in the next free half of a line. Both texts come from the
    // machine and are made safe: they never become markup.
    void add(std::string_view description, std::string_view second);

    std::size_t entries() const { return entries_; }
    // Room for about `count` more entries, so that a long list is not copied
    // as it grows.
    void reserve(std::size_t count);

    // Fills an odd last line and closes the inner table, the row and the
    // outer table, in that order; returns the whole text. Called once, last.
    std::string finish();

private:
    std::string text_;
    bool rightHalf_ = false;  // the next entry takes the right half of a line
    std::size_t entries_ = 0;
};

}  // namespace veltrix
