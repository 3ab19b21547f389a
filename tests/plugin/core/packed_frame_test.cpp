// Q40TA5521 dump frames through the host's tshark: header fields, subframe
// walking with both dump-size readings, columns and real packed traffic.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "samples.h"
#include "tshark_runner.h"

using zeltest::field_rows;
using zeltest::matching_frames;
using zeltest::shared_tshark;

namespace {

using Row = std::vector<std::string>;

class PackedFrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { capture_ = shared_tshark().write_capture("ta5521", zelbuild::packed_samples()); }
    static std::string capture_;
};
std::string PackedFrameTest::capture_;

}  // namespace

TEST_F(PackedFrameTest, DumpHeaderFields) {
    const auto rows = field_rows(shared_tshark(), capture_,
                                 {"ta5521.dumpSize", "ta5521.dumpCount", "ta5521.captureId", "ta5521.dumpTotal",
                                  "ta5521.dumpLost", "ta5521.uniqueId", "ta5521.tsHigh", "ta5521.phyInfo",
                                  "ta5521.protocolVersion", "ta5521.reserved", "ta5521.frm.size"},
                                 "frame.number == 1");
    ASSERT_EQ(rows.size(), 1u);
    // Dump count 0: the header, and no subframe.
    EXPECT_EQ(rows[0], (Row{"0", "0", "9", "1000", "3", "77", "74565", "17", "0", "48879", ""}));
}

TEST_F(PackedFrameTest, VariableSubframesFollowTheirSizeFields) {
    const zeltest::Result r = shared_tshark().run({"-r", capture_, "-T", "pdml", "-Y", "frame.number == 2"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The dump header starts at byte 46 of the frame (Ethernet, IPv4, UDP,
    // ASnd): subframes at 18, 86 and 158 of it.
    // Size fields 4 bytes into each subframe: 46 + 18 + 4, 46 + 86 + 4, 46 + 158 + 4.
    EXPECT_TRUE(zeltest::has_line_with(r.out, {"name=\"ta5521.frm.size\" showname=\"Size: 60\"", "pos=\"68\""}));
    EXPECT_TRUE(zeltest::has_line_with(r.out, {"name=\"ta5521.frm.size\" showname=\"Size: 61\"", "pos=\"136\""}));
    EXPECT_TRUE(zeltest::has_line_with(r.out, {"name=\"ta5521.frm.size\" showname=\"Size: 10\"", "pos=\"208\""}));
    EXPECT_TRUE(zeltest::has_line_with(r.out, {"name=\"ta5521.frm.data\"", "size=\"61\" pos=\"140\""}));
    EXPECT_NE(r.out.find("Packed frame 3"), std::string::npos);
}

TEST_F(PackedFrameTest, FixedDumpSizeGivesEverySubframeThatManyBytes) {
    const auto rows =
        field_rows(shared_tshark(), capture_, {"ta5521.frm.size", "ta5521.frm.data"}, "frame.number == 3");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "20,1514");
    const auto data = zeltest::split(rows[0][1], ',');
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[0].size(), 128u);  // 64 bytes in hex
    EXPECT_EQ(data[1].size(), 128u);
}

TEST_F(PackedFrameTest, SubframesBeyondTheCapturedBytesEndTheListQuietly) {
    const auto rows = field_rows(shared_tshark(), capture_, {"ta5521.frm.size", "_ws.col.Info", "_ws.malformed"},
                                 "frame.number == 4");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "60,61");
    EXPECT_EQ(rows[0][1], "EPL ASnd(Q40TA5521) -  3 Subframes");
    EXPECT_EQ(rows[0][2], "");
}

TEST_F(PackedFrameTest, ColumnsAndTheShortHeaderCase) {
    const auto rows = field_rows(shared_tshark(), capture_, {"_ws.col.Protocol", "_ws.col.Info"});
    ASSERT_EQ(rows.size(), 5u);
    for (const Row &row : rows) EXPECT_EQ(row[0], "Zelmar Q40TA5521");
    EXPECT_EQ(rows[0][1], "EPL ASnd(Q40TA5521) -  0 Subframes");
    EXPECT_EQ(rows[1][1], "EPL ASnd(Q40TA5521) -  3 Subframes");
    EXPECT_EQ(rows[4][1], "");  // 10 bytes: the columns only
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "zelanalyzer"), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(matching_frames(shared_tshark(), capture_, "_ws.malformed").empty());
}

TEST_F(PackedFrameTest, ItemTexts) {
    const zeltest::Result r =
        shared_tshark().run({"-r", capture_, "-V", "-O", "zelanalyzer", "-Y", "frame.number == 2"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *expected :
         {"Zelmar Analyzer: Q40TA5521", "Dump count: 3", "Packed frame 1", "Timestamp: 60000", "Flags: 0x1001"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected;
}

TEST(PackedFrameRealTraffic, RealPowerlinkFramesPackedIntoDumps) {
    const std::string source = std::string(SENTRA_SHARED_CAPTURES) + "/powerlink_example.pcap";
    if (!std::ifstream(source)) GTEST_SKIP() << "shared captures not found: " << source;
    const auto frames = zelbuild::read_pcap(source);
    ASSERT_GT(frames.size(), 100u);
    const auto dumps = zelbuild::pack_into_dumps(frames, 4);
    const std::string capture = shared_tshark().write_capture("real_dumps", dumps);
    const auto rows = field_rows(shared_tshark(), capture, {"ta5521.dumpCount", "ta5521.frm.size"}, "zelanalyzer");
    ASSERT_EQ(rows.size(), dumps.size());
    size_t subframes = 0;
    for (const auto &row : rows) subframes += zeltest::split(row[1], ',').size();
    EXPECT_EQ(subframes, frames.size());
    EXPECT_EQ(rows[0][1], std::to_string(frames[0].data.size()) + "," + std::to_string(frames[1].data.size()) + "," +
                              std::to_string(frames[2].data.size()) + "," + std::to_string(frames[3].data.size()));
}
