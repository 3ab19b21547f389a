// The wire arithmetic of the three analyzer report formats, alone.
#include "analyzer_frames.h"

#include <gtest/gtest.h>

#include <cstring>

#include "analyzer_frame_builder.h"

TEST(LanyxArithmetic, FrameKindComesFromSyncFlagAndDirectionBit) {
    EXPECT_STREQ(lyk::kind_abbreviation(lyk::frame_kind(0x8000, 0x8000)), "SI");
    EXPECT_STREQ(lyk::kind_abbreviation(lyk::frame_kind(0x0000, 0x8000)), "SO");
    EXPECT_STREQ(lyk::kind_abbreviation(lyk::frame_kind(0x8000, 0x0010)), "AI");
    EXPECT_STREQ(lyk::kind_abbreviation(lyk::frame_kind(0x7FFF, 0x7FFF)), "AO");
    EXPECT_STREQ(lyk::kind_name(lyk::FrameKind::SyncIn), "Sync Frame In");
    EXPECT_STREQ(lyk::kind_name(lyk::FrameKind::AsyncOut), "Async Frame Out");
}

TEST(LanyxArithmetic, DurationRoundsTicksToMicrosecondsMinusOne) {
    EXPECT_EQ(lyk::frame_duration_us(0, 100), 1);
    EXPECT_EQ(lyk::frame_duration_us(5000, 5000), -1);
    EXPECT_EQ(lyk::frame_duration_us(0, 74), 0);  // 1.48 us rounds to 1, minus 1
    EXPECT_EQ(lyk::frame_duration_us(0, 75), 1);  // 1.5 us rounds up
    EXPECT_EQ(lyk::frame_duration_us(0, 125), 2);
    // The tick counter wrapped between start and stop.
    EXPECT_EQ(lyk::frame_duration_us(0xFFFFFF00u, 0x64u), 6);
}

TEST(LanyxArithmetic, CreditedBytesAndFrameLengthKeepTheirWidths) {
    EXPECT_EQ(lyk::credited_bytes(30), 76);
    EXPECT_EQ(lyk::credited_bytes(65535), 45);  // 16-bit like the analyzer's counters
    EXPECT_EQ(lyk::frame_length(0x8000 | 16), 16);
    EXPECT_EQ(lyk::frame_length(0xFFFF), 0x1FFF);  // bits 13-14 are not part of it
}

constexpr auto kDissector = dumpframe::DumpSizeReading::kDissector;

TEST(PackedFrameArithmetic, VariableSubframesFollowTheirSizeFieldAligned) {
    EXPECT_EQ(dumpframe::payloadOffset(dumpframe::kFirstRecordOffset), 18u);
    EXPECT_EQ(dumpframe::recordCapacity(0, 60, kDissector), 60u);
    EXPECT_EQ(18 + dumpframe::recordSpan(0, 60, kDissector), 86u);
    EXPECT_EQ(86 + dumpframe::recordSpan(0, 61, kDissector), 158u);
}

TEST(PackedFrameArithmetic, FixedDumpSizeOverridesTheSizeField) {
    EXPECT_EQ(dumpframe::recordCapacity(64, 1514, kDissector), 64u);
    EXPECT_EQ(dumpframe::recordSpan(64, 1514, kDissector), 72u);
}

TEST(LanyxPlusArithmetic, FlagsAndHeaderWordsSplitIntoTheirParts) {
    EXPECT_EQ(lanyxplus::frame_type(0x00010040), lanyxplus::Pause);
    EXPECT_EQ(lanyxplus::frame_type(0xFFFCFFFF), lanyxplus::Data);
    EXPECT_EQ(lanyxplus::resulting_frame_size(0x00010040), 52);
    EXPECT_EQ(lanyxplus::resulting_frame_size(0x00000004), -8);
    const uint32_t header = zelbuild::lanyxplus_header(5, 4, 3);
    EXPECT_EQ(lanyxplus::destination(header), 5u);
    EXPECT_EQ(lanyxplus::source(header), 4u);
    EXPECT_EQ(lanyxplus::port(header), 3u);
    EXPECT_EQ(lanyxplus::destination(0xFFFFFFFF), 0xFFFu);
    EXPECT_EQ(lanyxplus::source(0xFFFFFFFF), 0xFFFu);
}

TEST(LanyxPlusArithmetic, OnlyPortsZeroFourEightTwelveCarryACommandInterface) {
    for (uint32_t port = 0; port < 256; ++port) {
        const bool expected = port == 0 || port == 4 || port == 8 || port == 12;
        EXPECT_EQ(lanyxplus::has_command_interface(port), expected) << "port " << port;
    }
}

TEST(LanyxPlusArithmetic, TextsFallBackToUnknown) {
    EXPECT_STREQ(lanyxplus::protocol_column(lanyxplus::Reserved), "Unknown");
    EXPECT_STREQ(lanyxplus::subtree_label(lanyxplus::Management), "Management Frame");
    EXPECT_STREQ(lanyxplus::command_type_text(0), "PUBLIC");
    EXPECT_STREQ(lanyxplus::command_type_text(3), "Unknown");
    EXPECT_STREQ(lanyxplus::command_text(0, 128), "PingRESP");
    EXPECT_STREQ(lanyxplus::command_text(0, 254), "PLLShftRESP");
    EXPECT_STREQ(lanyxplus::command_text(1, 129), "ConfigResp");
    EXPECT_STREQ(lanyxplus::command_text(2, 255), "CloseRESP");
    EXPECT_STREQ(lanyxplus::command_text(2, 3), "Unknown");
    // A type without a command table has no known command, whatever the value.
    EXPECT_STREQ(lanyxplus::command_text(3, 0), "Unknown");
    EXPECT_STREQ(lanyxplus::command_text(200, 128), "Unknown");
}

TEST(FrameBuilder, Crc8MatchesTheOpenSafetyPolynomial) {
    // 0x3E is what Wireshark's own crc8_0x2F (libwsutil) gives for "123456789"
    // with seed 0; the openSAFETY test below shows Wireshark accepting our frames.
    const char *check = "123456789";
    EXPECT_EQ(zelbuild::crc8_0x2f(reinterpret_cast<const uint8_t *>(check), std::strlen(check)), 0x3E);
}

TEST(FrameBuilder, PackedSubframesAreFourByteAlignedFromTheirStart) {
    zelbuild::PackedDump dump;
    for (uint16_t size : {60, 61}) {
        zelbuild::PackedSubframe s;
        s.size = size;
        s.data.assign(size, 0xEE);
        dump.subframes.push_back(s);
    }
    const zelbuild::Bytes b = zelbuild::packed_payload(dump);
    // second subframe at 86, its size field at 90; total 18 + 68 + 72
    ASSERT_EQ(b.size(), 158u);
    EXPECT_EQ(b[90] | b[91] << 8, 61);
}
