// Lanyx link analyzer reports through the host's tshark: fields, item
// texts, columns, filters, the hand-off to openSAFETY and the statistics.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "samples.h"
#include "tshark_runner.h"

using zeltest::field_rows;
using zeltest::matching_frames;
using zeltest::shared_tshark;

namespace {

using Row = std::vector<std::string>;

class LanyxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { capture_ = shared_tshark().write_capture("lanyx", zelbuild::lanyx_samples()); }

    static std::string verbose(int frame) {
        const zeltest::Result r = shared_tshark().run(
            {"-r", capture_, "-V", "-O", "zelanalyzer", "-Y", "frame.number == " + std::to_string(frame)});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    static std::string capture_;
};
std::string LanyxTest::capture_;

// Node name -> count, from `tshark -z zel_lyk,tree`.
std::map<std::string, long> stats_counts(const std::string &output) {
    // Rows between the two dashed rules: the name (indented for children), two
    // or more blanks, then the count.
    std::map<std::string, long> counts;
    bool in_table = false;
    for (const std::string &line : zeltest::lines(output)) {
        if (line.rfind("-----", 0) == 0) {
            in_table = !in_table;
            continue;
        }
        const size_t name_start = line.find_first_not_of(' ');
        const size_t name_end = line.find("  ", name_start);
        if (!in_table || name_start == std::string::npos || name_end == std::string::npos) continue;
        const size_t count_start = line.find_first_not_of(' ', name_end);
        if (count_start == std::string::npos) continue;
        counts[line.substr(name_start, name_end - name_start)] = std::stol(line.substr(count_start));
    }
    return counts;
}

}  // namespace

TEST_F(LanyxTest, AnalyzerWordsAndPayloadFieldsOfEachReport) {
    const auto rows =
        field_rows(shared_tshark(), capture_,
                   {"frame.number", "lyk.status", "lyk.status.dir", "lyk.status.error.cmrc",
                    "lyk.status.error.synchronisation", "lyk.framecnt", "lyk.localios", "lyk.starttime", "lyk.stoptime",
                    "lyk.frame.dir_and_type", "lyk.payload.framelen", "lyk.payload.cyclecnt", "lyk.payload.dataarea",
                    "lyk.payload.sliced", "lyk.payload.crc32", "lyk.payload.f5"});
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], (Row{"1", "0x8000", "1", "0", "0", "7", "0x3c", "0", "100", "Sync Frame In", "16", "4242",
                            "f501f50203f504050607", "", "0xefbeadde", "3"}));
    EXPECT_EQ(rows[1], (Row{"2", "0x8000", "1", "0", "0", "7", "0x3c", "0", "100", "Sync Frame In", "100", "4242", "",
                            "1", "", "3"}));
    EXPECT_EQ(rows[2], (Row{"3", "0x0000", "0", "0", "0", "0", "0x00", "1000", "1600", "Async Frame Out", "10", "0",
                            "10111213141516171819", "", "0x12345678", ""}));
    // CRC32 error: the analyzer words only.
    EXPECT_EQ(rows[3], (Row{"4", "0x8200", "1", "1", "0", "7", "0x3c", "0", "100", "", "", "", "", "", "", ""}));
    EXPECT_EQ(rows[4][9], "Sync Frame Out");
    EXPECT_EQ(rows[4][4], "1");
    EXPECT_EQ(rows[5][9], "");  // both error bits: CRC32 error wins
}

