// Playing Wireshark with real FIFOs: Force Trigger from control-in, the key t
// of a standalone run, signals and a reader that closes the FIFO each end the
// capture and leave a well-formed pcapng with every record released before.
// Single shot keeps exactly the newest hold-back records.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include "replay_harness.h"

using namespace replaytest;

namespace {

constexpr char kBoot[] = "powerlink_1cn_boot.pcapng";
constexpr int kPasses = 450;  // 375300 frames: more than the 327680 + 1024 slots
constexpr size_t kSingleShotDepth = 327680;
constexpr uint32_t kTriggerPacket = 1u << 21;

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// "LEVEL: - dd.mm.yyyy - hh:mm:ss - text", the plain log line of a standalone run.
bool isPlainLogLine(const std::string &line, const std::string &level = "", const std::string &text = "") {
    static const char kShape[] = "LLLLLLL: - 00.00.0000 - 00:00:00 - ";
    const size_t prefix = sizeof kShape - 1;
    if (line.size() < prefix) return false;
    for (size_t i = 7; i < prefix; ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (kShape[i] == '0' ? !digit : line[i] != kShape[i]) return false;
    }
    const std::string name = line.substr(0, 7);
    const bool known =
        name == " STATUS" || name == "   INFO" || name == "WARNING" || name == "  ERROR" || name == " FILTER";
    return known && (level.empty() || name == level) && (text.empty() || line.substr(prefix) == text);
}

bool hasPlainLogLine(const std::string &log, const std::string &level, const std::string &text) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (isPlainLogLine(line, level, text)) return true;
    return false;
}

void pressForceTrigger(const std::string &controlIn) {
    int fd = open(controlIn.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << "control-in is not open for reading";
    const std::string message = forceTriggerMessage();
    EXPECT_EQ(write(fd, message.data(), message.size()), static_cast<ssize_t>(message.size()));
    close(fd);
}

// Bytes process `pid` has read so far (the replay reads its file with
// positioned reads, so the descriptor's offset does not move); once the
// process is gone the answer is the largest value.
long long bytesRead(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long count = -1;
    while (io >> key) {
        if (key == "rchar:") {
            io >> count;
            break;
        }
    }
    return count < 0 ? std::numeric_limits<long long>::max() : count;
}

class CaptureControl : public ::testing::Test {
protected:
    void SetUp() override {
        if (sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
        const std::string input = sharedCaptures() + "/" + kBoot;
        raw_ = dir_.file("raw.pcapng");
        std::string output;
        // One record per dump keeps the frames' order simple: dump k is frame k.
        ASSERT_TRUE(
            simulate(input, raw_, {"--ports=mac", "--records=16", "--repeat=" + std::to_string(kPasses)}, &output))
            << output;
        frames_ = repeatFrames(readCapture(input), kPasses);
    }

    // The packets are frames 1..n in order with the analyzer's spacing.
    void expectPrefix(const std::vector<Packet> &packets) {
        ASSERT_FALSE(packets.empty());
        std::string why;
        EXPECT_EQ(findContiguousRun(frames_, packets, &why), 0) << why;
    }

    TempDir dir_;
    std::string raw_;
    std::vector<InputFrame> frames_;
};

}  // namespace

TEST_F(CaptureControl, ForceTriggerFromControlInEndsALiveCaptureAndWritesEverythingBuffered) {
    ReplayOptions options;
    options.holdOutput = true;  // the writer blocks, the buffer fills, the replay waits for room
    options.whileRunning = [](Process &, const std::string &controlIn) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        pressForceTrigger(controlIn);
    };
    const ReplayResult r = replayWithFifos(dir_, raw_, options);
    EXPECT_EQ(r.status, 0) << r.console;
    ASSERT_TRUE(r.pcapngValid);
    EXPECT_TRUE(contains(r.logText(), "   INFO: - ")) << r.logText();
    EXPECT_TRUE(contains(r.logText(), "Trigger forced!")) << r.logText();
    EXPECT_TRUE(contains(controlTexts(r.messages, 0, 7), "Trigger forced!\nPlease wait while trace is generated!\n"));
    EXPECT_TRUE(contains(r.logText(), "Capture stopped"));
    // Stopped before the end of the file.
    EXPECT_GT(r.packets.size(), 1000u);
    EXPECT_LT(r.packets.size(), frames_.size());
    expectPrefix(r.packets);
}

