// Every fault the simulator injects reaches the capture as the engine's
// texts (read back from the control-out pipe's framing), packet flags, drop
// counts and end of capture; triggers end the capture after the post-trigger time.
#include <gtest/gtest.h>

#include "replay_harness.h"

using namespace replaytest;

namespace {

constexpr uint32_t kCut = 1u << 20;
constexpr uint32_t kTriggerPacket = 1u << 21;
constexpr uint32_t kFramesLost = 1u << 22;
constexpr uint32_t kCrc = 1u << 24;
constexpr uint32_t kOversize = 1u << 25;
constexpr uint32_t kAlignment = 1u << 28;
constexpr uint32_t kPreamble = 1u << 30;
constexpr uint32_t kNoise = 1u << 31;
constexpr uint32_t kDi1 = 1u << 16;
constexpr char kBoot[] = "powerlink_1cn_boot.pcapng";  // 834 frames over 21 s

class ReplayFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
        input_ = sharedCaptures() + "/" + kBoot;
        frames_ = readCapture(input_);
        ASSERT_EQ(frames_.size(), 834u);
    }

    // Alternating ports, four records per dump: dump k carries frames 4k-3..4k.
    ReplayResult run(std::vector<std::string> simArgs, const std::vector<std::string> &extcapArgs = {}) {
        simArgs.insert(simArgs.begin(), {"--ports=alternate", "--records=4"});
        const std::string raw = dir_.file("raw.pcapng");
        std::string output;
        EXPECT_TRUE(simulate(input_, raw, simArgs, &output)) << output;
        ReplayOptions options;
        options.extraArgs = extcapArgs;
        ReplayResult result = replayWithFifos(dir_, raw, options);
        EXPECT_EQ(result.status, expectedStatus_) << result.console;
        EXPECT_TRUE(result.pcapngValid);
        EXPECT_NE(result.logText().find("Capture stopped"), std::string::npos);
        bool clean = false;
        parseControlStream(result.controlOut, &clean);
        EXPECT_TRUE(clean) << "control-out holds bytes outside the message framing";
        return result;
    }

    // The packets are frames 1..count of the input, in order.
    void expectPrefix(const ReplayResult &result, size_t count) {
        ASSERT_EQ(result.packets.size(), count);
        for (size_t i = 0; i < count; ++i) ASSERT_EQ(result.packets[i].data, frames_[i].data) << "packet " << i + 1;
    }

    // First dump (of four frames) at or after frame `from` whose last frame lies
    // more than `postNs` after frame `reference` (numbers from 1).
    size_t completingFrame(size_t from, size_t reference, int64_t postNs) {
        for (size_t last = (from + 3) / 4 * 4; last <= frames_.size(); last += 4)
            if (analyzerOffset(frames_, last - 1) - analyzerOffset(frames_, reference - 1) > postNs) return last;
        return 0;
    }

    TempDir dir_;
    std::string input_;
    std::vector<InputFrame> frames_;
    int expectedStatus_ = 0;
};

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(ReplayFaults, DumpsDroppedOnTheWayAreLostByThePcAndFlagTheNextPacket) {
    const ReplayResult r = run({"--drop-dump=5"});
    EXPECT_TRUE(contains(r.logText(), "WARNING: - ")) << r.logText();
    EXPECT_TRUE(contains(r.logText(), "Packet #17: 4 Packets lost by PC")) << r.logText();
    ASSERT_EQ(r.packets.size(), 830u);
    EXPECT_EQ(r.packets[16].data, frames_[20].data);  // frames 17..20 never arrived
    EXPECT_TRUE(r.packets[16].flags & kFramesLost);
    EXPECT_EQ(r.packets[16].dropCount, 4);
    EXPECT_FALSE(r.packets[15].flags & kFramesLost);
    EXPECT_FALSE(r.packets[17].flags & kFramesLost);
    EXPECT_EQ(r.packets[17].dropCount, 0);
}

TEST_F(ReplayFaults, AnalyzerLossIsReportedAndFlaggedWithoutDropCount) {
    const ReplayResult r = run({"--dump-lost=7:3"});
    EXPECT_TRUE(contains(r.logText(), "Packet #25: 3 Packets lost by Analyzer")) << r.logText();
    expectPrefix(r, 834);
    EXPECT_TRUE(r.packets[24].flags & kFramesLost);
    EXPECT_EQ(r.packets[24].dropCount, 0);
    EXPECT_FALSE(r.packets[23].flags & kFramesLost);
}

