// The report name dialog's behaviour without any window: the proposal from
// the enclosure serial number, the characters the name field refuses and the
// OK button. The desktop front ends draw the dialog and call these.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/scan_state.h"
#include "app/ui.h"
#include "core/platform.h"
#include "wmi/service.h"

namespace veltrix {

inline constexpr std::string_view kEmptyNameMessage = "Bitte das Feld Bezeichnung ausfüllen";

// True when a typed character is swallowed: the double quote and \ / : * ?
// < > | and space (exact, case-sensitive match), characters a file name
// cannot hold or that would make the report land outside the program folder.
// Control keys such as backspace are not characters of the list and pass.
bool IsRefusedNameCharacter(char32_t c);

// Pasted or dropped text with every refused character and every control
// character (a line break, a NUL) removed (UTF-8 in, UTF-8 out; other
// characters are kept as they are).
std::string FilterNameText(std::string_view utf8);

// The proposal for the name field: the last non-empty enclosure serial,
// trimmed of blanks. nullopt when the field keeps its initial text (no
// enclosure, or the data source failed). Once an enclosure has been seen the
// field is written on every round, so enclosures without a serial before the
// first serial give an empty proposal. Failures are not reported.
// Path characters in a serial (\ / :) are dropped so that a firmware text can
// never point the report outside the program folder.
std::optional<std::string> ProposeReportName(wmi::Service& wmi);

enum class NameConfirmation { Refused, ScanStarted };

// The OK button. An empty name shows the critical message and is refused:
// the caller puts the focus back into the field. Otherwise the report name
// becomes the text + ".htm", the empty report file is created in the program
// folder (a failure here is left to the scan's existence test) and the scan
// runs; this returns when the scan has finished.
NameConfirmation ConfirmReportName(std::string_view text, ScanState& state, Platform& platform, Ui& ui,
                                   const std::function<void()>& runScan);

}  // namespace veltrix
