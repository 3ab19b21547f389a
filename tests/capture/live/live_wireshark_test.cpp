// Wireshark drives the hardware interface: tshark, run as an unprivileged
// user inside the engine's network namespace, finds sentra_ta5521_hwif
// through WIRESHARK_EXTCAP_DIR, starts the capture through its extcap
// dialogue and receives the simulated analyzer's frames. The engine copy
// carries the capabilities libpcap needs, as an installation for non-root
// users would (tshark run as root would ignore WIRESHARK_EXTCAP_DIR).
#include <gtest/gtest.h>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "live_net.h"

using namespace livetest;
using replaytest::Process;
using replaytest::runProgram;
using replaytest::TempDir;

namespace {

constexpr char kTshark[] = "/usr/bin/tshark";
constexpr char kSetcap[] = "/usr/sbin/setcap";
constexpr char kSetpriv[] = "/usr/bin/setpriv";
constexpr char kBoot[] = "powerlink_1cn_boot.pcapng";  // 834 frames

// The engine copied into `dir` with raw-socket capabilities; "" when the
// file system or the system refuses them.
std::string capableEngine(const TempDir &dir, std::string *why) {
    const std::string copy = dir.file("sentra_extcap");
    replaytest::writeFile(copy, replaytest::readFile(replaytest::extcapPath()));
    chmod(copy.c_str(), 0755);
    if (runProgram({kSetcap, "cap_net_raw,cap_net_admin+eip", copy}, why) != 0) return "";
    return copy;
}

}  // namespace

TEST(LiveWireshark, TsharkCapturesTheAnalyzerThroughTheExtcapInterface) {
    for (const char *tool : {kTshark, kSetcap, kSetpriv})
        if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " missing";
    if (replaytest::sharedCaptures().empty()) GTEST_SKIP() << "shared captures not found";
    LiveNet net(1);
    if (!net.namespacesAvailable()) GTEST_SKIP() << net.why();
    ASSERT_TRUE(net.ok()) << net.why();

    TempDir dir;
    chmod(dir.path().c_str(), 0777);  // tshark's user writes its file here
    std::string why;
    const std::string engine = capableEngine(dir, &why);
    if (engine.empty()) GTEST_SKIP() << "capabilities cannot be set on " << dir.path() << ": " << why;

    std::string output;
    // tshark hands the engine no control pipes, so it keeps its control files
    // in the working folder: that must be one the user can write.
    const std::vector<std::string> asNobody = {"/usr/bin/env",
                                               "-C",
                                               dir.path(),
                                               "HOME=" + dir.path(),
                                               "WIRESHARK_EXTCAP_DIR=" + dir.path(),
                                               kSetpriv,
                                               "--reuid=65534",
                                               "--regid=65534",
                                               "--clear-groups"};
    std::vector<std::string> list = asNobody;
    list.insert(list.end(), {kTshark, "-D"});
    ASSERT_EQ(runProgram(net.inEngineSide(list), &output), 0) << output;
    ASSERT_NE(output.find("sentra_ta5521_hwif (Q40TA5521 on auto - detect NIC)"), std::string::npos) << output;

    const std::string file = dir.file("tshark.pcapng");
    std::vector<std::string> capture = asNobody;
    capture.insert(capture.end(), {kTshark, "-i", "sentra_ta5521_hwif", "-c", "834", "-a", "duration:30", "-w", file});
    Process tshark(net.inEngineSide(capture), dir.file("tshark.txt"));
    // The engine listens once it holds a receiving packet socket on the card.
    // Any socket will not do: libpcap opens "any" (and closes it) before the
    // real cards, and frames sent in that moment would reach nobody.
    const int card = net.cardIndex("nic1");
    ASSERT_GT(card, 0);
    auto listening = [&] {
        const std::vector<int> cards = net.packetSocketCards();
        return std::find(cards.begin(), cards.end(), card) != cards.end();
    };
    ASSERT_TRUE(waitUntil([&] { return listening() || !tshark.running(); }, 20000));
    ASSERT_TRUE(tshark.running()) << replaytest::readFile(dir.file("tshark.txt"));

    ASSERT_EQ(runProgram(simulatorArgs(net, 1, 1, replaytest::sharedCaptures() + "/" + kBoot, {"--speed=10"},
                                       dir.file("sent.pcapng")),
                         &output),
              0)
        << output;
    ASSERT_EQ(tshark.wait(30000), 0) << replaytest::readFile(dir.file("tshark.txt"));

    // Wireshark's own dissectors find the POWERLINK frames in what it captured.
    ASSERT_EQ(runProgram({kTshark, "-r", file, "-Y", "epl", "-T", "fields", "-e", "epl.src"}, &output), 0) << output;
    size_t lines = 0;
    for (char c : output) lines += c == '\n';
    EXPECT_GT(lines, 500u) << output.substr(0, 400);

    std::vector<Packet> packets;
    ASSERT_TRUE(replaytest::parsePcapng(replaytest::readFile(file), &packets));
    const std::vector<replaytest::InputFrame> frames =
        replaytest::readCapture(replaytest::sharedCaptures() + "/" + kBoot);
    if (packets.size() != frames.size()) {
        std::string where;
        const long start = replaytest::findContiguousRun(frames, packets, &where);
        FAIL() << packets.size() << " of " << frames.size() << " frames arrived; "
               << (start >= 0 ? "in one run from frame " + std::to_string(start + 1) : "not in one run: " + where);
    }
    std::string mismatch;
    EXPECT_TRUE(replaytest::runMatchesAt(frames, packets, 0, &mismatch)) << mismatch;
}