TEST_F(LanyxTest, ItemTextsOfACompleteSyncInputFrame) {
    const std::string text = verbose(1);
    for (const char *expected :
         {"Zelmar Analyzer: Lanyx", "1... .... .... .... = Direction: Input",
          ".... ..0. .... .... = CRC32 Error: Not Set", "Stop Time (20ns): 100 (Frameduration: 1 us)",
          "FT: Sync Frame In", "Frame Length: 16 bytes", "CycleCnt: 4242", "CRC32: 0xefbeadde", "F5 Count: 3"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST_F(LanyxTest, SlicedFrameHasNoDataOrCrcItem) {
    const std::string text = verbose(2);
    EXPECT_NE(text.find("Packet sliced: True (Sliced at byte 66)"), std::string::npos) << text;
    EXPECT_EQ(text.find("CRC32:"), std::string::npos) << text;
    EXPECT_NE(text.find("F5 Count: 3"), std::string::npos) << text;
}

TEST_F(LanyxTest, EqualStartAndStopShowMinusOneMicrosecond) {
    EXPECT_NE(verbose(6).find("Stop Time (20ns): 5000 (Frameduration: -1 us)"), std::string::npos);
}

TEST_F(LanyxTest, CompleteFrameDataAndCrcSpanTheirBytes) {
    const zeltest::Result r = shared_tshark().run({"-r", capture_, "-T", "pdml", "-Y", "frame.number == 3"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The report starts behind Ethernet (14) and the ASnd header (4): offset 16
    // of the report is byte 34 of the frame.
    EXPECT_TRUE(zeltest::has_line_with(r.out, {"name=\"lyk.payload.dataarea\"", "size=\"10\" pos=\"34\""})) << r.out;
    EXPECT_TRUE(zeltest::has_line_with(r.out, {"name=\"lyk.payload.crc32\"", "size=\"4\" pos=\"44\""})) << r.out;
}

TEST_F(LanyxTest, ProtocolAndInfoColumns) {
    const auto rows = field_rows(shared_tshark(), capture_, {"_ws.col.Protocol", "_ws.col.Info"});
    ASSERT_EQ(rows.size(), 8u);
    for (const Row &row : rows) EXPECT_EQ(row[0], "Zelmar Lanyx Analyzer");
    EXPECT_EQ(rows[0][1], "EPL ASnd(Lanyx Analyzer) SI (  16 byte,    1 us) (F5 x 3)");
    EXPECT_EQ(rows[1][1], "EPL ASnd(Lanyx Analyzer) SI ( 100 byte,    1 us) (F5 x 3)");
    EXPECT_EQ(rows[2][1], "EPL ASnd(Lanyx Analyzer) AO (  10 byte,   11 us)");
    EXPECT_EQ(rows[3][1], "EPL ASnd(Lanyx Analyzer) AI (  40 byte,    1 us)");
    EXPECT_EQ(rows[5][1], "EPL ASnd(Lanyx Analyzer) AO (  20 byte,   -1 us)");
}

TEST_F(LanyxTest, ColumnsDoNotDependOnAProtocolTree) {
    // A plain run builds no tree; the summary must read the same.
    const zeltest::Result r = shared_tshark().run({"-r", capture_});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Zelmar Lanyx Analyzer"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("EPL ASnd(Lanyx Analyzer) SI (  16 byte,    1 us) (F5 x 3)"), std::string::npos) << r.out;
}

TEST_F(LanyxTest, ReportsShorterThanTheirFieldsAreMalformedNotOverread) {
    const auto malformed = matching_frames(shared_tshark(), capture_, "_ws.malformed");
    EXPECT_EQ(malformed, (std::vector<int>{7, 8}));
    const auto rows = field_rows(shared_tshark(), capture_, {"_ws.col.Info"}, "frame.number >= 7");
    ASSERT_EQ(rows.size(), 2u);
    // Column texts set before the bounds error remain.
    EXPECT_EQ(rows[0][0].rfind("EPL ASnd(Lanyx Analyzer) ", 0), 0u) << rows[0][0];
    EXPECT_EQ(rows[1][0].rfind("EPL ASnd(Lanyx Analyzer) AO (  60 byte,   -1 us)", 0), 0u) << rows[1][0];
}

TEST_F(LanyxTest, DisplayFiltersSelectTheRightReports) {
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "zelanalyzer"), (std::vector<int>{1, 2, 3, 4, 5, 6, 8}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lyk.payload.sliced"), (std::vector<int>{2}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lyk.status.error.cmrc == 1"), (std::vector<int>{4, 6}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lyk.status.error.synchronisation == 1"),
              (std::vector<int>{5, 6}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lyk.payload.f5"), (std::vector<int>{1, 2}));
    EXPECT_TRUE(matching_frames(shared_tshark(), capture_, "ta5521.dumpSize || lanyxplus.flags").empty());
}

TEST_F(LanyxTest, StatisticsCountKindsBytesAndErrors) {
    const zeltest::Result r = shared_tshark().run({"-q", "-r", capture_, "-z", "zel_lyk,tree"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(r.out.find("Zelmar/Lanyx:"), std::string::npos) << r.out;
    const auto counts = stats_counts(r.out);
    // Reports 7 and 8 end in a bounds error before they are queued.
    EXPECT_EQ(counts.at("Lanyk Frames"), 6);
    EXPECT_EQ(counts.at("SI Frames"), 2);
    EXPECT_EQ(counts.at("AO Frames"), 2);
    EXPECT_EQ(counts.at("AI Frames"), 1);
    EXPECT_EQ(counts.at("SO Frames"), 1);
    EXPECT_EQ(counts.at("CRC Errors"), 2);
    EXPECT_EQ(counts.at("Sync Errors"), 2);
    EXPECT_EQ(counts.at("Bytes total SI Frames"), 16 + 100);
    EXPECT_EQ(counts.at("Bytes captured SI Frames"), (30 + 46) + (20 + 46));
    EXPECT_EQ(counts.at("Bytes total AO Frames"), 10);  // report 6 has the CRC32 bit: 0
    EXPECT_EQ(counts.at("Bytes captured AO Frames"), 30 + 46);
    EXPECT_EQ(counts.at("Bytes total AI Frames"), 0);
    EXPECT_EQ(counts.at("Bytes captured AI Frames"), 0);
}

TEST_F(LanyxTest, StatisticsOfACaptureWithoutLanyxShowTwoEmptyNodes) {
    const std::string other = shared_tshark().write_capture("no_lanyx", zelbuild::lanyxplus_samples());
    const zeltest::Result r = shared_tshark().run({"-q", "-r", other, "-z", "zel_lyk,tree"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto counts = stats_counts(r.out);
    EXPECT_EQ(counts, (std::map<std::string, long>{{"Lanyk Frames", 0}, {"Lanyk Bytes", 0}})) << r.out;
}

TEST(LanyxOpenSafety, SafetyFrameInTheDataAreaIsDecodedByWiresharksOpenSafety) {
    const std::string capture = shared_tshark().write_capture("opensafety", zelbuild::opensafety_in_lanyx_samples());
    const auto rows =
        field_rows(shared_tshark(), capture,
                   {"frame.protocols", "opensafety.msg.id", "opensafety.snmt.udid", "opensafety.crc.valid",
                    "lyk.frame.dir_and_type", "_ws.col.Protocol", "_ws.col.Info"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NE(rows[0][0].find("zelanalyzer:opensafety"), std::string::npos) << rows[0][0];
    EXPECT_EQ(rows[0][1], "0xa4");
    EXPECT_EQ(rows[0][2], "02:d7:a5:00:10:01");
    EXPECT_EQ(rows[0][3], "1");
    EXPECT_EQ(rows[0][4], "Sync Frame In");
    // The safety frame names its protocol and follows the report's text.
    EXPECT_EQ(rows[0][5], "openSAFETY/UDP");
    EXPECT_EQ(rows[0][6], "EPL ASnd(Lanyx Analyzer) SI (  23 byte,    9 us) (F5 x 0) SNMT Response UDID");
}
