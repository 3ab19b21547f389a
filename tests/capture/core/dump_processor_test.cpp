// Dump processing: stream guard, timestamps, flags, reports, triggers and
// the completion test, on a real capture buffer.
#include <functional>

#include "processor_fixture.h"

namespace {

using namespace packetflags;

constexpr uint16_t kPort02 = 1;
constexpr uint16_t kCrc = 1 << 8;
constexpr uint16_t kOversize = 1 << 9;
constexpr uint16_t kAlignment = 1 << 4;
constexpr uint16_t kPreamble = 1 << 10;
constexpr uint16_t kNoise = 1 << 11;
constexpr uint16_t di(int input) { return static_cast<uint16_t>(1u << (11 + input)); }  // DI1..DI4
constexpr uint32_t kTicksPerMs = 50000;
constexpr int64_t kLongPostTrigger = 1000000000;  // the capture goes on after the trigger

// ---------------------------------------------------------------- timestamps

TEST_F(ProcessorTest, FirstPacketCarriesTheStartTimeAndLaterOnesTheAnalyzerDistance) {
    DumpBuilder b;
    b.tsHigh = 3;
    b.add(1000).add(1050, 64, kPort02).add(2000);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].timestamp, kStartNs);
    EXPECT_EQ(out[1].timestamp, kStartNs + 50 * 20);
    EXPECT_EQ(out[2].timestamp, kStartNs + 1000 * 20);
}

TEST_F(ProcessorTest, LowCounterWrapWithinADumpAddsOneToTheHighPart) {
    DumpBuilder b;
    b.tsHigh = 0x10;
    b.add(0xFFFFFFF0).add(0x00000010).add(0x00000020);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].timestamp - out[0].timestamp, 640);  // 32 ticks
    EXPECT_EQ(out[2].timestamp - out[0].timestamp, 960);  // the wrap stays for the dump
}

TEST_F(ProcessorTest, FirstRecordOfTheOtherPortIsCorrectedAcrossTheWrap) {
    // Port 01 starts just before the wrap, port 02 just after it: same high
    // part in the dump, but port 02 lies one high step further.
    DumpBuilder b;
    b.tsHigh = 0x20;
    b.add(0xFFFFFFFB).add(0x00000005, 64, kPort02);
    ASSERT_EQ(feed(b), 0);
    auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].timestamp - out[0].timestamp, 10 * 20);
    EXPECT_EQ(out[1].flags & kDirectionMask, kDirectionOutbound);
}

TEST_F(ProcessorTest, OtherPortBeforeTheWrapGetsOneHighStepLess) {
    // The dump's high part belongs to port 01's record after the wrap; port
    // 02's first record was captured before it and must sort first.
    DumpBuilder b;
    b.tsHigh = 0x20;
    b.add(0x00000005).add(0xFFFFFFFB, 64, kPort02);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].flags & kDirectionMask, kDirectionOutbound);
    EXPECT_EQ(out[1].flags & kDirectionMask, kDirectionInbound);
    EXPECT_EQ(out[1].timestamp - out[0].timestamp, 10 * 20);
    EXPECT_EQ(out[0].timestamp, kStartNs - 10 * 20);  // the time base was port 01's record
}

TEST_F(ProcessorTest, TimestampsContinueAcrossDumpsAndTheHighPart) {
    DumpStream s;
    DumpBuilder a = s.dump(5);
    a.add(0xFFFFFF00);
    ASSERT_EQ(feed(a), 0);
    s.sent(a);
    DumpBuilder b = s.dump(6);
    b.add(0x00000100);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].timestamp - out[0].timestamp, 0x200 * 20);
}

TEST_F(ProcessorTest, FirstRecordAtAnalyzerTimeZeroStillFixesTheTimeBase) {
    DumpBuilder b;
    b.add(0).add(100);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].timestamp, kStartNs);
    EXPECT_EQ(out[1].timestamp, kStartNs + 2000);
}

// -------------------------------------------------------------- stream guard

