// Text helpers applied to values before they go into the report.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix {

// The hardware part of a device instance id: everything before the first
// backslash after "&REV" (any case). An id without "&REV" comes back as it is;
// one whose "&REV" has no backslash after it also comes back whole.
std::string CutPnpDeviceId(std::string_view deviceId);

// German umlauts to entities; the double quote to "&#34;". Replaces the
// argument and returns the same text.
std::string EncodeHtmlChars(std::string& text);

// Machine texts become page text, never markup: "<" and ">" to "&lt;" and
// "&gt;". "&" stays, so device ids keep their exact form. Control characters
// other than TAB become a space, so a value cannot split a report line.
std::string EscapeMarkup(std::string_view text);

// Text for the pages made from reports (comparisons, the fleet overview),
// which are not bound to the report's exact form: every character with a
// meaning in markup, quotes included, becomes its entity.
std::string EscapeHtml(std::string_view text);

}  // namespace veltrix
