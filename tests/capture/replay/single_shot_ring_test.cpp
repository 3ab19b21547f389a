// A single-shot capture longer than its pre-trigger ring: the trace is cut
// back to the newest ring records, and the position the completion report
// names must be the trigger packet's real place in that written trace, also
// when the writer lagged and the buffer held more than the ring at the end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "replay_harness.h"

using namespace replaytest;

namespace {

constexpr uint32_t kTriggerPacket = 1u << 21;
constexpr char kBoot[] = "powerlink_1cn_boot.pcapng";  // 834 frames over 21 s
constexpr size_t kRepeats = 400;                       // 333,600 records: more than the ring of 327,680
constexpr size_t kTriggerFrame = 333000;               // in the last repeat, well before its end

// The number after the first "Error near packet #" in the log, or 0.
size_t reportedPosition(const std::string &log) {
    const std::string marker = "TRIGGER: DigitalInput01 (positive edge) detected by Analyzer. Error near packet #";
    const size_t at = log.find(marker);
    if (at == std::string::npos) return 0;
    return static_cast<size_t>(std::strtoull(log.c_str() + at + marker.size(), nullptr, 10));
}

}  // namespace

TEST(SingleShotRing, ReportedTriggerPositionIsItsPlaceInATraceCutBackToTheRing) {
    if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
    const std::string input = sharedCaptures() + "/" + kBoot;
    const std::vector<InputFrame> frames = readCapture(input);
    ASSERT_EQ(frames.size(), 834u);
    TempDir dir;
    const std::string raw = dir.file("raw.pcapng");
    std::string output;
    ASSERT_TRUE(simulate(
        input, raw,
        {"--records=16", "--repeat=" + std::to_string(kRepeats), "--di=" + std::to_string(kTriggerFrame) + ":1"},
        &output))
        << output;
    ReplayOptions options;
    options.extraArgs = {"--capturemode",           "singleshot", "--ta5521capturetrigger", "di0_pos",
                         "--ta5521posttriggertime", "100"};
    const ReplayResult r = replayWithFifos(dir, raw, options);
    ASSERT_EQ(r.status, 0) << r.console;
    ASSERT_TRUE(r.pcapngValid);

    // The trace is a run of consecutive input frames, shorter than the capture.
    const size_t total = frames.size() * kRepeats;
    ASSERT_GT(r.packets.size(), 1000u);
    ASSERT_LT(r.packets.size(), kTriggerFrame) << "the trace was not cut back to the ring";
    size_t trigger = 0;
    for (size_t i = 0; i < r.packets.size(); ++i) {
        if (r.packets[i].flags & kTriggerPacket) {
            ASSERT_EQ(trigger, 0u) << "a second trigger packet at " << i + 1;
            trigger = i + 1;
        }
    }
    ASSERT_GT(trigger, 0u) << "the trigger packet is not in the trace";
    // Its place in the trace fixes where the trace starts among the input frames.
    ASSERT_GE(kTriggerFrame, trigger);
    const size_t first = kTriggerFrame - trigger;  // input index of the trace's first packet
    ASSERT_LE(first + r.packets.size(), total);
    for (size_t i = 0; i < r.packets.size(); ++i)
        ASSERT_EQ(r.packets[i].data, frames[(first + i) % frames.size()].data) << "packet " << i + 1;

    EXPECT_EQ(reportedPosition(r.logText()), trigger) << r.logText();
}
