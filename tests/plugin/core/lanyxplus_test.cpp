// Lanyx+ analyzer reports through the host's tshark: frame types, hidden
// markers, command interface, management frames, columns and short reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "samples.h"
#include "tshark_runner.h"

using zeltest::field_rows;
using zeltest::matching_frames;
using zeltest::shared_tshark;

namespace {

using Row = std::vector<std::string>;

class LanyxPlusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        capture_ = shared_tshark().write_capture("lanyxplus", zelbuild::lanyxplus_samples());
    }
    static std::string verbose(int frame) {
        const zeltest::Result r = shared_tshark().run(
            {"-r", capture_, "-V", "-O", "zelanalyzer", "-Y", "frame.number == " + std::to_string(frame)});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    static std::string capture_;
};
std::string LanyxPlusTest::capture_;

}  // namespace

TEST_F(LanyxPlusTest, ProtocolAndInfoColumns) {
    const auto rows = field_rows(shared_tshark(), capture_, {"_ws.col.Protocol", "_ws.col.Info"});
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[0], (Row{"Lanyx+Pause", "   2->   1:  3 (  6 Byte, 1200 ns)"}));
    EXPECT_EQ(rows[1], (Row{"Lanyx+Data", "   4->   5:  3 (  6 Byte,  800 ns)"}));
    EXPECT_EQ(rows[3], (Row{"Lanyx+Data",
                            "   1->   2:  0 (  6 Byte,   10 ns) AckPort:   1, Type: PUBLIC, "
                            "Command:   PingRESP, Info:   7"}));
    EXPECT_EQ(rows[4], (Row{"Lanyx+Mgmt",
                            "   2->   3:197 (  4 Byte,    5 ns) Cycle: 0x05; Link: 1; Pause: 1; "
                            "Data: 0xFFFFFFFE"}));
    EXPECT_EQ(rows[5], (Row{"Unknown", "   1->   1:  1 (  2 Byte,    0 ns)"}));
    // 17 bytes: nothing of ours at all.
    EXPECT_EQ(rows[6][0], "POWERLINK");
    // A type without a command table names no command.
    EXPECT_EQ(rows[7][1],
              "   1->   2:  0 (  4 Byte,   10 ns) AckPort:   2, Type: Unknown, Command:    Unknown, Info:   1");
}

TEST_F(LanyxPlusTest, FlagsHeaderAndCommandInterfaceFields) {
    const auto rows = field_rows(shared_tshark(), capture_,
                                 {"lanyxplus.flags.postTrigger", "lanyxplus.flags.trigger", "lanyxplus.flags.filter",
                                  "lanyxplus.flags.drop", "lanyxplus.flags.lineidx", "lanyxplus.flags.frametype",
                                  "lanyxplus.flags.pkgLen", "lanyxplus.transfertime", "lanyxplus.dst", "lanyxplus.src",
                                  "lanyxplus.port", "lanyxPlus.data.cmdif.ackport", "lanyxPlus.data.cmdif.type",
                                  "lanyxPlus.data.cmdif.cmd", "lanyxPlus.data.cmdif.info", "lanyxPlus.data.payload"},
                                 "frame.number == 2 || frame.number == 4");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Row{"1", "1", "1", "1", "5", "0", "30", "800", "5", "4", "3", "", "", "", "", "090909090909"}));
    EXPECT_EQ(rows[1], (Row{"0", "0", "0", "0", "0", "0", "20", "10", "2", "1", "0", "1", "0", "128", "7", "abcd"}));
}

TEST_F(LanyxPlusTest, PortFourCarriesACommandInterfacePortThreeDoesNot) {
    const std::string port3 = verbose(2);
    EXPECT_EQ(port3.find("Command Interface"), std::string::npos);
    EXPECT_NE(port3.find("Payload: 090909090909 (Size: 6)"), std::string::npos) << port3;
    const std::string port4 = verbose(3);
    EXPECT_NE(port4.find("Command Interface"), std::string::npos) << port4;
    EXPECT_NE(port4.find("Payload: 0909 (Size: 2)"), std::string::npos) << port4;
}

TEST_F(LanyxPlusTest, PauseFrameTexts) {
    const std::string text = verbose(1);
    for (const char *expected :
         {"Zelmar Analyzer: Lanyx+ Analyzer", "    Pause Frame",
          "= Package length: 64 (Resulting Lanyx+ frame size: 52)", "Transfer time: 1200ns", "= Post-trigger: Not set",
          "= Frame type: Pause Frame (1)", "Payload: a0a1a2a3a4a5 (Size: 6)"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST_F(LanyxPlusTest, ManagementFrameTexts) {
    const std::string text = verbose(5);
    for (const char *expected :
         {"Management Frame", "Info: 0xc5", "1... .... = Link: OK", ".1.. .... = Pause: Requested",
          ".... ..01 = Service: Remote diff (neighbours local diff) (0x1)", "Payload: -2 (Size: 4)"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST_F(LanyxPlusTest, ReservedFrameTypeHasNoMarkerAndNoPayload) {
    const std::string text = verbose(6);
    EXPECT_NE(text.find("    Unknown\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Payload"), std::string::npos) << text;
}

TEST_F(LanyxPlusTest, HiddenMarkersSelectFrameTypes) {
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lanyxplus.data"), (std::vector<int>{2, 3, 4, 8, 10}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lanyxplus.pause"), (std::vector<int>{1}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lanyxplus.mgmt"), (std::vector<int>{5, 9}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lanyxPlus.data.cmdif.cmd == 128"), (std::vector<int>{4, 8}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "lanyxPlus.mgmt.payload == -2"), (std::vector<int>{5}));
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "zelanalyzer"),
              (std::vector<int>{1, 2, 3, 4, 5, 6, 8, 9, 10}));
    // Markers are hidden: they filter, they are not shown.
    EXPECT_EQ(verbose(2).find("Lanyx+ Data"), std::string::npos);
}

TEST_F(LanyxPlusTest, PayloadsTooShortForTheirWordsAreMalformed) {
    EXPECT_EQ(matching_frames(shared_tshark(), capture_, "_ws.malformed"), (std::vector<int>{9, 10}));
    const auto rows = field_rows(shared_tshark(), capture_, {"_ws.col.Protocol", "_ws.col.Info"}, "frame.number >= 9");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "Lanyx+Mgmt");
    EXPECT_EQ(rows[0][1].rfind("   2->   3:197 (  2 Byte,    5 ns)", 0), 0u) << rows[0][1];
}