TEST_F(ProcessorTest, GapInDumpTotalsIsLostByPcAndCarriedByTheNextPacket) {
    DumpStream s(65520);
    DumpBuilder a = s.dump();
    for (int i = 0; i < 10; ++i) a.add(100 + i);
    ASSERT_EQ(feed(a), 0);
    s.sent(a);
    ASSERT_EQ(s.next(), 65530);
    DumpBuilder b;
    b.dumpTotal = 4;  // 10 records missing across the 16-bit wrap
    b.add(200).add(201);
    ASSERT_EQ(feed(b), 0);
    const std::vector<SinkMessage> expected = {{true, kLogWarning, "Packet #11: 10 Packets lost by PC"},
                                               {false, kStatusBar, "Packet #11: 10 Packets lost by PC"}};
    EXPECT_EQ(sink.reports(), expected);
    const auto out = drain();
    ASSERT_EQ(out.size(), 12u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i].flags & kFramesLost, 0u);
    EXPECT_EQ(out[10].dropCount, 10);
    EXPECT_NE(out[10].flags & kFramesLost, 0u);
    EXPECT_EQ(out[11].dropCount, 0);
    EXPECT_EQ(out[11].flags & kFramesLost, 0u);
}

TEST_F(ProcessorTest, RepeatedDumpIsIgnoredEntirely) {
    DumpStream s(100);
    DumpBuilder a = s.dump();
    a.add(1).add(2);
    ASSERT_EQ(feed(a), 0);
    const uint64_t count = processor->packetCount;
    ASSERT_EQ(feed(a), 0);
    EXPECT_EQ(processor->packetCount, count);
    EXPECT_EQ(processor->dumpsProcessed, 1u);
    EXPECT_EQ(drain().size(), 2u);
    EXPECT_TRUE(sink.reports().empty());
}

TEST_F(ProcessorTest, DumpOfAnotherAnalyzerCaptureIsIgnoredWithoutLossReport) {
    DumpStream s(0);
    DumpBuilder a = s.dump();
    a.add(1);
    ASSERT_EQ(feed(a), 0);
    DumpBuilder other;
    other.uniqueId = 0x9999;
    other.dumpTotal = 500;
    other.add(2).add(3);
    ASSERT_EQ(feed(other), 0);
    EXPECT_EQ(processor->packetCount, 1u);
    EXPECT_TRUE(sink.reports().empty());
    // The stream of the first capture goes on without a gap.
    s.sent(a);
    DumpBuilder b = s.dump();
    b.add(4);
    ASSERT_EQ(feed(b), 0);
    EXPECT_TRUE(sink.reports().empty());
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].flags & kFramesLost, 0u);
}

TEST_F(ProcessorTest, LossFoundInADumpOfADisabledPortFlagsTheNextPacketWithoutDropCount) {
    settings.port02Enabled = 0;
    DumpStream s(0);
    DumpBuilder a = s.dump();
    a.add(10);
    ASSERT_EQ(feed(a), 0);
    s.sent(a);
    DumpBuilder onlyPort02;
    onlyPort02.dumpTotal = static_cast<uint16_t>(s.next() + 5);  // 5 lost
    onlyPort02.add(20, 64, kPort02).add(21, 64, kPort02);
    ASSERT_EQ(feed(onlyPort02), 0);
    s.sent(onlyPort02);
    DumpBuilder c;
    c.dumpTotal = static_cast<uint16_t>(onlyPort02.dumpTotal + 2);
    c.add(30);
    ASSERT_EQ(feed(c), 0);
    EXPECT_TRUE(sink.saw("Packet #2: 5 Packets lost by PC"));
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_NE(out[1].flags & kFramesLost, 0u);
    EXPECT_EQ(out[1].dropCount, 0);
}

TEST_F(ProcessorTest, DropCountSkipsDisabledRecordsWithinTheDump) {
    settings.port02Enabled = 0;
    DumpStream s(0);
    DumpBuilder a = s.dump();
    a.add(10);
    ASSERT_EQ(feed(a), 0);
    s.sent(a);
    DumpBuilder b;
    b.dumpTotal = static_cast<uint16_t>(s.next() + 3);
    b.add(20, 64, kPort02).add(21).add(22);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].dropCount, 3);
    EXPECT_NE(out[1].flags & kFramesLost, 0u);
    EXPECT_EQ(out[2].dropCount, 0);
}

