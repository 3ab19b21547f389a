// Live captures from the analyzer simulator over veth cards in network
// namespaces: discovery across cards, node selection, bit-exact round trips,
// the silence handling, Force Trigger and SIGINT, cards that fail, all
// through the real FIFOs and control pipes Wireshark uses.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "dump_frame.h"
#include "live_net.h"

using namespace livetest;
using replaytest::InputFrame;
using replaytest::Process;
using replaytest::TempDir;

namespace {

constexpr char kBoot[] = "powerlink_1cn_boot.pcapng";              // 834 frames, 21 s
constexpr char kCollisions[] = "powerlink_1cn_collisions.pcapng";  // 2680 frames, 61 s
constexpr char kExample[] = "powerlink_example.pcap";              // 1001 frames, 14 s
constexpr char kFound[] = "Q40TA5521 deteced successfully! NIC: ";
constexpr int kStartMs = 20000;

std::string capturePath(const char *name) { return replaytest::sharedCaptures() + "/" + name; }

size_t countContaining(const std::vector<std::string> &texts, const std::string &part) {
    return static_cast<size_t>(std::count_if(texts.begin(), texts.end(),
                                             [&](const std::string &t) { return t.find(part) != std::string::npos; }));
}

// Every frame of the capture once, bit-exact, in time order, spaced as the
// analyzer stamped them.
void expectRoundTrip(const std::vector<Packet> &packets, const std::string &capture) {
    const std::vector<InputFrame> frames = replaytest::readCapture(capture);
    ASSERT_FALSE(frames.empty());
    ASSERT_EQ(packets.size(), frames.size());
    for (size_t i = 1; i < packets.size(); ++i)
        ASSERT_LE(packets[i - 1].timestamp, packets[i].timestamp) << "out of time order at " << i;
    std::string why;
    EXPECT_TRUE(replaytest::runMatchesAt(frames, packets, 0, &why)) << why;
    for (const Packet &p : packets) {
        ASSERT_EQ(p.frameLength, p.data.size());
        ASSERT_EQ(p.dropCount, 0);
    }
}

// Records in the dump frames that the simulator sent before its first pause
// of more than 20 s of analyzer time (the dump frames as it wrote them to a file).
size_t recordsBeforePause(const std::string &sentFile) {
    std::vector<Packet> dumps;
    if (!replaytest::parsePcapng(replaytest::readFile(sentFile), &dumps)) return 0;
    size_t records = 0;
    for (size_t i = 0; i < dumps.size(); ++i) {
        if (i > 0 && dumps[i].timestamp - dumps[i - 1].timestamp > 20000000000LL) break;
        if (dumps[i].data.size() > dumpframe::kDumpCountOffset)
            records += static_cast<uint8_t>(dumps[i].data[dumpframe::kDumpCountOffset]);
    }
    return records;
}

class LiveCaptureTest : public ::testing::Test {
protected:
    // A skip or failed assertion in here ends only this function: callers
    // return when it did (ready() is false), or they would run on no network.
    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }
    void build(int cards) {
        if (replaytest::sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
        net_.reset(new LiveNet(cards));
        if (!net_->namespacesAvailable()) GTEST_SKIP() << net_->why();
        ASSERT_TRUE(net_->ok()) << net_->why();
    }
    // Runs the simulator to its end.
    void send(int card, int node, const char *capture, const std::vector<std::string> &extra) {
        std::string output;
        ASSERT_EQ(replaytest::runProgram(simulatorArgs(*net_, card, node, capturePath(capture), extra,
                                                       dir_.file("sent" + std::to_string(card) + ".pcapng")),
                                         &output, 60000),
                  0)
            << output;
    }
    std::unique_ptr<Process> sendInBackground(int card, int node, const char *capture,
                                              const std::vector<std::string> &extra) {
        return std::unique_ptr<Process>(new Process(simulatorArgs(*net_, card, node, capturePath(capture), extra,
                                                                  dir_.file("sent" + std::to_string(card) + ".pcapng")),
                                                    dir_.file("sim" + std::to_string(card) + ".txt")));
    }

    TempDir dir_;
    std::unique_ptr<LiveNet> net_;
};

}  // namespace

