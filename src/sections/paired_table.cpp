#include "sections/paired_table.h"

#include <algorithm>

#include "report/text.h"

namespace veltrix {

namespace {

// The gap between the two halves of a line. Its attribute is spelled
// "borders" on purpose: the report format is fixed byte for byte.
constexpr std::string_view kGapCell = "<td width='5' borders='0'></td>";

void appendSafe(std::string& out, std::string_view text) {
    // A plain loop: find_first_of looks each letter up in the set by a
    // library call, and a software list passes thousands of names.
    if (std::none_of(text.begin(), text.end(), [](char c) { return c == '<' || c == '>'; })) {
        out += text;
    } else {
        out += EscapeMarkup(text);
    }
}

}  // namespace

PairedTable::PairedTable() { text_ = "<table border='0' cellspacing='3' cellpadding='0'><tr valign='top'><td>"; }

void PairedTable::addHeadings(std::string_view secondHeading) {
    const std::string second = "<td width='60' align='center'>" + std::string(secondHeading) + "</td>";
    text_ += "<table border='1' cellspacing='0' cellpadding='0'>";
    text_ += "<tr><td width='290' align='center'>Description</td>";
    text_ += second;
    text_ += kGapCell;
    text_ += "<td width='290' align='center'>Description</td>";
    text_ += second;
    text_ += "</tr>";
}

void PairedTable::reserve(std::size_t count) {
    // The markup of an entry and its share of a line, with names and
    // versions of the usual length.
    constexpr std::size_t kEntryBytes = 160;
    text_.reserve(text_.size() + count * kEntryBytes);
}

void PairedTable::add(std::string_view description, std::string_view second) {
    if (!rightHalf_) text_ += "<tr>";
    text_ += "<td width='290' valign='top'>&nbsp;";
    appendSafe(text_, description);
    text_ += "</td><td width='60' valign='top'>&nbsp;";
    appendSafe(text_, second);
    text_ += "</td>";
    text_ += rightHalf_ ? std::string_view("</tr>") : kGapCell;
    rightHalf_ = !rightHalf_;
    ++entries_;
}

std::string PairedTable::finish() {
    if (rightHalf_) text_ += "<td>&nbsp;</td><td>&nbsp;</td></tr>";
    text_ += "</table></tr></table>";
    rightHalf_ = false;
    return std::move(text_);
}

}  // namespace veltrix