TEST_F(ProcessorTest, FramesLostByTheAnalyzerAreReportedAndFlagged) {
    DumpStream s(0);
    DumpBuilder a = s.dump();
    a.add(1);
    ASSERT_EQ(feed(a), 0);
    s.sent(a);
    DumpBuilder b = s.dump();
    b.dumpLost = 3;
    b.add(2).add(3);
    ASSERT_EQ(feed(b), 0);
    const std::vector<SinkMessage> expected = {{true, kLogWarning, "Packet #2: 3 Packets lost by Analyzer"},
                                               {false, kStatusBar, "Packet #2: 3 Packets lost by Analyzer"}};
    EXPECT_EQ(sink.reports(), expected);
    const auto out = drain();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_NE(out[1].flags & kFramesLost, 0u);
    EXPECT_EQ(out[1].dropCount, 0);  // only frames lost by the PC are counted as drops
    EXPECT_EQ(out[2].flags & kFramesLost, 0u);
}

TEST_F(ProcessorTest, DisabledPortIsSkippedWithoutCountingPackets) {
    settings.port02Enabled = 0;
    DumpBuilder b;
    b.add(1).add(2, 64, kPort02 | kCrc).add(3, 64, kCrc).add(4, 64, kPort02);
    ASSERT_EQ(feed(b), 0);
    EXPECT_EQ(processor->packetCount, 2u);
    EXPECT_TRUE(sink.saw("Packet #2: CRC Error detected by Analyzer"));
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    for (const auto &r : out) EXPECT_EQ(r.flags & kDirectionMask, kDirectionInbound);
    EXPECT_TRUE(sink.saw("[Live Capture] - Captured packets by Q40TA5521: 2. Internal buffer level: 2"));
}

// ------------------------------------------------------------ lengths, flags

TEST_F(ProcessorTest, FixedRecordSizeCutsTheFrame) {
    DumpBuilder b;
    b.dumpSize = 72;
    b.add(1, 1514).add(2, 60, kPort02);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].frameLength, 1514);
    EXPECT_EQ(out[0].capturedLength, 64);
    EXPECT_NE(out[0].flags & kFrameCut, 0u);
    EXPECT_EQ(out[0].data, DumpBuilder::pattern(64, 1));
    // The next record was found 72 bytes on.
    EXPECT_EQ(out[1].capturedLength, 60);
    EXPECT_EQ(out[1].flags & kFrameCut, 0u);
    EXPECT_EQ(out[1].data, DumpBuilder::pattern(60, 2));
}

TEST_F(ProcessorTest, RecordLongerThanASlotIsCutToTheSlot) {
    DumpBuilder b;
    b.add(1, 1600).add(2, 100);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].frameLength, 1600);
    EXPECT_EQ(out[0].capturedLength, kRecordDataCapacity);
    EXPECT_NE(out[0].flags & kFrameCut, 0u);
    EXPECT_EQ(out[0].data, DumpBuilder::pattern(kRecordDataCapacity, 1));
    EXPECT_EQ(out[1].data, DumpBuilder::pattern(100, 2));  // and the walk went on behind the whole record
}

