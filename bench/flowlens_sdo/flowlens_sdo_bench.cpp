// Speed of the SDO tracking alone and of the lookups behind the SDO texts.
//
// The traffic is an MN configuring 100 CNs at once: every connection is
// opened, then carries expedited reads and writes, each answered and
// acknowledged, interleaved across the CNs as an MN's SDO client does.
// Prints frames per second of the tracking, history look-ups per second,
// object-name look-ups per second, the cost of a reset (emptying the 65,536
// buckets) and the fixed memory of the history and the table.
//
// Usage: flowlens_sdo_bench [seconds per figure, default 1]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "flowlens.h"
#include "flowlens_classify.h"
#include "od_names.h"
#include "sdo_tracking.h"

namespace {

using bench_clock = std::chrono::steady_clock;

constexpr uint8_t MN = 240;
constexpr int CNS = 100;

struct sdo_wire_frame {
    std::vector<uint8_t> epl;
    uint8_t source, destination;
};

uint8_t seq(unsigned sequence, unsigned state) { return uint8_t(((sequence & 0x3F) << 2) | (state & 3)); }

sdo_wire_frame frame(uint8_t source, uint8_t destination, uint8_t receive, uint8_t send, uint8_t flags, uint8_t command,
                     uint16_t index, uint8_t sub) {
    sdo_wire_frame f{std::vector<uint8_t>(46, 0), source, destination};
    f.epl[0] = 0x06;
    f.epl[1] = destination;
    f.epl[2] = source;
    f.epl[3] = 0x05;
    f.epl[SDO_OFFSET_RECEIVE] = receive;
    f.epl[SDO_OFFSET_SEND] = send;
    f.epl[SDO_OFFSET_FLAGS] = flags;
    f.epl[SDO_OFFSET_COMMAND_ID] = command;
    f.epl[SDO_OFFSET_SEGMENT_SIZE] = 4;
    f.epl[SDO_OFFSET_EXPEDITED_INDEX] = uint8_t(index);
    f.epl[SDO_OFFSET_EXPEDITED_INDEX + 1] = uint8_t(index >> 8);
    f.epl[SDO_OFFSET_EXPEDITED_SUB] = sub;
    return f;
}

std::vector<sdo_wire_frame> configuration_traffic() {
    std::vector<sdo_wire_frame> frames;
    for (int cn = 1; cn <= CNS; ++cn) {
        frames.push_back(frame(MN, uint8_t(cn), seq(0, 0), seq(0, 1), 0, 0, 0, 0));
        frames.push_back(frame(uint8_t(cn), MN, seq(0, 1), seq(0, 1), 0, 0, 0, 0));
        frames.push_back(frame(MN, uint8_t(cn), seq(0, 1), seq(0, 2), 0, 0, 0, 0));
    }
    for (unsigned step = 1; step <= 60; ++step) {
        for (int cn = 1; cn <= CNS; ++cn) {
            const uint8_t command = step % 2 ? SDO_COMMAND_READ_BY_INDEX : SDO_COMMAND_WRITE_BY_INDEX;
            frames.push_back(frame(MN, uint8_t(cn), seq(step - 1, 2), seq(step, 2), 0, command, 0x1018, 2));
            frames.push_back(frame(uint8_t(cn), MN, seq(step, 2), seq(step, 2), 0x80, command, 0, 0));
            frames.push_back(frame(MN, uint8_t(cn), seq(step, 2), seq(step, 2), 0, 0, 0, 0));
        }
    }
    for (int cn = 1; cn <= CNS; ++cn) frames.push_back(frame(MN, uint8_t(cn), seq(0, 0), seq(0, 0), 0, 0, 0, 0));
    return frames;
}

double seconds_since(bench_clock::time_point start) {
    return std::chrono::duration<double>(bench_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (seconds <= 0) seconds = 1.0;
    flowlens_instance *engine = nullptr;
    if (flowlens_create(&engine, nullptr, nullptr) != 0) {
        std::printf("flowlens_sdo_bench: cannot create the engine\n");
        return 1;
    }
    std::printf(
        "SDO history: %u entries, %zu bytes; connection table: %u buckets, %zu bytes; %zu bytes per connection\n",
        FLOWLENS_SDO_HISTORY_SIZE, size_t(FLOWLENS_SDO_HISTORY_SIZE) * sizeof(sdo_history_entry), FLOWLENS_SDO_BUCKETS,
        size_t(FLOWLENS_SDO_BUCKETS) * sizeof(sdo_connection *), sizeof(sdo_connection));

    const std::vector<sdo_wire_frame> traffic = configuration_traffic();
    std::vector<flowlens_sdo_frame> frames(traffic.size());
    static const uint8_t mac[6] = {0x00, 0x60, 0x65, 0x00, 0x00, 0x01};
    for (size_t i = 0; i < traffic.size(); ++i) {
        flowlens_sdo_frame &f = frames[i];
        f = flowlens_sdo_frame{};
        f.epl = traffic[i].epl.data();
        f.epl_length = uint32_t(traffic[i].epl.size());
        f.source_node = traffic[i].source;
        f.destination_node = traffic[i].destination;
        f.source_mac = mac;
    }

    // Tracking: the traffic again and again, one reset per pass as a new
    // dissection pass does.
    uint64_t tracked = 0, passes = 0, frame_number = 0;
    double reset_time = 0;
    auto start = bench_clock::now();
    while (seconds_since(start) < seconds) {
        const auto reset_start = bench_clock::now();
        flowlens_sdo_clear(&engine->sdo);
        reset_time += seconds_since(reset_start);
        for (const flowlens_sdo_frame &f : frames) {
            engine->current_frame_number = ++frame_number;
            flowlens_classification result{};
            flowlens_message_buffer message;
            message.text[0] = '\0';
            flowlens_sdo_track(engine, &f, &engine->networks[0].nodes[f.source_node], &result, &message);
        }
        tracked += frames.size();
        ++passes;
    }
    double elapsed = seconds_since(start);
    std::printf("tracking: %llu frames in %.2f s = %.0f frames/s (%zu connections, %llu history entries per pass)\n",
                static_cast<unsigned long long>(tracked), elapsed, tracked / (elapsed - reset_time),
                sdo_connection_count(&engine->sdo), static_cast<unsigned long long>(engine->sdo.history_count));
    std::printf("reset: %.1f us per reset (%llu resets)\n", reset_time / passes * 1e6,
                static_cast<unsigned long long>(passes));

    // History look-ups of the frame texts: every frame of the last pass.
    const uint64_t first = frame_number - frames.size() + 1;
    uint64_t lookups = 0, found = 0;
    start = bench_clock::now();
    while (seconds_since(start) < seconds) {
        for (uint64_t n = first; n <= frame_number; ++n) {
            uint8_t advance;
            found += sdo_history_find(&engine->sdo, n, &advance) == SDO_HISTORY_FOUND;
        }
        lookups += frames.size();
    }
    elapsed = seconds_since(start);
    std::printf("history look-up: %.0f per second (%.1f%% of the frames carry an entry)\n", lookups / elapsed,
                100.0 * double(found) / double(lookups));

    // Object names of a maker bus controller with slots.
    flowlens_node controller{};
    controller.object_names_maker = 1;
    controller.object_names_slots = 1;
    static const uint16_t indices[] = {0x1000, 0x1018, 0x1F98, 0x1A00, 0x2000, 0x20F0, 0x20C8, 0x2105, 0x4123, 0x6000};
    uint64_t names = 0, named = 0;
    start = bench_clock::now();
    while (seconds_since(start) < seconds) {
        for (uint16_t index : indices)
            for (unsigned sub = 0; sub < 8; ++sub) named += od_object_name(&controller, index, uint8_t(sub))[0] != 0;
        names += sizeof indices / sizeof indices[0] * 8;
    }
    elapsed = seconds_since(start);
    std::printf("object names: %.0f look-ups per second (%.0f%% of them give a name)\n", names / elapsed,
                100.0 * double(named) / double(names));

    flowlens_destroy(engine);
    return 0;
}
