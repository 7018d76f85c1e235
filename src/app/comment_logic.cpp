#include "app/comment_logic.h"

#include "report/text.h"

namespace veltrix {

std::string CommentForDialog(const ScanState& state) { return state.comment; }

void ConfirmComment(ScanState& state, std::string_view typed) {
    std::string text(typed);
    state.comment = EncodeHtmlChars(text);
}

}  // namespace veltrix
