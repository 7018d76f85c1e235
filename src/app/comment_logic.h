// The comment dialog's behaviour without any window.
#pragma once

#include <string>
#include <string_view>

#include "app/scan_state.h"

namespace veltrix {

// What the text box shows when the dialog opens: the stored comment as it is
// stored for the page, so an umlaut confirmed earlier comes back as its entity.
std::string CommentForDialog(const ScanState& state);

// OK: the comment becomes the typed text with umlauts and double quotes
// turned into entities. An empty text removes the comment. Cancel and Esc
// do not call this, so the previous comment stays.
void ConfirmComment(ScanState& state, std::string_view typed);

}  // namespace veltrix