TEST_F(ProcessorTest, FlagsWordCarriesDirectionPhyInfoErrorsInputsAndShortFrames) {
    DumpBuilder b;
    b.phyInfo = 0xE5;  // only the low 5 bits count
    b.add(1, 60, kCrc | kNoise | di(2)).add(2, 64, kPort02 | kOversize | kAlignment | kPreamble);
    ASSERT_EQ(feed(b), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    const uint32_t phy = 0x05u << 9;
    EXPECT_EQ(out[0].flags, kDirectionInbound | phy | kCrcError | kNoiseError | (1u << 17) | kShortFrame);
    EXPECT_EQ(out[1].flags, kDirectionOutbound | phy | kOversizeError | kAlignmentError | kPreambleError);
    const std::vector<SinkMessage> expected = {
        {true, kLogWarning, "Packet #1: CRC Error detected by Analyzer"},
        {false, kStatusBar, "Packet #1: CRC Error detected by Analyzer"},
        {true, kLogWarning, "Packet #1: Noise Error detected by Analyzer"},
        {false, kStatusBar, "Packet #1: Noise Error detected by Analyzer"},
        {true, kLogInfo, "Packet #1: DigitalInput02 (positive edge) detected by Analyzer"},
        {false, kStatusBar, "Packet #1: DigitalInput02 (positive edge) detected by Analyzer"},
        {true, kLogWarning, "Packet #2: Oversize Error detected by Analyzer"},
        {false, kStatusBar, "Packet #2: Oversize Error detected by Analyzer"},
        {true, kLogWarning, "Packet #2: Alignment Error detected by Analyzer"},
        {false, kStatusBar, "Packet #2: Alignment Error detected by Analyzer"},
        {true, kLogWarning, "Packet #2: Preamble Error detected by Analyzer"},
        {false, kStatusBar, "Packet #2: Preamble Error detected by Analyzer"},
        {true, kLogInfo, "Packet #2: DigitalInput02 (negative edge) detected by Analyzer"},
        {false, kStatusBar, "Packet #2: DigitalInput02 (negative edge) detected by Analyzer"},
    };
    EXPECT_EQ(sink.reports(), expected);
}

// ------------------------------------------------------------------ bad input

TEST_F(ProcessorTest, FrameWithoutRecordsIsRefused) {
    const auto frame = DumpBuilder().add(1).build();
    EXPECT_EQ(feedBytes(frame, 64), -1);
    EXPECT_EQ(processDump(processor, nullptr, 100), -1);
    EXPECT_EQ(processDump(nullptr, frame.data(), static_cast<uint32_t>(frame.size())), -1);
    EXPECT_EQ(processor->packetCount, 0u);
}

TEST_F(ProcessorTest, TruncatedFrameKeepsTheRecordsBeforeTheCut) {
    DumpBuilder b;
    b.add(1, 60).add(2, 60).add(3, 60);
    const auto frame = b.build();  // records at 64, 132, 200; 268 bytes
    ASSERT_EQ(frame.size(), 268u);
    EXPECT_EQ(feedBytes(frame, 208), -1);  // third head fits, its data does not start inside
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(sink.reports().empty());
}

TEST_F(ProcessorTest, RecordCountBeyondTheFrameIsRefused) {
    DumpBuilder b;
    b.add(1, 60);
    b.dumpCountOverride = 200;
    const auto frame = b.build();
    EXPECT_EQ(feedBytes(frame, frame.size()), -1);
    EXPECT_EQ(drain().size(), 1u);
}

TEST_F(ProcessorTest, SizeFieldLargerThanTheFrameTakesOnlyWhatTheFrameHolds) {
    DumpBuilder b;
    b.add(1, 60).add(2, 1000);
    auto frame = b.build();
    const size_t length = 64 + 68 + 8 + 100;  // 100 of the 1000 bytes arrived
    EXPECT_EQ(feedBytes(frame, length), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].frameLength, 1000);
    EXPECT_EQ(out[1].capturedLength, 100);
    EXPECT_NE(out[1].flags & kFrameCut, 0u);
    EXPECT_EQ(out[1].data, DumpBuilder::pattern(100, 2));
}

TEST_F(ProcessorTest, FixedRecordSizeSmallerThanTheHeadHoldsNoData) {
    DumpBuilder b;
    b.dumpSize = 4;
    b.add(1, 60).add(2, 60);
    auto frame = b.build();
    frame.resize(frame.size() + 16, 0);
    EXPECT_EQ(feedBytes(frame, frame.size()), 0);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].capturedLength, 0);
    EXPECT_NE(out[0].flags & kFrameCut, 0u);
}

TEST_F(ProcessorTest, UnknownProtocolVersionStopsTheCapture) {
    DumpBuilder b;
    b.protocolVersion = 1;
    b.add(1);
    EXPECT_EQ(feed(b), -1);
    const std::string text =
        "Packet #1: Protocol version of Q40TA5521 frames is invalid. Actual version: 1. Expected version: 0";
    const std::vector<SinkMessage> expected = {{true, kLogError, text}, {false, kStatusError, text}};
    EXPECT_EQ(sink.messages, expected);
    EXPECT_EQ(drain().size(), 0u);
}

TEST_F(ProcessorTest, ExhaustedBufferStopsTheCapture) {
    create(3, kCaptureLive);
    DumpBuilder b;
    b.add(1).add(2).add(3).add(4).add(5);
    EXPECT_EQ(feed(b), -1);
    const std::string text = "Packet #4: Performance leak - overflow of presort buffer";
    const std::vector<SinkMessage> expected = {
        {true, kLogError, text}, {false, kStatusBar, text}, {false, kStatusError, text}};
    EXPECT_EQ(sink.reports(), expected);
    EXPECT_EQ(drain().size(), 3u);
}

// ------------------------------------------------------------------- triggers

