// The analyzer link over libpcap on veth pairs inside network namespaces:
// discovery across several cards, node selection, the search and wait
// messages and the closing of the cards not chosen.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "analyzer_link.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "file_layer.h"

namespace {

std::time_t g_now = 1796565787;
std::time_t fakeClock() { return g_now; }

bool shell(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Runs `work` on a thread that has entered the named network namespace; the
// sockets it opens (libpcap's included) stay in that namespace.
void inNamespace(const std::string &name, const std::function<void()> &work) {
    std::thread worker([&] {
        const int fd = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(setns(fd, CLONE_NEWNET), 0);
        close(fd);
        work();
    });
    worker.join();
}

// A Q40TA5521 dump frame as the analyzer with HW node `node` broadcasts it:
// Ethernet, IPv4 from x.x.x.<node>, UDP 3819 -> 3819, ASnd service 163, dump
// header and one 64-byte record.
std::vector<uint8_t> dumpFrame(uint8_t node, uint8_t sequence) {
    std::vector<uint8_t> f(64 + 8 + 64, 0);
    const uint8_t header[] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0xd7, 0xa5, 0x00, 0x00, node, 0x08, 0x00};
    std::memcpy(f.data(), header, sizeof header);
    uint8_t *ip = f.data() + 14;
    ip[0] = 0x45;
    const uint16_t ipLength = htons(static_cast<uint16_t>(f.size() - 14));
    std::memcpy(ip + 2, &ipLength, 2);
    ip[8] = 64;
    ip[9] = 17;
    const uint8_t addresses[] = {192, 168, 100, node, 255, 255, 255, 255};
    std::memcpy(ip + 12, addresses, sizeof addresses);
    uint8_t *udp = ip + 20;
    udp[0] = 0x0e;  // 3819
    udp[1] = 0xeb;
    udp[2] = 0x0e;
    udp[3] = 0xeb;
    const uint16_t udpLength = htons(static_cast<uint16_t>(f.size() - 34));
    std::memcpy(udp + 4, &udpLength, 2);
    f[dumpframe::kPlkMessageTypeOffset] = dumpframe::kPlkMessageTypeAsnd;
    f[dumpframe::kPlkDestinationOffset] = dumpframe::kPlkBroadcastNode;
    f[dumpframe::kPlkSourceOffset] = node;
    f[dumpframe::kAsndServiceOffset] = dumpframe::kAsndServiceDump;
    f[dumpframe::kDumpCountOffset] = 1;
    f[dumpframe::kDumpTotalOffset] = sequence;
    f[dumpframe::kFirstRecordOffset + dumpframe::kRecordSizeOffset] = 64;
    return f;
}

// Sends frames out of `card` from inside namespace `ns`.
class Sender {
public:
    Sender(const std::string &ns, const std::string &card) {
        inNamespace(ns, [&] {
            fd_ = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
            index_ = static_cast<int>(if_nametoindex(card.c_str()));
        });
    }
    ~Sender() {
        if (fd_ >= 0) close(fd_);
    }
    bool send(const std::vector<uint8_t> &frame) {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = index_;
        to.sll_halen = 6;
        std::memset(to.sll_addr, 0xff, 6);
        return sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
               static_cast<ssize_t>(frame.size());
    }
    bool ok() const { return fd_ >= 0 && index_ > 0; }

private:
    int fd_ = -1;
    int index_ = 0;
};

struct LogFrame {
    uint8_t control;
    uint8_t command;
    std::string text;
};

std::vector<LogFrame> readControlOut(const std::string &path) {
    std::vector<LogFrame> frames;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return frames;
    uint8_t head[6];
    while (std::fread(head, 1, 6, f) == 6) {
        const uint32_t length = (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
        std::string text(length - 2, '\0');
        if (std::fread(&text[0], 1, text.size(), f) != text.size()) break;
        frames.push_back({head[4], head[5], text});
    }
    std::fclose(f);
    return frames;
}

// Two namespaces: the engine's with cards e0..e2, the network's with their
// peers p0..p2.
class VirtualNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tag = std::to_string(getpid());
        engineNs = "sentra_eng_" + tag;
        peerNs = "sentra_net_" + tag;
        if (geteuid() != 0 || !shell("ip netns add " + engineNs)) {
            GTEST_SKIP() << "network namespaces cannot be created here (needs root and ip netns)";
        }
        created = true;
        ASSERT_TRUE(shell("ip netns add " + peerNs));
        // Quiet wires: no IPv6 neighbour discovery or MLD frames of our own.
        for (const std::string &ns : {engineNs, peerNs}) {
            shell("ip netns exec " + ns +
                  " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
        }
        for (int i = 0; i < 3; ++i) {
            const std::string e = "e" + std::to_string(i), p = "p" + std::to_string(i);
            if (!shell("ip link add " + e + "_" + tag + " type veth peer name " + p + "_" + tag)) {
                GTEST_SKIP() << "veth pairs cannot be created here";
            }
            ASSERT_TRUE(shell("ip link set " + e + "_" + tag + " netns " + engineNs + " name " + e));
            ASSERT_TRUE(shell("ip link set " + p + "_" + tag + " netns " + peerNs + " name " + p));
            ASSERT_TRUE(shell("ip -n " + engineNs + " link set " + e + " up"));
            ASSERT_TRUE(shell("ip -n " + peerNs + " link set " + p + " up"));
        }
        ASSERT_TRUE(shell("ip -n " + engineNs + " link set lo up"));
        // The engine runs inside its namespace as a whole (it opens cards again
        // after discovery), and so does the test thread that drives the link.
        homeNs = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(homeNs, 0);
        const int engine = open(("/var/run/netns/" + engineNs).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(engine, 0);
        ASSERT_EQ(setns(engine, CLONE_NEWNET), 0);
        close(engine);

        char pattern[] = "/tmp/sentra_link_XXXXXX";
        dir = mkdtemp(pattern);
        controlOutPath = dir + "/control_out";
        controlOut = fileOpen(controlOutPath.c_str(), kFileReadWrite, kFileCreateTruncate);
        ASSERT_NE(controlOut, nullptr);
        channel = controlChannelCreate(nullptr, controlOut, 1, 0, 0, 0);
        ASSERT_NE(channel, nullptr);
        controlChannelSetClock(channel, fakeClock);
    }
    void TearDown() override {
        analyzerLinkClose(link);
        controlChannelFree(channel);
        fileClose(controlOut);
        if (homeNs >= 0) {
            setns(homeNs, CLONE_NEWNET);
            close(homeNs);
        }
        if (!dir.empty()) shell("rm -rf '" + dir + "'");
        if (created) {
            shell("ip netns del " + engineNs);
            shell("ip netns del " + peerNs);
        }
    }
    void openLink(uint8_t wantedNode) {
        inNamespace(engineNs, [&] {
            link = analyzerLinkCreate(channel, wantedNode, "Q40TA5521");
            ASSERT_NE(link, nullptr);
            ASSERT_EQ(analyzerLinkOpenAll(link), 0);
        });
        ASSERT_NE(link, nullptr);
    }
    // Receives for up to `seconds`, advancing both clocks by one second per
    // pass over the cards when `tick` is set. Answers the accepted frame count.
    int receiveFor(double seconds, bool tick, std::vector<std::vector<uint8_t>> *frames = nullptr, int stopAfter = 1) {
        int accepted = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end && accepted < stopAfter) {
            const pcap_pkthdr *header = nullptr;
            const uint8_t *data = nullptr;
            if (tick) ++g_now;
            if (analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now) == 0) {
                ++accepted;
                if (frames) frames->emplace_back(data, data + header->caplen);
            }
        }
        return accepted;
    }
    std::vector<std::string> statusBar() {
        std::vector<std::string> texts;
        for (const LogFrame &f : readControlOut(controlOutPath))
            if (f.control == 0 && f.command == kCommandStatusBar) texts.push_back(f.text);
        return texts;
    }
    std::vector<std::string> logLines() {
        std::vector<std::string> texts;
        for (const LogFrame &f : readControlOut(controlOutPath))
            if (f.control == 1) texts.push_back(f.text.substr(35));
        return texts;
    }

