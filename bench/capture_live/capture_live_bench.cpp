// Live capture throughput: the analyzer simulator (its packer and live
// sender) sends minimum-size Ethernet frames seen on both analyzer ports at
// a fixed record rate for a fixed time over a veth pair; sentra_extcap
// captures them in its own network namespace while dumpcap captures the same
// stream on the same card. Per rate it prints what was sent, what the engine
// wrote and reported lost ("lost by PC"), and dumpcap's received/dropped
// counts from pcap statistics (dump frames: dumpcap keeps them packed).
// Rates rise until both lose frames. "lost by PC" sums the gaps in the dump
// numbering the engine reported; a lossless engine also wrote every record.
//
// Usage: capture_live_bench [seconds-per-rate [records/s ...]]   (root)
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "live_sender.h"
#include "ta5521_packer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTargetRecordsPerSecond = 297620;  // 2 ports x 148,810 minimum-size frames/s
constexpr int kMinimumFrameBytes = 60;              // without the FCS
constexpr char kEngineSide[] = "sentra_bench_live_e";
constexpr char kAnalyzerSide[] = "sentra_bench_live_a";

bool shell(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool enterNamespace(const char *name) {
    const int fd = open((std::string("/var/run/netns/") + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool entered = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return entered;
}

pid_t spawn(const std::vector<std::string> &argv, const std::string &outputPath) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int none = open("/dev/null", O_RDONLY);
    dup2(none, 0);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

bool waitForText(const std::string &path, const std::string &text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (readText(path).find(text) == std::string::npos) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int finish(pid_t pid, int timeoutMs) {
    kill(pid, SIGINT);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

// Reads the engine's pcapng FIFO and counts its enhanced packet blocks.
struct PcapngCounter {
    std::atomic<uint64_t> packets{0};
    std::thread thread;
    void start(const std::string &fifo) {
        thread = std::thread([this, fifo] {
            const int fd = open(fifo.c_str(), O_RDONLY);
            if (fd < 0) return;
            std::vector<uint8_t> pending;
            std::vector<uint8_t> chunk(1 << 20);
            ssize_t got;
            while ((got = read(fd, chunk.data(), chunk.size())) > 0) {
                pending.insert(pending.end(), chunk.begin(), chunk.begin() + got);
                size_t at = 0;
                while (pending.size() - at >= 8) {
                    uint32_t type, length;
                    std::memcpy(&type, &pending[at], 4);
                    std::memcpy(&length, &pending[at + 4], 4);
                    if (length < 12 || pending.size() - at < length) break;
                    if (type == 6) packets.fetch_add(1);
                    at += length;
                }
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(at));
            }
            close(fd);
        });
    }
    void join() {
        if (thread.joinable()) thread.join();
    }
};

struct SendResult {
    bool ok = false;
    uint64_t records = 0;
    uint64_t dumps = 0;
    double seconds = 0;
};

// The simulator at `recordsPerSecond`: every frame on both ports, frames
// 60 bytes long, for `seconds`, out of ana1.
SendResult sendStream(double recordsPerSecond, int seconds) {
    SendResult result;
    std::thread sender([&] {
        if (!enterNamespace(kAnalyzerSide)) return;
        ta5521sim::LiveSender live;
        if (!live.open("ana1", 1.0)) {
            std::fprintf(stderr, "sender: %s\n", live.error().c_str());
            return;
        }
        ta5521sim::PackerConfig config;
        config.ports = ta5521sim::PortAssignment::kBothPorts;
        config.recordsPerDump = 255;  // as many as fit the 1514-byte dump frame
        bool sendFailed = false;
        ta5521sim::Packer packer(config, [&](const ta5521sim::DumpFrameOut &dump) {
            if (!live.send(dump.data, dump.length, dump.sentNs)) sendFailed = true;
        });
        uint8_t frame[kMinimumFrameBytes] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02,
                                             0xd7, 0xa5, 0x00, 0x00, 0x10, 0x88, 0xab};
        const double framesPerSecond = recordsPerSecond / 2;
        const uint64_t frames = static_cast<uint64_t>(framesPerSecond * seconds);
        const auto start = Clock::now();
        for (uint64_t i = 0; i < frames && !sendFailed; ++i) {
            std::memcpy(frame + 16, &i, sizeof i);
            packer.addFrame(static_cast<int64_t>(static_cast<double>(i) * 1e9 / framesPerSecond), frame, sizeof frame,
                            sizeof frame);
        }
        packer.finish();
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.records = packer.recordsPacked();
        result.dumps = live.framesSent();
        result.ok = !sendFailed;
    });
    sender.join();
    return result;
}

// "Packets received/dropped on interface 'nic1': 123/4 (pcap:4/dumpcap:0/flushed:0)"
void dumpcapCounts(const std::string &output, long long *received, long long *dropped) {
    *received = *dropped = -1;
    const size_t at = output.find("Packets received/dropped on interface");
    if (at == std::string::npos) return;
    const size_t colon = output.find(": ", at);
    if (colon != std::string::npos) std::sscanf(output.c_str() + colon + 2, "%lld/%lld", received, dropped);
}

long long lostByPc(const std::string &log) {
    long long lost = 0;
    for (size_t at = log.find("Packets lost by PC"); at != std::string::npos;
         at = log.find("Packets lost by PC", at + 1)) {
        size_t start = log.rfind(": ", at);
        long long n = 0;
        if (start != std::string::npos && std::sscanf(log.c_str() + start + 2, "%lld", &n) == 1) lost += n;
    }
    return lost;
}

}  // namespace

int main(int argc, char **argv) {
    if (geteuid() != 0) {
        std::printf("capture_live_bench needs root (network namespaces)\n");
        return 0;
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    std::vector<double> rates;
    for (int i = 2; i < argc; ++i) rates.push_back(std::atof(argv[i]));
    if (rates.empty())
        for (double factor : {1.0, 1.5, 2.0, 3.0, 4.0}) rates.push_back(factor * kTargetRecordsPerSecond);

    shell(std::string("ip netns del ") + kEngineSide);
    shell(std::string("ip netns del ") + kAnalyzerSide);
    if (!shell(std::string("ip netns add ") + kEngineSide) || !shell(std::string("ip netns add ") + kAnalyzerSide) ||
        !shell(std::string("ip -n ") + kEngineSide + " link add nic1 type veth peer name ana1 netns " +
               kAnalyzerSide) ||
        !shell(std::string("ip -n ") + kEngineSide + " link set nic1 up") ||
        !shell(std::string("ip -n ") + kAnalyzerSide + " link set ana1 up")) {
        std::printf("network namespaces or veth pairs cannot be made here\n");
        shell(std::string("ip netns del ") + kEngineSide);
        shell(std::string("ip netns del ") + kAnalyzerSide);
        return 0;
    }
    char folder[] = "/tmp/sentra_live_bench_XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string dir = folder;

    std::printf("Live capture, minimum-size frames on both ports, %d s per rate (target %.0f records/s lossless)\n",
                seconds, kTargetRecordsPerSecond);
    std::printf("%12s %12s %10s | %12s %10s %8s | %12s %10s %8s\n", "asked rec/s", "sent rec/s", "dumps sent",
                "engine wrote", "lost by PC", "lossless", "dumpcap recv", "dropped", "lossless");
    double bestEngine = 0, bestDumpcap = 0;
    for (double rate : rates) {
        const std::string fifo = dir + "/out.fifo", controlIn = dir + "/ctl_in", controlOut = dir + "/ctl_out";
        unlink(fifo.c_str());
        mkfifo(fifo.c_str(), 0600);
        PcapngCounter counter;
        counter.start(fifo);
        const pid_t engine = spawn({"/usr/sbin/ip", "netns", "exec", kEngineSide, SENTRA_EXTCAP_PATH, "--capture",
                                    "--extcap-interface", "sentra_ta5521_hwif", "--fifo", fifo, "--extcap-control-in",
                                    controlIn, "--extcap-control-out", controlOut},
                                   dir + "/engine.txt");
        const pid_t dumpcap = spawn({"/usr/sbin/ip", "netns", "exec", kEngineSide, "/usr/bin/dumpcap", "-q", "-i",
                                     "nic1", "-f", "udp port 3819", "-w", "/dev/null"},
                                    dir + "/dumpcap.txt");
        if (!waitForText(controlOut, "Capture started", 20000) ||
            !waitForText(dir + "/dumpcap.txt", "Capturing on", 20000)) {
            std::printf("engine or dumpcap did not start:\n%s\n%s\n", readText(dir + "/engine.txt").c_str(),
                        readText(dir + "/dumpcap.txt").c_str());
            finish(engine, 5000);
            finish(dumpcap, 5000);
            counter.join();
            break;
        }
        const SendResult sent = sendStream(rate, seconds);
        // Let the idle flush release the last records, then stop both.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        finish(dumpcap, 10000);
        finish(engine, 10000);
        counter.join();

        long long received, dropped;
        dumpcapCounts(readText(dir + "/dumpcap.txt"), &received, &dropped);
        const long long lost = lostByPc(readText(controlOut));
        const uint64_t wrote = counter.packets.load();
        const bool engineLossless = sent.ok && lost == 0 && wrote == sent.records;
        const bool dumpcapLossless = sent.ok && dropped == 0 && received == static_cast<long long>(sent.dumps);
        const double sentRate = sent.seconds > 0 ? static_cast<double>(sent.records) / sent.seconds : 0;
        std::printf("%12.0f %12.0f %10llu | %12llu %10lld %8s | %12lld %10lld %8s\n", rate, sentRate,
                    static_cast<unsigned long long>(sent.dumps), static_cast<unsigned long long>(wrote), lost,
                    engineLossless ? "yes" : "NO", received, dropped, dumpcapLossless ? "yes" : "NO");
        if (!engineLossless) {
            // Why the engine fell short: its first warnings and errors (the log
            // lines inside the control-out framing).
            const std::string log = readText(controlOut);
            int shown = 0;
            for (const char *level : {"ERROR: - ", "WARNING: - "}) {
                for (size_t at = log.find(level); at != std::string::npos && shown < 3; at = log.find(level, at + 1)) {
                    const std::string line = log.substr(at, log.find('\n', at) - at);
                    if (line.find("Pcap open failed") != std::string::npos) continue;
                    std::printf("    engine: %s\n", line.c_str());
                    ++shown;
                }
            }
        }
        std::fflush(stdout);
        if (engineLossless && sentRate > bestEngine) bestEngine = sentRate;
        if (dumpcapLossless && sentRate > bestDumpcap) bestDumpcap = sentRate;
        if (!engineLossless && !dumpcapLossless) break;
    }
    std::printf("highest lossless rate: engine %.0f records/s, dumpcap %.0f records/s (target %.0f)\n", bestEngine,
                bestDumpcap, kTargetRecordsPerSecond);

    std::string cleanup = "rm -rf " + dir;
    shell(cleanup);
    shell(std::string("ip netns del ") + kEngineSide);
    shell(std::string("ip netns del ") + kAnalyzerSide);
    return 0;
}