TEST_F(ProcessorTest, FirstStoredPacketNeverFires) {
    settings.diPositive[0] = 1;
    DumpBuilder b;
    b.add(1, 64, di(1)).add(2, 64, di(1));
    ASSERT_EQ(feed(b), 0);
    EXPECT_FALSE(processor->triggered);
    for (const auto &r : drain()) EXPECT_EQ(r.flags & kTriggerPacket, 0u);
}

TEST_F(ProcessorTest, DroppedPacketsTriggerBeatsTheDestroyedPacketTrigger) {
    settings.postTriggerTimeNs = kLongPostTrigger;
    settings.destroyedPacket = 1;
    settings.droppedPacket = 1;
    DumpStream s(0);
    DumpBuilder a = s.dump();
    a.add(1);
    ASSERT_EQ(feed(a), 0);
    s.sent(a);
    DumpBuilder b;
    b.dumpTotal = static_cast<uint16_t>(s.next() + 2);
    b.add(2, 64, kCrc).add(3, 64, kCrc);
    ASSERT_EQ(feed(b), 0);
    EXPECT_STREQ(processor->triggerText, "TRIGGER: Dropped Packets.");
    EXPECT_EQ(processor->triggerPacketNumber, 2u);
    const auto out = drain();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_NE(out[1].flags & kTriggerPacket, 0u);
    EXPECT_EQ(out[2].flags & kTriggerPacket, 0u);  // one trigger per capture
}

TEST_F(ProcessorTest, DestroyedPacketTriggerNamesTheFirstErrorInItsOrder) {
    struct Case {
        uint16_t flags;
        const char *text;
    };
    const Case cases[] = {
        {kCrc | kNoise, "TRIGGER: CRC Error detected by Analyzer."},
        {kNoise | kOversize, "TRIGGER: Oversize Error detected by Analyzer."},
        {kAlignment | kPreamble, "TRIGGER: Alignment Error detected by Analyzer."},
        {kPreamble | kNoise, "TRIGGER: Preamble Error detected by Analyzer. "},
        {kNoise, "TRIGGER: Noise Error detected by Analyzer."},
    };
    settings.destroyedPacket = 1;
    settings.postTriggerTimeNs = kLongPostTrigger;
    for (const Case &c : cases) {
        create(64, kCaptureLive);
        DumpBuilder b;
        b.add(1).add(2, 64, c.flags);
        ASSERT_EQ(feed(b), 0);
        EXPECT_TRUE(processor->triggered);
        EXPECT_STREQ(processor->triggerText, c.text);
    }
}

TEST_F(ProcessorTest, DigitalInputTriggersNeedAnEdgeAndTakeTheLowestInput) {
    settings.postTriggerTimeNs = kLongPostTrigger;
    settings.diPositive[2] = 1;  // DI3 rising
    settings.diNegative[1] = 1;  // DI2 falling
    DumpBuilder b;
    // DI3 stays high from the start: no edge after the first packet.
    b.add(1, 64, di(2) | di(3)).add(2, 64, di(2) | di(3)).add(3, 64, 0);
    ASSERT_EQ(feed(b), 0);
    EXPECT_STREQ(processor->triggerText, "TRIGGER: DigitalInput02 (negative edge) detected by Analyzer.");
    EXPECT_EQ(processor->triggerPacketNumber, 3u);
    // The trigger time is the stamp of the packet before the trigger packet.
    EXPECT_EQ(processor->triggerTime, kStartNs + 1 * 20);

    create(64, kCaptureLive);
    DumpBuilder c;
    c.add(1).add(2, 64, di(3));
    ASSERT_EQ(feed(c), 0);
    EXPECT_STREQ(processor->triggerText, "TRIGGER: DigitalInput03 (positive edge) detected by Analyzer.");
    EXPECT_FALSE(evaluateTrigger(nullptr, 0));
    EXPECT_FALSE(evaluateTrigger(processor, di(3)));  // already triggered
}

// Feeds dumps of `perDump` packets, one per millisecond, DI1 rising at packet
// `risingAt`, until a dump ends the capture; `afterDump` runs after each dump
// that did not. Answers the result of every dump fed.
std::vector<int> feedMillisecondStream(int dumps, int perDump, int risingAt, const std::function<void()> &afterDump,
                                       const std::function<int(const DumpBuilder &)> &feedOne) {
    std::vector<int> results;
    DumpStream s(0);
    int packet = 1;
    for (int d = 0; d < dumps; ++d) {
        DumpBuilder b = s.dump();
        for (int i = 0; i < perDump; ++i, ++packet) {
            b.add(static_cast<uint32_t>(packet - 1) * kTicksPerMs, 64, packet >= risingAt ? di(1) : 0);
        }
        results.push_back(feedOne(b));
        if (results.back() != 0) break;
        s.sent(b);
        afterDump();
    }
    return results;
}