TEST_F(CaptureControl, ForceTriggerInSingleShotWritesExactlyTheNewestHoldBackRecords) {
    // Twice the frames of the fixture, so the replay is still under way well
    // after the pre-trigger ring has filled.
    const int passes = 2 * kPasses;
    const std::string raw = dir_.file("raw_long.pcapng");
    std::string output;
    ASSERT_TRUE(simulate(sharedCaptures() + "/" + kBoot, raw,
                         {"--ports=mac", "--records=16", "--repeat=" + std::to_string(passes)}, &output))
        << output;
    const std::vector<InputFrame> frames = repeatFrames(readCapture(sharedCaptures() + "/" + kBoot), passes);
    struct stat rawStat {};
    ASSERT_EQ(stat(raw.c_str(), &rawStat), 0);
    // Press once the replay has read 60 % of the file: more than the ring holds
    // (kSingleShotDepth is 44 % of the frames), yet far from the end.
    const long long pressAt = static_cast<long long>(rawStat.st_size) * 6 / 10;

    ReplayOptions options;
    options.extraArgs = {"--capturemode", "singleshot"};
    options.holdOutput = true;
    options.whileRunning = [&](Process &process, const std::string &controlIn) {
        while (process.running() && bytesRead(process.pid()) < pressAt)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        pressForceTrigger(controlIn);
    };
    const ReplayResult r = replayWithFifos(dir_, raw, options);
    EXPECT_EQ(r.status, 0) << r.console;
    ASSERT_TRUE(r.pcapngValid);
    ASSERT_TRUE(contains(r.logText(), "Trigger forced!")) << r.logText();
    std::string why;
    const long first = findContiguousRun(frames, r.packets, &why);
    ASSERT_GE(first, 0) << why;
    EXPECT_EQ(r.packets.size(), kSingleShotDepth);
    EXPECT_LT(static_cast<size_t>(first) + r.packets.size(), frames.size()) << "the trace reaches the end of the file";
}

TEST_F(CaptureControl, SingleShotTriggerKeepsExactlyTheNewestHoldBackRecords) {
    // DI1 rises at frame 370001: far beyond the pre-trigger ring's depth.
    const std::string input = sharedCaptures() + "/" + kBoot;
    std::string output;
    ASSERT_TRUE(simulate(input, raw_,
                         {"--ports=alternate", "--records=4", "--repeat=" + std::to_string(kPasses), "--di=370001:1"},
                         &output))
        << output;
    ReplayOptions options;
    options.extraArgs = {"--capturemode",           "singleshot", "--ta5521capturetrigger", "di0_pos",
                         "--ta5521posttriggertime", "100"};
    const ReplayResult r = replayWithFifos(dir_, raw_, options);
    EXPECT_EQ(r.status, 0) << r.console;
    ASSERT_TRUE(r.pcapngValid);
    ASSERT_EQ(r.packets.size(), kSingleShotDepth);
    // The trace ends with the first dump (frames 4k-3..4k) whose last frame lies
    // more than 100 ms after frame 370000, the packet stored before the trigger.
    size_t last = 370004;
    while (analyzerOffset(frames_, last - 1) - analyzerOffset(frames_, 370000 - 1) <= 100000000) last += 4;
    const size_t first = last - kSingleShotDepth;  // index of the first written frame
    std::string why;
    EXPECT_TRUE(runMatchesAt(frames_, r.packets, first, &why)) << why;
    size_t triggerIndex = 0;
    for (size_t i = 0; i < r.packets.size(); ++i)
        if (r.packets[i].flags & kTriggerPacket) triggerIndex = i + 1;
    EXPECT_EQ(triggerIndex, 370001 - first);
    EXPECT_TRUE(
        contains(r.logText(), "TRIGGER: DigitalInput01 (positive edge) detected by Analyzer. Error near packet #"));
}