TEST_F(LiveCaptureTest, DiscoveryKeepsTheThirdCardAndClosesTheOthers) {
    build(3);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {});
    ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs)) << capture.logText();
    // Listening on all three cards (lo is down and cannot be opened).
    std::vector<int> listening = net_->packetSocketCards();
    std::sort(listening.begin(), listening.end());
    const std::vector<int> all = {net_->cardIndex("nic1"), net_->cardIndex("nic2"), net_->cardIndex("nic3")};
    EXPECT_EQ(listening, all);

    send(3, 4, kBoot, {"--speed=10"});
    ASSERT_TRUE(capture.waitForControlText(kFound, 5000));
    EXPECT_NE(capture.logText().find("Q40TA5521 deteced successfully! NIC: nic3. HW node number: 4."),
              std::string::npos)
        << capture.logText();
    // The status bar takes one message a second, so the search message of the
    // same second may keep this one off it; the log always has it.
    EXPECT_LE(countContaining(capture.statusBar(), "deteced successfully! NIC: nic3. HW node number: 4."), 1u);
    EXPECT_EQ(net_->packetSocketCards(), std::vector<int>{net_->cardIndex("nic3")});

    ASSERT_TRUE(capture.waitForPackets(834, 10000)) << capture.packets().size();
    EXPECT_EQ(capture.interrupt(), 0);
    expectRoundTrip(capture.packets(), capturePath(kBoot));
}

TEST_F(LiveCaptureTest, ChosenNodeTakesOnlyItsOwnAnalyzer) {
    build(2);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {"--ta5521hwnode", "5"});
    ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
    // Node 3 starts first and keeps sending throughout.
    auto node3 = sendInBackground(1, 3, kCollisions, {"--speed=20"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    send(2, 5, kBoot, {"--speed=10"});
    ASSERT_TRUE(capture.waitForPackets(834, 10000));
    EXPECT_EQ(node3->wait(20000), 0);
    EXPECT_EQ(capture.interrupt(), 0);
    EXPECT_NE(capture.logText().find("NIC: nic2. HW node number: 5."), std::string::npos) << capture.logText();
    expectRoundTrip(capture.packets(), capturePath(kBoot));
}

TEST_F(LiveCaptureTest, NodeZeroTakesTheFirstAnalyzerSeen) {
    build(2);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {"--ta5521hwnode", "0"});
    ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
    auto node3 = sendInBackground(1, 3, kBoot, {"--speed=10"});
    ASSERT_TRUE(capture.waitForControlText(kFound, 5000));
    send(2, 5, kExample, {"--speed=20"});
    EXPECT_EQ(node3->wait(20000), 0);
    ASSERT_TRUE(capture.waitForPackets(834, 10000));
    EXPECT_EQ(capture.interrupt(), 0);
    EXPECT_NE(capture.logText().find("NIC: nic1. HW node number: 3."), std::string::npos) << capture.logText();
    expectRoundTrip(capture.packets(), capturePath(kBoot));
}

TEST_F(LiveCaptureTest, WrongNodeKeepsSearchingOncePerSecond) {
    build(2);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {"--ta5521hwnode", "7"});
    ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
    const auto start = std::chrono::steady_clock::now();
    auto node3 = sendInBackground(1, 3, kBoot, {"--speed=7"});
    send(2, 5, kBoot, {"--speed=7"});
    EXPECT_EQ(node3->wait(20000), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(capture.interrupt(), 0);

    const std::vector<std::string> bar = capture.statusBar();
    const size_t searching = countContaining(bar, "Searching for Q40TA5521 (7) ");
    EXPECT_GE(searching, static_cast<size_t>(seconds) - 1) << seconds << " s";
    EXPECT_LE(searching, static_cast<size_t>(seconds) + 2) << seconds << " s";
    EXPECT_EQ(countContaining(bar, "deteced"), 0u);
    EXPECT_EQ(capture.logText().find("deteced"), std::string::npos);
    EXPECT_TRUE(capture.packets().empty());
}

TEST_F(LiveCaptureTest, RoundTripsAreBitExactAtFullSpeed) {
    build(1);
    if (!ready()) return;
    {
        // Alternating ports across the low counter's wrap, five records a dump.
        LiveCapture capture(*net_, dir_, {});
        ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
        send(1, 1, kExample, {"--speed=0", "--ports=alternate", "--records=5", "--tick-start=0xFFFFF000"});
        ASSERT_TRUE(capture.waitForPackets(1001, 10000));
        EXPECT_EQ(capture.interrupt(), 0);
        const std::vector<Packet> packets = capture.packets();
        expectRoundTrip(packets, capturePath(kExample));
        for (size_t i = 0; i < packets.size(); ++i) ASSERT_EQ(packets[i].flags & 3u, i % 2 == 0 ? 1u : 2u) << i;
        EXPECT_EQ(capture.logText().find("lost by PC"), std::string::npos);
    }
    {
        // Full dump frames of up to 255 records, sent without pauses.
        LiveCapture capture(*net_, dir_, {});
        ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
        send(1, 1, kCollisions, {"--speed=0", "--records=255", "--tick-start=0x300000000"});
        ASSERT_TRUE(capture.waitForPackets(2680, 10000));
        EXPECT_EQ(capture.interrupt(), 0);
        expectRoundTrip(capture.packets(), capturePath(kCollisions));
        EXPECT_EQ(capture.logText().find("lost by PC"), std::string::npos);
    }
}