TEST_F(ProcessorTest, LiveCaptureCompletesOncePostTriggerTimeHasPassed) {
    settings.diPositive[0] = 1;
    settings.postTriggerTimeNs = 200LL * 1000000;
    const auto results = feedMillisecondStream(
        30, 10, 5, [] {}, [this](const DumpBuilder &b) { return feed(b); });
    // Trigger time is packet 4's stamp (3 ms); packet 205 (204 ms) is the first
    // more than 200 ms after it, and it travels in dump 21.
    ASSERT_EQ(results.size(), 21u);
    EXPECT_EQ(results.back(), kDumpTraceComplete);
    const std::string text = "TRIGGER: DigitalInput01 (positive edge) detected by Analyzer. Error near packet #5";
    const std::vector<SinkMessage> tail(sink.messages.end() - 3, sink.messages.end());
    const std::vector<SinkMessage> expected = {
        {false, kStatusBar, text}, {true, kLogError, text}, {false, kStatusError, text}};
    EXPECT_EQ(tail, expected);
    EXPECT_TRUE(sink.saw("[Live Capture] - Captured packets by Q40TA5521: 200. Internal buffer level: 200"));
}

TEST_F(ProcessorTest, SingleShotReportsTheTriggerPacketsPlaceInTheTrace) {
    create(4096, kCaptureSingleShot);
    settings.diPositive[0] = 1;
    settings.postTriggerTimeNs = 30LL * 1000000;
    // The main loop discards everything older than the newest 35 records,
    // also when the dump that completes the trace brings the buffer above that.
    const int32_t ring = 35;
    const auto results = feedMillisecondStream(
        30, 10, 40,
        [this, ring] {
            captureBufferSetHoldBack(buffer, ring);
            while (PacketRecord *r = captureBufferTakeReady(buffer)) captureBufferGiveBack(buffer, r);
        },
        [this](const DumpBuilder &b) { return feed(b); });
    // Trigger time 38 ms (packet 39), so packet 70 at 69 ms ends it in dump 7.
    ASSERT_EQ(results.size(), 7u);
    ASSERT_EQ(results.back(), kDumpTraceComplete);
    ASSERT_TRUE(processor->triggered);
    // Where the trigger packet really is in the trace: 45 records wait, the
    // newest 35 are written.
    const auto out = drainTrace(ring);
    int place = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i].flags & kTriggerPacket) place = static_cast<int>(i) + 1;
    }
    ASSERT_GT(place, 0);
    const std::string reported = sink.reports().back().text;
    EXPECT_EQ(reported, "TRIGGER: DigitalInput01 (positive edge) detected by Analyzer. Error near packet #" +
                            std::to_string(place));
    EXPECT_TRUE(
        sink.saw("[Single Shot - Waiting for trigger...] - Captured packets by Q40TA5521: 10. "
                 "Internal buffer level: 10"));
}

TEST_F(ProcessorTest, SingleShotTriggerPacketThatLeftTheRingIsReportedAtTheTraceStart) {
    create(4096, kCaptureSingleShot);
    settings.diPositive[0] = 1;
    settings.postTriggerTimeNs = 30LL * 1000000;
    // A ring of 12 records is shorter than the 30 ms after the trigger.
    const auto results = feedMillisecondStream(
        30, 10, 15,
        [this] {
            captureBufferSetHoldBack(buffer, 12);
            while (PacketRecord *r = captureBufferTakeReady(buffer)) captureBufferGiveBack(buffer, r);
        },
        [this](const DumpBuilder &b) { return feed(b); });
    ASSERT_EQ(results.back(), kDumpTraceComplete);
    for (const auto &r : drain()) ASSERT_EQ(r.flags & kTriggerPacket, 0u);
    EXPECT_EQ(sink.reports().back().text,
              "TRIGGER: DigitalInput01 (positive edge) detected by Analyzer. Error near packet #1");
}

}  // namespace
