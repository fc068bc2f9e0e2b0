// The words for the grid library's statuses: what the window's boxes and the batch
// converter's lines say for a corner node of value 0.

#include <gtest/gtest.h>

#include <vector>

#include "conversion/grid_messages.h"

namespace dormal {
namespace {

TEST(GridMessages, ZeroCorner) {
    const struct {
        Corner corner;
        const char* text;
    } cases[] = {{Corner::NE, "IL PUNTO A N.E. VALE 0 "},
                 {Corner::SE, "IL PUNTO A S.E. VALE 0 "},
                 {Corner::SW, "IL PUNTO A S.O. VALE 0 "},
                 {Corner::NW, "IL PUNTO A N.O. VALE 0 "}};
    for (const auto& c : cases) {
        const Message box{MessageIcon::Warning, "Dormal2k", {c.text}};
        EXPECT_EQ(zeroCornerMessages(c.corner, false), std::vector<Message>{box});
        const Message error{MessageIcon::None, "Dormal2k", {"ERRORE"}};
        EXPECT_EQ(zeroCornerMessages(c.corner, true), (std::vector<Message>{box, error}));
    }
    EXPECT_TRUE(zeroCornerMessages(Corner::None, true).empty());
}

} // namespace
} // namespace dormal
