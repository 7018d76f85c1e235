#include "app/comment_logic.h"

#include <gtest/gtest.h>

namespace veltrix {
namespace {

TEST(CommentLogic, UmlautRoundTripIsStable) {
    ScanState state;
    EXPECT_EQ(CommentForDialog(state), "");
    ConfirmComment(state, "Pr\xC3\xBC" "fung");
    EXPECT_EQ(state.comment, "Pr&uuml;fung");
    const std::string shown = CommentForDialog(state);
    EXPECT_EQ(shown, "Pr&uuml;fung");
    ConfirmComment(state, shown);  // OK again without editing
    EXPECT_EQ(state.comment, "Pr&uuml;fung");
}

TEST(CommentLogic, EmptyTextRemovesTheComment) {
    ScanState state{"x.htm", "Alt"};
    ConfirmComment(state, "");
    EXPECT_EQ(state.comment, "");
}

TEST(CommentLogic, OtherCharactersPassUnchanged) {
    ScanState state;
    ConfirmComment(state, "Stra\xC3\x9F" "e <b> & \xC3\x84rger");
    EXPECT_EQ(state.comment, "Stra\xC3\x9F" "e <b> & &Auml;rger");
}

}  // namespace
}  // namespace veltrix