TEST_F(LiveCaptureTest, SilenceFlushesEverythingAndWaitsOncePerSecond) {
    build(1);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {});
    ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
    // Two passes of the capture with a 4-second pause between them (40 s of
    // analyzer time at ten times the speed).
    auto sim = sendInBackground(1, 2, kBoot, {"--speed=10", "--repeat=2", "--repeat-gap-ms=40000"});

    const std::string waiting = "  Waiting for Q40TA5521 (2) ";
    std::vector<std::chrono::steady_clock::time_point> seen;
    size_t packetsWhileWaiting = 0;
    size_t waitingWhenBack = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const size_t count = countContaining(capture.statusBar(), waiting);
            while (seen.size() < count) seen.push_back(std::chrono::steady_clock::now());
            if (count > 0 && packetsWhileWaiting == 0) packetsWhileWaiting = capture.packets().size();
            return capture.packets().size() > 834 + 32;  // the second pass is flowing
        },
        20000));
    waitingWhenBack = seen.size();

    ASSERT_GE(waitingWhenBack, 1u);
    EXPECT_LE(waitingWhenBack, 3u);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_GE(seen[i] - seen[i - 1], std::chrono::milliseconds(800)) << "waiting message " << i;

    // The frames of the second pass silence it.
    EXPECT_EQ(sim->wait(20000), 0);
    EXPECT_EQ(countContaining(capture.statusBar(), waiting), waitingWhenBack);
    // Fewer than 32 records followed the first pass, yet all of it was written.
    const size_t beforePause = recordsBeforePause(dir_.file("sent1.pcapng"));
    EXPECT_GT(beforePause, 800u);
    EXPECT_EQ(packetsWhileWaiting, beforePause);
    ASSERT_TRUE(capture.waitForPackets(2 * 834, 10000));
    EXPECT_EQ(capture.interrupt(), 0);
    EXPECT_EQ(capture.packets().size(), 2u * 834u);
    EXPECT_EQ(capture.logText().find("lost by PC"), std::string::npos);
}

TEST_F(LiveCaptureTest, SigintEndsALiveCaptureWithAValidFile) {
    build(1);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {});
    ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
    auto sim = sendInBackground(1, 1, kCollisions, {"--speed=20"});
    ASSERT_TRUE(capture.waitForPackets(200, 10000));
    EXPECT_EQ(capture.interrupt(), 0);
    sim->signal(SIGTERM);
    sim->wait(5000);
    EXPECT_NE(capture.logText().find("Capture stopped"), std::string::npos);

    const std::vector<Packet> packets = capture.packets();
    ASSERT_GE(packets.size(), 200u);
    EXPECT_LT(packets.size(), 2680u);
    const std::string file = dir_.file("interrupted.pcapng");
    replaytest::writeFile(file, capture.pcapngBytes());
    std::string report;
    ASSERT_EQ(replaytest::runProgram({"/usr/bin/capinfos", "-c", "-M", file}, &report), 0) << report;
    EXPECT_NE(report.find("Number of packets:   " + std::to_string(packets.size())), std::string::npos) << report;
}

TEST_F(LiveCaptureTest, SingleShotWritesNothingUntilForceTrigger) {
    build(1);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {"--capturemode", "singleshot"});
    ASSERT_TRUE(capture.waitForControlText("Capture started", kStartMs));
    send(1, 1, kBoot, {"--speed=0"});
    // Long past the live idle flush: single shot keeps it all back.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_TRUE(capture.packets().empty());
    capture.pressForceTrigger();
    EXPECT_EQ(capture.wait(10000), 0);
    EXPECT_NE(capture.logText().find("Trigger forced!"), std::string::npos);
    EXPECT_NE(replaytest::controlTexts(capture.messages(), 0, 7).find("Please wait while trace is generated!"),
              std::string::npos);
    expectRoundTrip(capture.packets(), capturePath(kBoot));
}

TEST_F(LiveCaptureTest, ForceTriggerWithNothingBufferedEndsQuietly) {
    build(1);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {});
    ASSERT_TRUE(capture.waitForControlText("Searching for Q40TA5521 (0) ", kStartMs));
    capture.pressForceTrigger();
    EXPECT_EQ(capture.wait(10000), 0);
    EXPECT_NE(capture.logText().find("Trigger forced!"), std::string::npos);
    EXPECT_NE(capture.logText().find("Capture stopped"), std::string::npos);
    EXPECT_EQ(replaytest::controlTexts(capture.messages(), 0, 7).find("Trigger forced!"), std::string::npos);
    EXPECT_TRUE(capture.packets().empty());
}