    bool created = false;
    int homeNs = -1;
    std::string engineNs, peerNs, dir, controlOutPath;
    FileHandle *controlOut = nullptr;
    ControlChannel *channel = nullptr;
    AnalyzerLink *link = nullptr;
};

TEST_F(VirtualNetwork, OnlyEthernetCardsAreOpenedPseudoDevicesAreSkipped) {
    openLink(0);
    // lo and e0..e2; "any", nflog, nfqueue, dbus and the like are not Ethernet.
    EXPECT_EQ(analyzerLinkOpenNicCount(link), 4);
    const std::vector<std::string> log = logLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], std::string(pcap_lib_version()) + " is used as LowLevel Driver Interface.\n");
}

TEST_F(VirtualNetwork, AnalyzerOnTheThirdCardIsSelectedAndTheOthersClosed) {
    openLink(0);
    Sender noise(peerNs, "p0");
    Sender analyzer(peerNs, "p2");
    ASSERT_TRUE(noise.ok() && analyzer.ok());
    std::vector<uint8_t> notADump = dumpFrame(3, 0);
    notADump[dumpframe::kAsndServiceOffset] = 0x01;  // an ordinary ASnd frame
    ASSERT_TRUE(noise.send(notADump));
    const std::vector<uint8_t> sent = dumpFrame(3, 1);
    ASSERT_TRUE(analyzer.send(sent));

    std::vector<std::vector<uint8_t>> got;
    ASSERT_EQ(receiveFor(3.0, false, &got), 1);
    EXPECT_EQ(got[0], sent);  // the first frame is handed on like any later one
    ASSERT_NE(analyzerLinkSelectedNic(link), nullptr);
    EXPECT_STREQ(analyzerLinkSelectedNic(link), "e2");
    EXPECT_EQ(analyzerLinkOpenNicCount(link), 1);
    EXPECT_EQ(analyzerLinkWantedNode(link), 3);
    EXPECT_EQ(analyzerLinkLastDumpTime(link), g_now);
    const std::vector<std::string> log = logLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "Q40TA5521 deteced successfully! NIC: e2. HW node number: 3.\n");

    // Later frames come from the selected card only.
    Sender other(peerNs, "p1");
    ASSERT_TRUE(other.send(dumpFrame(3, 2)));
    ASSERT_TRUE(analyzer.send(dumpFrame(3, 3)));
    got.clear();
    EXPECT_EQ(receiveFor(1.0, false, &got, 2), 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][dumpframe::kDumpTotalOffset], 3);
}

