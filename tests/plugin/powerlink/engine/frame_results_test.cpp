// The per-frame results the Wireshark hook shows on every dissection.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frame_results.h"

namespace {

std::vector<std::pair<int, std::string>> messages_of(const flowlens_frame_results &r, uint64_t n) {
    std::vector<std::pair<int, std::string>> out;
    r.for_each_message(n, [&](uint8_t severity, const char *text) { out.emplace_back(severity, text); });
    return out;
}

}  // namespace

TEST(FrameResults, EachFrameKeepsItsOwnMessagesAndText) {
    flowlens_frame_results r;
    ASSERT_TRUE(r.begin(1));
    r.set_text(1, " 1: SoC");
    ASSERT_TRUE(r.begin(2));
    r.add_message(2, "Loss of PRes");
    r.add_message(0, "SDO connection");
    ASSERT_TRUE(r.begin(3));  // nothing found, no text
    ASSERT_TRUE(r.begin(4));
    r.add_message(2, "Error : CRC");
    EXPECT_EQ(r.frames(), 4u);
    // A text built later, when a view first shows the frame; kept from then on.
    EXPECT_FALSE(r.has_text(2));
    r.set_text(2, " 1: PRes");
    r.set_text(2, " 1: other");
    EXPECT_TRUE(r.has_text(2));
    r.set_text(3, "");
    EXPECT_TRUE(r.has_text(3));
    EXPECT_FALSE(r.has_text(4));

    // Read back in any order, as often as asked.
    EXPECT_EQ(messages_of(r, 4), (std::vector<std::pair<int, std::string>>{{2, "Error : CRC"}}));
    EXPECT_STREQ(r.text(4), "");
    EXPECT_EQ(messages_of(r, 2),
              (std::vector<std::pair<int, std::string>>{{2, "Loss of PRes"}, {0, "SDO connection"}}));
    EXPECT_EQ(messages_of(r, 2), messages_of(r, 2));
    EXPECT_STREQ(r.text(2), " 1: PRes");
    EXPECT_STREQ(r.text(1), " 1: SoC");
    EXPECT_TRUE(messages_of(r, 1).empty());
    EXPECT_TRUE(messages_of(r, 3).empty());
    EXPECT_STREQ(r.text(3), "");
}

TEST(FrameResults, FramesOutOfOrderOrUnknownAreRefusedOrEmpty) {
    flowlens_frame_results r;
    r.add_message(2, "before any frame");  // dropped
    r.set_text(1, "before any frame");
    EXPECT_FALSE(r.begin(2));  // a gap
    EXPECT_FALSE(r.begin(0));
    EXPECT_EQ(r.frames(), 0u);
    ASSERT_TRUE(r.begin(1));
    EXPECT_FALSE(r.begin(1));  // twice
    r.set_text(5, "not recorded");
    EXPECT_FALSE(r.has_text(5));
    EXPECT_TRUE(messages_of(r, 1).empty());
    EXPECT_STREQ(r.text(1), "");
    EXPECT_FALSE(r.has(0));
    EXPECT_FALSE(r.has(2));
    EXPECT_STREQ(r.text(2), "");
    EXPECT_TRUE(messages_of(r, 2).empty());
    r.add_message(2, nullptr);  // kept as an empty text
    EXPECT_EQ(messages_of(r, 1), (std::vector<std::pair<int, std::string>>{{2, ""}}));
}

TEST(FrameResults, ClearStartsAgainFromFrameOne) {
    flowlens_frame_results r;
    for (uint64_t n = 1; n <= 100000; ++n) {
        ASSERT_TRUE(r.begin(n));
        if (n % 1000 == 0) r.add_message(2, ("event " + std::to_string(n)).c_str());
        r.set_text(n, ("text " + std::to_string(n)).c_str());
    }
    EXPECT_STREQ(r.text(54321), "text 54321");
    EXPECT_EQ(messages_of(r, 99000), (std::vector<std::pair<int, std::string>>{{2, "event 99000"}}));
    EXPECT_TRUE(messages_of(r, 99001).empty());
    EXPECT_EQ(messages_of(r, 100000), (std::vector<std::pair<int, std::string>>{{2, "event 100000"}}));
    r.clear();
    EXPECT_EQ(r.frames(), 0u);
    EXPECT_FALSE(r.has(1));
    EXPECT_FALSE(r.begin(2));
    ASSERT_TRUE(r.begin(1));
    EXPECT_STREQ(r.text(1), "");
    EXPECT_TRUE(messages_of(r, 1).empty());
}
