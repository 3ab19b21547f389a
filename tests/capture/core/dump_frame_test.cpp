// Recognition of dump frames and the walk over their records.
#include <gtest/gtest.h>

#include "dump_builder.h"
#include "dump_frame.h"

namespace {

TEST(DumpFrameRecognition, AcceptsDumpFramesAndLocksOntoTheFirstAnalyzer) {
    DumpBuilder seven;
    seven.node = 7;
    seven.add(100);
    DumpBuilder eight = seven;
    eight.node = 8;
    const auto f7 = seven.build();
    const auto f8 = eight.build();

    uint8_t wanted = 0;
    EXPECT_TRUE(isDumpFrame(f7.data(), f7.size(), &wanted));
    EXPECT_EQ(wanted, 7);
    EXPECT_FALSE(isDumpFrame(f8.data(), f8.size(), &wanted));
    EXPECT_EQ(wanted, 7);
    EXPECT_TRUE(isDumpFrame(f7.data(), f7.size(), &wanted));

    uint8_t wantEight = 8;
    EXPECT_FALSE(isDumpFrame(f7.data(), f7.size(), &wantEight));
    EXPECT_TRUE(isDumpFrame(f8.data(), f8.size(), &wantEight));
}

TEST(DumpFrameRecognition, RefusesFramesThatDifferInAnyRequiredField) {
    const auto good = DumpBuilder().add(1).build();
    struct Change {
        size_t offset;
        uint8_t value;
        const char *what;
    };
    const Change changes[] = {
        {45, 0xA1, "ASnd service 161 (Lanyx) instead of 163"},
        {42, 0x05, "message type other than ASnd"},
        {43, 0x01, "unicast POWERLINK destination"},
        {12, 0x86, "EtherType other than IPv4"},
        {35, 0xEC, "UDP source port 3820"},
        {37, 0xEC, "UDP destination port 3820"},
    };
    for (const Change &c : changes) {
        auto frame = good;
        frame[c.offset] = c.value;
        uint8_t wanted = 0;
        EXPECT_FALSE(isDumpFrame(frame.data(), frame.size(), &wanted)) << c.what;
        EXPECT_EQ(wanted, 0) << c.what;
    }
}

TEST(DumpFrameRecognition, NeedsFortySixBytes) {
    const auto frame = DumpBuilder().add(1).build();
    uint8_t wanted = 0;
    EXPECT_FALSE(isDumpFrame(frame.data(), 45, &wanted));
    EXPECT_TRUE(isDumpFrame(frame.data(), 46, &wanted));
    EXPECT_FALSE(isDumpFrame(nullptr, 100, &wanted));
}

TEST(DumpFrameRecords, VariableLengthRecordsAreFourByteAligned) {
    const auto frame = DumpBuilder().add(1, 61).add(2, 64).add(3, 60).build();
    DumpRecord r{};
    ASSERT_EQ(readDumpRecord(frame.data(), frame.size(), 64, 0, DumpSizeReading::kCaptureEngine, &r), 0);
    EXPECT_EQ(r.size, 61);
    EXPECT_EQ(r.capacity, 61u);
    const uint32_t second = nextDumpRecordOffset(r, 0, DumpSizeReading::kCaptureEngine);
    EXPECT_EQ(second, 136u);
    ASSERT_EQ(readDumpRecord(frame.data(), frame.size(), second, 0, DumpSizeReading::kCaptureEngine, &r), 0);
    EXPECT_EQ(r.timestampLow, 2u);
    EXPECT_EQ(nextDumpRecordOffset(r, 0, DumpSizeReading::kCaptureEngine), 208u);
    // Both readings agree for variable-length records.
    EXPECT_EQ(nextDumpRecordOffset(r, 0, DumpSizeReading::kDissector), 208u);
}

TEST(DumpFrameRecords, FixedRecordSizeHasTwoReadings) {
    DumpBuilder b;
    b.dumpSize = 72;
    b.add(5, 1514, 1).add(6, 60);
    const auto frame = b.build();
    DumpRecord r{};
    ASSERT_EQ(readDumpRecord(frame.data(), frame.size(), 64, 72, DumpSizeReading::kCaptureEngine, &r), 0);
    EXPECT_EQ(r.size, 1514);
    EXPECT_EQ(r.flags, 1);
    EXPECT_EQ(r.capacity, 64u);  // the head counts into the fixed size
    EXPECT_EQ(nextDumpRecordOffset(r, 72, DumpSizeReading::kCaptureEngine), 136u);

    ASSERT_EQ(readDumpRecord(frame.data(), frame.size(), 64, 72, DumpSizeReading::kDissector, &r), 0);
    EXPECT_EQ(r.capacity, 72u);
    EXPECT_EQ(nextDumpRecordOffset(r, 72, DumpSizeReading::kDissector), 64u + 80u);
}

TEST(DumpFrameRecords, RecordHeadMustLieInsideTheFrame) {
    const auto frame = DumpBuilder().add(1, 60).build();  // 64 + 68 bytes
    DumpRecord r{};
    const uint32_t length = static_cast<uint32_t>(frame.size());
    EXPECT_EQ(readDumpRecord(frame.data(), length, length - 9, 0, DumpSizeReading::kCaptureEngine, &r), 0);
    EXPECT_EQ(r.available, 1u);
    EXPECT_EQ(readDumpRecord(frame.data(), length, length - 8, 0, DumpSizeReading::kCaptureEngine, &r), -1);
    EXPECT_EQ(readDumpRecord(frame.data(), length, length + 100, 0, DumpSizeReading::kCaptureEngine, &r), -1);
    EXPECT_EQ(readDumpRecord(frame.data(), length, 0xFFFFFFF0u, 0, DumpSizeReading::kCaptureEngine, &r), -1);
}

}  // namespace