TEST_F(VirtualNetwork, WantedNodeIsTheOnlyOneTaken) {
    openLink(5);
    Sender node3(peerNs, "p0");
    Sender node5(peerNs, "p1");
    ASSERT_TRUE(node3.send(dumpFrame(3, 1)));
    ASSERT_TRUE(node5.send(dumpFrame(5, 1)));
    ASSERT_EQ(receiveFor(3.0, false), 1);
    EXPECT_STREQ(analyzerLinkSelectedNic(link), "e1");
    EXPECT_EQ(analyzerLinkWantedNode(link), 5);
    // Node 3 on the selected card is not taken either.
    ASSERT_TRUE(node5.send(dumpFrame(3, 2)));
    EXPECT_EQ(receiveFor(0.5, false), 0);
}

TEST_F(VirtualNetwork, DiscoveryReadsAtMostOneFramePerCardPerCall) {
    openLink(5);
    Sender wire(peerNs, "p0");
    for (uint8_t i = 0; i < 3; ++i) ASSERT_TRUE(wire.send(dumpFrame(3, i)));  // another analyzer's
    ASSERT_TRUE(wire.send(dumpFrame(5, 9)));
    usleep(200000);  // all four wait on e0 now
    const pcap_pkthdr *header;
    const uint8_t *data;
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1) << "call " << call;
    }
    ASSERT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), 0);
    EXPECT_EQ(data[dumpframe::kDumpTotalOffset], 9);
    EXPECT_STREQ(analyzerLinkSelectedNic(link), "e0");
}