TEST_F(ReplayFaults, DuplicatedDumpsAndDumpsOfAnotherCaptureAreIgnored) {
    const ReplayResult r = run({"--duplicate-dump=3,9", "--foreign-dump=4"});
    EXPECT_FALSE(contains(r.logText(), "lost")) << r.logText();
    expectPrefix(r, 834);
    for (const Packet &p : r.packets) EXPECT_FALSE(p.flags & kFramesLost);
}

TEST_F(ReplayFaults, ReceiveErrorsAreReportedAndSetTheirFlagBits) {
    const ReplayResult r = run({"--error=10:crc+noise", "--error=11:alignment+preamble+oversize"});
    const std::string log = r.logText();
    for (const char *text :
         {"Packet #10: CRC Error detected by Analyzer", "Packet #10: Noise Error detected by Analyzer",
          "Packet #11: Alignment Error detected by Analyzer", "Packet #11: Preamble Error detected by Analyzer",
          "Packet #11: Oversize Error detected by Analyzer"})
        EXPECT_TRUE(contains(log, text)) << text;
    expectPrefix(r, 834);
    EXPECT_EQ(r.packets[9].flags & (kCrc | kNoise | kAlignment | kPreamble | kOversize), kCrc | kNoise);
    EXPECT_EQ(r.packets[10].flags & (kCrc | kNoise | kAlignment | kPreamble | kOversize),
              kAlignment | kPreamble | kOversize);
    EXPECT_EQ(r.packets[11].flags & (kCrc | kNoise | kAlignment | kPreamble | kOversize), 0u);
}

TEST_F(ReplayFaults, WrongProtocolVersionEndsTheCaptureAfterWritingWhatCameBefore) {
    expectedStatus_ = 1;  // a failure, with the reason on standard error
    const ReplayResult r = run({"--bad-version=6:3"});
    const std::string text =
        "Packet #21: Protocol version of Q40TA5521 frames is invalid. Actual version: 3. Expected version: 0";
    EXPECT_TRUE(contains(r.logText(), "  ERROR: - ")) << r.logText();
    EXPECT_TRUE(contains(r.logText(), text)) << r.logText();
    EXPECT_TRUE(contains(controlTexts(r.messages, 0, 9), text)) << "error message missing";
    expectPrefix(r, 20);
}

TEST_F(ReplayFaults, TruncatedDumpEndsTheCaptureKeepingTheRecordsBeforeTheCut) {
    const ReplayResult r = run({"--truncate-dump=6"});
    expectPrefix(r, 23);  // dump 6's last record head lies beyond the frame end
}

TEST_F(ReplayFaults, OversizedRecordIsCutToTheSlotAndMarkedCut) {
    const ReplayResult r = run({"--oversize=30:1600"});
    ASSERT_EQ(r.packets.size(), 834u);
    for (size_t i = 0; i < 834; ++i)
        if (i != 29) {
            ASSERT_EQ(r.packets[i].data, frames_[i].data) << i;
        }
    const Packet &cut = r.packets[29];
    EXPECT_EQ(cut.frameLength, 1600u);
    // The dump frame is read whole, as live capture reads it; the record's
    // first 1536 bytes fill the slot.
    EXPECT_EQ(cut.data.size(), 1536u);
    EXPECT_TRUE(cut.flags & kCut);
    EXPECT_EQ(cut.data.substr(0, frames_[29].data.size()), frames_[29].data);
}

TEST_F(ReplayFaults, BlockLongerThanTheReadWindowIsSkippedAndCountedAsLost) {
    // A 4100-byte record makes a dump frame whose block exceeds 4096 bytes.
    const ReplayResult r = run({"--oversize=30:4100"});
    EXPECT_TRUE(contains(r.logText(), "skipped: longer than 4096 bytes")) << r.logText();
    EXPECT_TRUE(contains(r.logText(), "Packet #30: 1 Packets lost by PC")) << r.logText();
    ASSERT_EQ(r.packets.size(), 833u);
    EXPECT_EQ(r.packets[29].data, frames_[30].data);
    EXPECT_EQ(r.packets[29].dropCount, 1);
}

