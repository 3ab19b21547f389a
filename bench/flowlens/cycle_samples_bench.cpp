// What collecting the cycle samples costs the flowlens engine: time per frame
// with and without the collector (the engine skips collecting when its
// instance has none), over the robot capture and over synthetic 1 M-frame
// cycle streams, and the collector's memory after 1 M frames.
//
// Streams (one network, 1 ms cycles with a few us of jitter):
//   1 CN    SoC, PReq/PRes, SoA, ASnd                  (5 frames per cycle)
//   10 CNs  SoC, 10 x PReq/PRes, SoA, ASnd             (23 frames per cycle)
//   SoCs    nothing but SoCs: the worst case for the cycle list
//
// Usage: cycle_samples_bench [rounds, default 5]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture_frames.h"
#include "cycle_samples.h"
#include "flowlens.h"
#include "flowlens_frame.h"
#include "plk_frame_builder.h"

namespace {

constexpr size_t MILLION = 1000000;
constexpr uint64_t BASE_TIME = 1700000000000000000ull;

struct stream {
    const char *name;
    std::vector<frame_bytes> templates;  // the distinct frames
    std::vector<flowlens_packet_info> packets;
};

void count_message(void *, uint64_t, uint8_t, const char *, uint64_t) {}

// 1 M frames of cycles polling `cns` CNs (0: SoCs only).
stream cycle_stream(const char *name, int cns) {
    stream s{name, {}, {}};
    s.templates.push_back(plk::soc(1000));
    for (int n = 1; n <= cns; ++n) {
        s.templates.push_back(plk::preq(uint8_t(n)));
        s.templates.push_back(plk::pres(uint8_t(n)));
    }
    if (cns > 0) {
        s.templates.push_back(plk::soa());
        s.templates.push_back(plk::asnd(1, 240, 3));
    }
    s.packets.reserve(MILLION);
    uint64_t cycle_start = BASE_TIME;
    for (uint64_t cycle = 0; s.packets.size() < MILLION; ++cycle) {
        uint64_t t = cycle_start;
        for (size_t k = 0; k < s.templates.size() && s.packets.size() < MILLION; ++k) {
            flowlens_packet_info p{};
            p.frame_number = s.packets.size() + 1;
            p.time = t;
            p.data = s.templates[k].data();
            p.length = p.captured_length = uint16_t(s.templates[k].size());
            s.packets.push_back(p);
            t += 7 * 1000 + (k % 3) * 11;  // 7 us apart, off the 100 ns grid
        }
        cycle_start += 1000 * 1000 + (cycle * 7919) % 3000;  // 1 ms with up to 3 us jitter
    }
    return s;
}

// Seconds for one pass over the packets; the SoC template's RelativeTime
// advances 1000 us per SoC, as a real MN's does.
double pass(flowlens_instance *engine, stream &s) {
    using namespace flowlens_layout;
    uint8_t *soc = s.templates.empty() ? nullptr : s.templates[0].data();
    uint32_t relative = 0;
    flowlens_start(engine);
    auto start = std::chrono::steady_clock::now();
    for (const flowlens_packet_info &p : s.packets) {
        if (soc != nullptr && p.data == soc) {
            relative += 1000;
            std::memcpy(soc + ETH_HEADER + EPL_SOC_RELATIVE_TIME, &relative, 4);  // little endian host
        }
        flowlens_process_packet(engine, &p);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of `rounds` passes with and without the collector, alternating, on a
// fresh engine (so the memory figure is this stream's alone).
void measure(stream &s, int rounds) {
    flowlens_instance *engine = nullptr;
    if (flowlens_create(&engine, count_message, nullptr) != 0 || engine->samples == nullptr) {
        std::printf("cycle_samples_bench: cannot create the engine\n");
        std::exit(1);
    }
    flowlens_cycle_samples *samples = engine->samples;
    double with = 1e9, without = 1e9;
    for (int r = 0; r < rounds; ++r) {
        engine->samples = nullptr;
        without = std::min(without, pass(engine, s));
        engine->samples = samples;
        with = std::min(with, pass(engine, s));
    }
    const double n = double(s.packets.size());
    std::printf("%-28s %8zu frames  without %6.1f ns/frame  with %6.1f ns/frame  added %+5.1f ns/frame (%+.1f %%)\n",
                s.name, s.packets.size(), without / n * 1e9, with / n * 1e9, (with - without) / n * 1e9,
                (with - without) / without * 100.0);
    std::printf(
        "%-28s cycles %zu kept of %llu (stride %u), responses %zu kept of %llu (stride %u), "
        "collector %.1f MB\n",
        "", samples->cycles(0).size(), (unsigned long long)samples->cycle_count(0), samples->cycle_stride(0),
        samples->responses(0).size(), (unsigned long long)samples->response_count(0), samples->response_stride(0),
        samples->memory_bytes() / 1048576.0);
    flowlens_destroy(engine);
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (rounds <= 0) rounds = 5;
    const flowlens_cycle_samples defaults;
    std::printf("caps per network: %zu cycles (%zu B each), %zu responses (%zu B each), %zu events (%zu B each)\n",
                defaults.cycle_cap(), sizeof(flowlens_cycle_point), defaults.response_cap(),
                sizeof(flowlens_response_point), defaults.event_cap(), sizeof(flowlens_event_point));

    const std::string dir = shared_captures_dir();
    if (!dir.empty()) {
        capture_file capture = read_capture(dir + "/powerlink_robot_with_iperf.pcapng.gz");
        if (capture.error.empty()) {
            stream robot{"robot capture", {}, {}};
            for (size_t i = 0; i < capture.frames.size(); ++i) robot.packets.push_back(packet_of(capture, i));
            measure(robot, rounds * 20);
        }
    }
    for (int cns : {1, 10, 0}) {
        stream s = cycle_stream(cns == 1    ? "1 M frames, 1 CN"
                                : cns == 10 ? "1 M frames, 10 CNs"
                                            : "1 M frames, SoCs only",
                                cns);
        measure(s, rounds);
    }
    return 0;
}