TEST_F(VirtualNetwork, WrongNodeKeepsSearchingOncePerSecond) {
    openLink(7);
    Sender node3(peerNs, "p2");
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(node3.send(dumpFrame(3, static_cast<uint8_t>(i))));
    // Five passes, each one "second" later on the channel's clock, then three
    // more within the same second.
    for (int pass = 0; pass < 5; ++pass) {
        ++g_now;
        const pcap_pkthdr *header;
        const uint8_t *data;
        EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
    }
    for (int pass = 0; pass < 3; ++pass) {
        const pcap_pkthdr *header;
        const uint8_t *data;
        EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
    }
    EXPECT_EQ(analyzerLinkSelectedNic(link), nullptr);
    EXPECT_EQ(analyzerLinkOpenNicCount(link), 4);
    const std::vector<std::string> bar = statusBar();
    ASSERT_EQ(bar.size(), 5u);
    EXPECT_EQ(bar[0], "Searching for Q40TA5521 (7) ................\n");
    EXPECT_EQ(bar[1], "Searching for Q40TA5521 (7) .\n");
    EXPECT_EQ(bar[4], "Searching for Q40TA5521 (7) ....\n");
}

TEST_F(VirtualNetwork, SilenceAfterSelectionShowsWaitingUntilTheNextFrame) {
    openLink(3);
    Sender analyzer(peerNs, "p1");
    ASSERT_TRUE(analyzer.send(dumpFrame(3, 1)));
    ASSERT_EQ(receiveFor(3.0, false), 1);
    const size_t before = statusBar().size();
    const std::time_t selectedAt = g_now;
    const pcap_pkthdr *header;
    const uint8_t *data;
    // Two seconds of silence are tolerated quietly.
    g_now = selectedAt + 2;
    EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
    EXPECT_EQ(statusBar().size(), before);
    // Then "Waiting" once per second.
    for (int second = 3; second <= 5; ++second) {
        g_now = selectedAt + second;
        EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
        EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
    }
    // Counted by their text: on a busy machine another status-bar message
    // of the link (seen once, not yet explained) may come in between.
    const auto waiting = [this] {
        size_t count = 0;
        for (const std::string &text : statusBar()) count += text.rfind("  Waiting for Q40TA5521 (3) ", 0) == 0;
        return count;
    };
    ASSERT_EQ(waiting(), 3u) << testing::PrintToString(statusBar());
    // The first frame afterwards silences it.
    ASSERT_TRUE(analyzer.send(dumpFrame(3, 2)));
    g_now = selectedAt + 6;
    ASSERT_EQ(receiveFor(2.0, false), 1);
    EXPECT_EQ(analyzerLinkLastDumpTime(link), selectedAt + 6);
    g_now = selectedAt + 7;
    EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
    EXPECT_EQ(waiting(), 3u);
}

namespace {

// Sizes in bytes of this process's packet-socket rings (libpcap maps each
// card's kernel buffer).
std::vector<long> packetRingSizes() {
    std::vector<long> sizes;
    std::FILE *maps = std::fopen("/proc/self/maps", "r");
    if (!maps) return sizes;
    char line[512];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long begin = 0, end = 0;
        if (std::strstr(line, "socket:[") && std::sscanf(line, "%lx-%lx", &begin, &end) == 2)
            sizes.push_back(static_cast<long>(end - begin));
    }
    std::fclose(maps);
    return sizes;
}

constexpr long kLargeRing = 16L << 20;

}  // namespace

TEST_F(VirtualNetwork, DiscoveryKernelMemoryIsCountedForEveryCardThatIsUp) {
    const int64_t counted = analyzerLinkDiscoveryKernelBytes();
    ASSERT_GE(counted, 4 * kLargeRing);  // lo and e0..e2 at least
    // What discovery really maps stays within the count.
    openLink(0);
    long mapped = 0;
    for (long size : packetRingSizes()) mapped += size;
    EXPECT_EQ(packetRingSizes().size(), 4u);
    EXPECT_LE(mapped, counted);
    // A card taken down is not opened, nor counted.
    ASSERT_TRUE(shell("ip -n " + engineNs + " link set e1 down"));
    EXPECT_EQ(analyzerLinkDiscoveryKernelBytes(), counted - kLargeRing);
}