TEST_F(LiveCaptureTest, InterfaceNamesSelectTheHardwareCaptureBySubstring) {
    build(1);
    if (!ready()) return;
    {
        LiveCapture capture(*net_, dir_, {}, "xsentra_ta5521_hwify");
        ASSERT_TRUE(capture.waitForControlText("Searching for Q40TA5521 (0) ", kStartMs));
        EXPECT_EQ(capture.interrupt(), 0);
    }
    std::string output;
    EXPECT_EQ(replaytest::runProgram(net_->inEngineSide({replaytest::extcapPath(), "--capture", "--extcap-interface",
                                                         "foo", "--fifo", dir_.file("foo.pcapng")}),
                                     &output),
              255);
    EXPECT_FALSE(replaytest::readFile(dir_.file("foo.pcapng")).size() > 0);
    EXPECT_EQ(replaytest::runProgram(
                  {replaytest::extcapPath(), "--extcap-config", "--extcap-interface", "xsentra_ta5521_hwify"}, &output),
              0);
    EXPECT_EQ(output, "");
}

// The selected card goes away in the middle of a capture (a USB card pulled
// out), or no card can be opened at all (no capture rights): either way the
// engine says why and ends.
namespace {
bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }
}  // namespace

TEST_F(LiveCaptureTest, SelectedCardThatDisappearsEndsTheCaptureWithTheReason) {
    build(2);
    if (!ready()) return;
    LiveCapture capture(*net_, dir_, {"--ta5521hwnode", "3"});
    ASSERT_TRUE(capture.waitForControlText("Capture started", 20000));
    auto sim = sendInBackground(2, 3, kCollisions, {"--speed=5"});
    ASSERT_TRUE(capture.waitForPackets(100, 10000));

    std::string output;
    ASSERT_EQ(replaytest::runProgram(net_->inEngineSide({"/usr/sbin/ip", "link", "del", "nic2"}), &output), 0)
        << output;
    // The capture ends by itself instead of waiting for the card for ever.
    EXPECT_EQ(capture.wait(10000), 1);
    sim->signal(SIGTERM);
    sim->wait(5000);

    const std::string reason = "NIC nic2 of Q40TA5521 (3) is no longer available; the capture ends.";
    const std::string console = replaytest::readFile(dir_.file("live_console.txt"));
    EXPECT_TRUE(has(console, "sentra_extcap: " + reason)) << console;
    EXPECT_TRUE(has(replaytest::controlTexts(capture.messages(), 0, 9), reason));
    const std::string log = capture.logText();
    EXPECT_TRUE(has(log, "Pcap read failed!\n NIC: nic2")) << log;
    EXPECT_TRUE(has(log, "Capture stopped")) << log;
    // What came before is written, whole.
    const std::vector<Packet> packets = capture.packets();
    EXPECT_GE(packets.size(), 100u);
    std::vector<Packet> parsed;
    EXPECT_TRUE(replaytest::parsePcapng(capture.pcapngBytes(), &parsed));
}

TEST_F(LiveCaptureTest, WithoutCaptureRightsOnAnyCardTheCaptureEndsWithTheReason) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv not installed";
    build(2);
    if (!ready()) return;
    chmod(dir_.path().c_str(), 0777);
    const std::string copy = dir_.file("sentra_extcap");
    std::string output;
    ASSERT_EQ(replaytest::runProgram({"/bin/cp", replaytest::extcapPath(), copy}, &output), 0) << output;
    chmod(copy.c_str(), 0755);
    // An unprivileged user: every card refuses to capture.
    const std::vector<std::string> command = {"/usr/bin/setpriv",
                                              "--reuid=65534",
                                              "--regid=65534",
                                              "--clear-groups",
                                              "--inh-caps=-all",
                                              copy,
                                              "--capture",
                                              "--extcap-interface",
                                              "sentra_ta5521_hwif",
                                              "--fifo",
                                              dir_.file("out.pcapng"),
                                              "--extcap-control-in",
                                              dir_.file("in.txt"),
                                              "--extcap-control-out",
                                              dir_.file("out.bin")};
    const int status = replaytest::runProgram(net_->inEngineSide(command), &output, 15000);
    EXPECT_EQ(status, 1) << output;
    EXPECT_TRUE(has(output, "sentra_extcap: No network card can be opened to search for Q40TA5521.")) << output;
    EXPECT_TRUE(has(output, "permission")) << output;
    const auto messages = replaytest::parseControlStream(replaytest::readFile(dir_.file("out.bin")));
    EXPECT_TRUE(has(replaytest::controlTexts(messages, 0, 9), "No network card can be opened"));
}
