// Receive capacity of the analyzer link: a sender in another network
// namespace sends Q40TA5521-sized dump frames over a veth pair at rising
// rates; the link receives them the way the capture thread does. Prints sent,
// received and lost frames and the records per second they carry.
//
// Usage: analyzer_link_bench [seconds-per-rate]   (root; builds and removes
// its own namespaces)
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "analyzer_link.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "file_layer.h"

namespace {

using Clock = std::chrono::steady_clock;

// A full dump of minimum-size frames: 19 records of 64 bytes + 8-byte head.
constexpr int kRecordsPerDump = 19;
constexpr int kRecordBytes = 64;

bool shell(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool enter(const std::string &ns) {
    const int fd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return ok;
}

std::vector<uint8_t> dumpFrame(uint8_t node) {
    std::vector<uint8_t> f(dumpframe::kFirstRecordOffset + kRecordsPerDump * (8 + kRecordBytes), 0);
    const uint8_t header[] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0xd7, 0xa5, 0x00, 0x00, node, 0x08, 0x00};
    std::memcpy(f.data(), header, sizeof header);
    f[14] = 0x45;
    f[23] = 17;
    f[dumpframe::kIpSourceLastOctet] = node;
    f[34] = f[36] = 0x0e;
    f[35] = f[37] = 0xeb;
    f[dumpframe::kPlkMessageTypeOffset] = dumpframe::kPlkMessageTypeAsnd;
    f[dumpframe::kPlkDestinationOffset] = dumpframe::kPlkBroadcastNode;
    f[dumpframe::kAsndServiceOffset] = dumpframe::kAsndServiceDump;
    f[dumpframe::kDumpCountOffset] = kRecordsPerDump;
    return f;
}

struct Result {
    long sent = 0;
    long received = 0;
    double seconds = 0;
};

// Sends at `dumpsPerSecond` (0 = as fast as possible) for `seconds` while the
// link receives; the receiver drains 200 ms after the sender stops.
Result run(AnalyzerLink *link, const std::string &peerNs, double dumpsPerSecond, double seconds) {
    Result result;
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        if (!enter(peerNs)) return;
        const int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = static_cast<int>(if_nametoindex("p0"));
        to.sll_halen = 6;
        std::vector<uint8_t> frame = dumpFrame(3);
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        long sent = 0;
        for (auto now = start; now < end; now = Clock::now()) {
            if (dumpsPerSecond > 0) {
                const long due = static_cast<long>(std::chrono::duration<double>(now - start).count() * dumpsPerSecond);
                if (sent >= due) continue;
            }
            frame[dumpframe::kDumpTotalOffset] = static_cast<uint8_t>(sent);
            if (sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) > 0) ++sent;
        }
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.sent = sent;
        close(fd);
        sending = false;
    });
    auto drainUntil = Clock::time_point::max();
    std::time_t now = std::time(nullptr);
    while (Clock::now() < drainUntil) {
        if (!sending && drainUntil == Clock::time_point::max())
            drainUntil = Clock::now() + std::chrono::milliseconds(200);
        const pcap_pkthdr *header;
        const uint8_t *data;
        if (analyzerLinkReceive(link, &header, &data, isDumpFrame, now) == 0) ++result.received;
    }
    sender.join();
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const std::string tag = std::to_string(getpid());
    const std::string engineNs = "sentra_benge_" + tag, peerNs = "sentra_bnet_" + tag;
    if (geteuid() != 0 || !shell("ip netns add " + engineNs)) {
        std::printf("analyzer_link_bench: skipped, network namespaces need root\n");
        return 0;
    }
    shell("ip netns add " + peerNs);
    shell("ip link add e0_" + tag + " type veth peer name p0_" + tag);
    shell("ip link set e0_" + tag + " netns " + engineNs + " name e0");
    shell("ip link set p0_" + tag + " netns " + peerNs + " name p0");
    shell("ip -n " + engineNs + " link set e0 up");
    shell("ip -n " + peerNs + " link set p0 up");

    int status = 0;
    std::thread engine([&] {
        if (!enter(engineNs)) {
            status = 1;
            return;
        }
        FileHandle *out = fileOpen("/dev/null", kFileWrite, kFileOpenExisting);
        ControlChannel *channel = controlChannelCreate(nullptr, out, 1, 0, 0, 0);
        AnalyzerLink *link = analyzerLinkCreate(channel, 0, "Q40TA5521");
        if (!link || analyzerLinkOpenAll(link) != 0) {
            status = 1;
        } else {
            std::printf(
                "Analyzer link receive capacity, %d records of %d bytes per dump frame (%zu bytes), %.1f s per rate\n",
                kRecordsPerDump, kRecordBytes, dumpFrame(0).size(), seconds);
            std::printf("%14s %12s %12s %10s %16s\n", "target dumps/s", "sent", "received", "lost", "records/s taken");
            for (double rate : {5000.0, 15700.0, 30000.0, 60000.0, 120000.0, 0.0}) {
                Result r = run(link, peerNs, rate, seconds);
                const double perSecond = r.seconds > 0 ? r.received / r.seconds : 0;
                char target[32];
                std::snprintf(target, sizeof target, rate > 0 ? "%.0f" : "max", rate);
                std::printf("%14s %12ld %12ld %10ld %16.0f\n", target, r.sent, r.received, r.sent - r.received,
                            perSecond * kRecordsPerDump);
            }
            std::printf("(the analyzer's maximum: 2 ports x 148810 frames/s = 297620 records/s = 15664 dumps/s)\n");
        }
        analyzerLinkClose(link);
        controlChannelFree(channel);
        fileClose(out);
    });
    engine.join();
    shell("ip netns del " + engineNs);
    shell("ip netns del " + peerNs);
    return status;
}