TEST_F(VirtualNetwork, SelectedCardThatGoesAwayEndsTheLinkWithAMessage) {
    openLink(3);
    Sender analyzer(peerNs, "p2");
    ASSERT_TRUE(analyzer.send(dumpFrame(3, 1)));
    ASSERT_EQ(receiveFor(3.0, false), 1);
    EXPECT_FALSE(analyzerLinkFailed(link));
    ASSERT_TRUE(shell("ip -n " + engineNs + " link del e2"));
    const auto start = std::chrono::steady_clock::now();
    const pcap_pkthdr *header;
    const uint8_t *data;
    for (int call = 0; call < 100; ++call) EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
    EXPECT_TRUE(analyzerLinkFailed(link));
    // The calls after the failure waited a read timeout each instead of spinning.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(analyzerLinkOpenNicCount(link), 0);
    std::string errors;
    for (const LogFrame &f : readControlOut(controlOutPath))
        if (f.control == 0 && f.command == kCommandError) errors += f.text;
    EXPECT_NE(errors.find("NIC e2 of Q40TA5521 (3) is no longer available; the capture ends."), std::string::npos)
        << errors;
}

TEST_F(VirtualNetwork, CardsThatGoAwayDuringTheSearchAreDroppedAndTheSearchGoesOn) {
    openLink(3);
    for (const char *card : {"e0", "e2"}) ASSERT_TRUE(shell("ip -n " + engineNs + " link del " + card));
    EXPECT_EQ(receiveFor(0.5, false), 0);
    EXPECT_EQ(analyzerLinkOpenNicCount(link), 2);  // lo and e1
    EXPECT_FALSE(analyzerLinkFailed(link));
    std::string log;
    for (const std::string &line : logLines()) log += line;
    EXPECT_NE(log.find("Pcap read failed!\n NIC: e0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Pcap read failed!\n NIC: e2\n"), std::string::npos) << log;
    // The analyzer on the card that is left is still found.
    Sender analyzer(peerNs, "p1");
    ASSERT_TRUE(analyzer.send(dumpFrame(3, 1)));
    ASSERT_EQ(receiveFor(3.0, false), 1);
    EXPECT_STREQ(analyzerLinkSelectedNic(link), "e1");
}

// Without cards to listen on (none opened) the link keeps searching; the
// status bar shows the dots growing by one per message it takes.
TEST(AnalyzerLinkSearch, DotsAnimateSixteenThenOneToSixteen) {
    char pattern[] = "/tmp/sentra_link_XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string path = dir + "/control_out";
    FileHandle *out = fileOpen(path.c_str(), kFileReadWrite, kFileCreateTruncate);
    ASSERT_NE(out, nullptr);
    ControlChannel *channel = controlChannelCreate(nullptr, out, 1, 0, 0, 0);
    controlChannelSetClock(channel, fakeClock);
    AnalyzerLink *link = analyzerLinkCreate(channel, 9, "Q40TA5521");
    if (!link) {
        controlChannelFree(channel);
        fileClose(out);
        GTEST_SKIP() << "libpcap lists no devices here";
    }
    const auto start = std::chrono::steady_clock::now();
    for (int message = 0; message < 17; ++message) {
        ++g_now;
        const pcap_pkthdr *header;
        const uint8_t *data;
        EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);
        EXPECT_EQ(analyzerLinkReceive(link, &header, &data, isDumpFrame, g_now), -1);  // same second: not shown
    }
    // 34 passes without a card each waited one read timeout instead of spinning.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    analyzerLinkClose(link);
    controlChannelFree(channel);
    fileClose(out);

    std::vector<std::string> bar;
    for (const LogFrame &f : readControlOut(path))
        if (f.control == 0 && f.command == kCommandStatusBar) bar.push_back(f.text);
    ASSERT_EQ(bar.size(), 17u);
    const std::string prefix = "Searching for Q40TA5521 (9) ";
    EXPECT_EQ(bar[0], prefix + std::string(16, '.') + "\n");
    EXPECT_EQ(bar[1], prefix + ".\n");
    EXPECT_EQ(bar[2], prefix + "..\n");
    EXPECT_EQ(bar[15], prefix + std::string(15, '.') + "\n");
    EXPECT_EQ(bar[16], prefix + std::string(16, '.') + "\n");
    shell("rm -rf '" + dir + "'");
}

TEST(AnalyzerLinkArguments, WithoutAControlChannelNothingIsCreated) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(analyzerLinkCreate(nullptr, 0, "Q40TA5521"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " >>> Error <<< Access violation while initializing pcap interface.\n");
    EXPECT_EQ(analyzerLinkOpenAll(nullptr), -1);
    EXPECT_EQ(analyzerLinkLastDumpTime(nullptr), 0);
    analyzerLinkClose(nullptr);
}

}  // namespace
