// Throughput of the flowlens engine alone: every real capture is read into
// memory once, then fed through one instance again and again (with a reset
// between captures, as a new pass in Wireshark does). Prints frames per
// second per capture and overall, and the engine's fixed memory. For the
// smallest captures the reset between passes (clearing the node tables and
// the 65,536 SDO buckets) dominates, not the per-frame work.
//
// Usage: flowlens_bench [seconds per capture, default 1] [captures folder]
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_frames.h"
#include "flowlens.h"
#include "sdo_tracking.h"

namespace {

uint64_t messages = 0;

void count_message(void *, uint64_t, uint8_t, const char *, uint64_t) { ++messages; }

std::vector<std::string> capture_names(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.find(".pcap") != std::string::npos) names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

int main(int argc, char **argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (seconds <= 0) seconds = 1.0;
    std::string dir = argc > 2 ? argv[2] : shared_captures_dir();
    if (dir.empty()) {
        std::printf("flowlens_bench: shared captures not found\n");
        return 0;
    }
    flowlens_instance *engine = nullptr;
    if (flowlens_create(&engine, count_message, nullptr) != 0) {
        std::printf("flowlens_bench: cannot create the engine\n");
        return 1;
    }
    std::printf("engine instance: %zu bytes; SDO history %u entries (%zu bytes); connection table %u buckets\n",
                sizeof(flowlens_instance), FLOWLENS_SDO_HISTORY_SIZE,
                size_t(FLOWLENS_SDO_HISTORY_SIZE) * sizeof(sdo_history_entry), FLOWLENS_SDO_BUCKETS);

    uint64_t total_frames = 0;
    double total_seconds = 0;
    using clock = std::chrono::steady_clock;
    for (const std::string &name : capture_names(dir)) {
        capture_file capture = read_capture(dir + "/" + name);
        if (!capture.error.empty() || capture.frames.empty()) {
            std::printf("%-42s skipped (%s)\n", name.c_str(), capture.error.c_str());
            continue;
        }
        std::vector<flowlens_packet_info> packets;
        for (size_t i = 0; i < capture.frames.size(); ++i) packets.push_back(packet_of(capture, i));
        uint64_t frames = 0;
        auto start = clock::now();
        double elapsed = 0;
        do {
            flowlens_start(engine);
            for (const flowlens_packet_info &packet : packets) flowlens_process_packet(engine, &packet);
            frames += packets.size();
            elapsed = std::chrono::duration<double>(clock::now() - start).count();
        } while (elapsed < seconds);
        std::printf("%-42s %7zu frames  %10.0f frames/s\n", name.c_str(), packets.size(), frames / elapsed);
        total_frames += frames;
        total_seconds += elapsed;
    }
    if (total_seconds > 0)
        std::printf("all captures: %llu frames in %.2f s = %.0f frames/s (target 3000000), %llu messages\n",
                    static_cast<unsigned long long>(total_frames), total_seconds, total_frames / total_seconds,
                    static_cast<unsigned long long>(messages));
    flowlens_destroy(engine);
    return 0;
}