class CaptureStops : public CaptureControl, public ::testing::WithParamInterface<int> {};

TEST_P(CaptureStops, SignalInTheMiddleOfAReplayLeavesAWellFormedPrefix) {
    const int signalNumber = GetParam();
    ReplayOptions options;
    options.holdOutput = true;
    options.whileRunning = [signalNumber](Process &process, const std::string &) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        process.signal(signalNumber);
    };
    const ReplayResult r = replayWithFifos(dir_, raw_, options);
    EXPECT_TRUE(contains(r.console, "signal " + std::to_string(signalNumber) + " received")) << r.console;
    // Ends by itself within the grace time (0), or by the signal guard after it (255).
    EXPECT_TRUE(r.status == 0 || r.status == 255) << r.status;
    ASSERT_TRUE(r.pcapngValid);
    EXPECT_LT(r.packets.size(), frames_.size());
    expectPrefix(r.packets);

    const std::string file = dir_.file("signalled.pcapng");
    writeFile(file, r.pcapng);
    std::string capinfos;
    EXPECT_EQ(runProgram({"/usr/bin/capinfos", "-c", "-M", file}, &capinfos), 0) << capinfos;
    EXPECT_TRUE(contains(capinfos, std::to_string(r.packets.size()))) << capinfos;
}

INSTANTIATE_TEST_SUITE_P(Signals, CaptureStops, ::testing::Values(SIGINT, SIGTERM));

TEST_F(CaptureControl, ReaderClosingTheFifoEndsTheCaptureAtOnce) {
    ReplayOptions options;
    options.closeOutputAfter = 500000;
    const auto begin = std::chrono::steady_clock::now();
    const ReplayResult r = replayWithFifos(dir_, raw_, options);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_TRUE(contains(r.logText(), "Capture stopped")) << r.logText();
    // What the reader took is whole blocks up to its cut.
    EXPECT_EQ(r.pcapng.size(), 500000u);
    std::vector<Packet> packets;
    parsePcapng(r.pcapng, &packets);
    ASSERT_GT(packets.size(), 1000u);
    expectPrefix(packets);
}

TEST_F(CaptureControl, StandaloneRunTakesTheKeyTAndWritesAPlainLog) {
    const std::string fifo = dir_.file("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    const std::string log = dir_.file("log.txt");
    FifoReader output(fifo);
    output.hold();
    Process process(
        {extcapPath(), "--capture", "--extcap-interface", "sentra_ta5521_file", "--standalone", "--fifo", fifo,
         "--extcap-control-in", dir_.file("in.txt"), "--extcap-control-out", log, "--ta5521capturefile", raw_},
        dir_.file("console.txt"), true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!contains(readFile(log), "Capture started") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    process.writeStdin("xt");
    output.finish(&process);
    EXPECT_EQ(process.wait(1000), 0);
    const std::string text = readFile(log);
    // Plain lines only: no message framing in a standalone log.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) EXPECT_TRUE(isPlainLogLine(line)) << line;
    EXPECT_TRUE(hasPlainLogLine(text, "   INFO", "Trigger forced!")) << text;
    EXPECT_TRUE(hasPlainLogLine(text, " STATUS", "Capture stopped")) << text;
    EXPECT_TRUE(contains(readFile(dir_.file("console.txt")), "Trigger forced!\nPlease wait while trace is generated!"));
    std::vector<Packet> packets;
    ASSERT_TRUE(parsePcapng(output.bytes(), &packets));
    EXPECT_GT(packets.size(), 1000u);
    EXPECT_LT(packets.size(), frames_.size());
    expectPrefix(packets);
}