TEST_F(ReplayFaults, FixedRecordSizeCutsLongFrames) {
    const ReplayResult r = run({"--dump-size=72"});
    ASSERT_EQ(r.packets.size(), 834u);
    for (size_t i = 0; i < frames_.size(); ++i) {
        const std::string &original = frames_[i].data;
        const Packet &p = r.packets[i];
        ASSERT_EQ(p.data, original.substr(0, 64)) << i;
        ASSERT_EQ(p.frameLength, original.size());
        ASSERT_EQ((p.flags & kCut) != 0, original.size() > 64) << i;
    }
}

TEST_F(ReplayFaults, DisabledPortIsLeftOutAndNotCounted) {
    const ReplayResult r = run({"--error=3:crc"}, {"--ta5521captureportconfig", "port0"});
    ASSERT_EQ(r.packets.size(), 417u);
    for (const Packet &p : r.packets) EXPECT_EQ(p.flags & 3u, 1u);
    // Frame 3 is port 01's second record: packet #2.
    EXPECT_TRUE(contains(r.logText(), "Packet #2: CRC Error detected by Analyzer")) << r.logText();
}

TEST_F(ReplayFaults, DigitalInputEdgeTriggerEndsALiveCaptureAfterThePostTriggerTime) {
    const ReplayResult r = run({"--di=400:1"}, {"--ta5521capturetrigger", "di0_pos", "--ta5521posttriggertime", "100"});
    const size_t last = completingFrame(400, 399, 100000000);
    ASSERT_GT(last, 400u);
    EXPECT_TRUE(contains(r.logText(), "Packet #400: DigitalInput01 (positive edge) detected by Analyzer"));
    const std::string report = "TRIGGER: DigitalInput01 (positive edge) detected by Analyzer. Error near packet #400";
    EXPECT_TRUE(contains(r.logText(), report)) << r.logText();
    EXPECT_TRUE(contains(controlTexts(r.messages, 0, 9), report));
    expectPrefix(r, last);
    for (size_t i = 0; i < r.packets.size(); ++i) {
        EXPECT_EQ((r.packets[i].flags & kTriggerPacket) != 0, i == 399) << i;
        EXPECT_EQ((r.packets[i].flags & kDi1) != 0, i >= 399) << i;
    }
}

TEST_F(ReplayFaults, DigitalInputEdgeTriggerInSingleShotWritesTheTraceAndNamesTheTriggerPosition) {
    const ReplayResult r = run({"--di=400:1"}, {"--capturemode", "singleshot", "--ta5521capturetrigger", "di0_pos",
                                                "--ta5521posttriggertime", "100"});
    EXPECT_TRUE(contains(controlTexts(r.messages, 0, 8),
                         "Single Shot mode active!\n Use 'Force Trigger' to stop the capture!"));
    const size_t last = completingFrame(400, 399, 100000000);
    expectPrefix(r, last);
    size_t triggerIndex = 0;
    for (size_t i = 0; i < r.packets.size(); ++i)
        if (r.packets[i].flags & kTriggerPacket) triggerIndex = i + 1;
    ASSERT_EQ(triggerIndex, 400u);
    EXPECT_TRUE(contains(r.logText(), "Error near packet #" + std::to_string(triggerIndex))) << r.logText();
}

TEST_F(ReplayFaults, SingleShotWithoutTriggerWritesNothingAtTheEndOfTheFile) {
    const ReplayResult r = run({}, {"--capturemode", "singleshot"});
    EXPECT_TRUE(r.packets.empty());
}

TEST_F(ReplayFaults, DroppedPacketTriggerFiresOnTheFirstPacketAfterALoss) {
    const ReplayResult r = run({"--drop-dump=50"},
                               {"--ta5521capturetrigger", "droppedPkt,destroyedPkt", "--ta5521posttriggertime", "100"});
    // Frames 197..200 were lost; frame 201 is packet #197 in the stream.
    EXPECT_TRUE(contains(r.logText(), "TRIGGER: Dropped Packets. Error near packet #197")) << r.logText();
}
