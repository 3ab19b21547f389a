/* Collection throughput: SPDO records per second through osa_tap_packet, the
 * cost of one UDID recovery per frame class, and a flood of crafted SSDOs
 * that each show a new UDID. Prints figures only. */
#include "osa_collection.h"
#include "osa_frame.h"
#include "osa_gen.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

const uint8_t kUdid[6] = {0x02, 0xD7, 0xA5, 0x3C, 0x5A, 0x96};

struct frame {
    std::vector<uint8_t> bytes;
    osa_frame_record rec;
};

frame make(uint16_t adr, uint64_t counter, unsigned payload_len, uint8_t id, bool counter40 = false,
           const uint8_t (&udid)[6] = kUdid) {
    osa_gen::frame_info f;
    f.msg_id = id;
    f.msg_type = (id & 0xE0) == 0xE0 ? osa_frame::type_ssdo : osa_frame::type_spdo;
    f.adr = adr;
    f.tadr = f.msg_type == osa_frame::type_ssdo ? 1 : 0;
    f.counter = counter;
    f.conn_valid = true;
    f.counter40 = counter40;
    frame out;
    out.bytes = osa_gen::build_frame(f, 1, udid, std::vector<uint8_t>(payload_len, 0x5A));
    out.rec.frame = out.bytes.data();
    out.rec.frame_avail = out.rec.frame_len = static_cast<uint32_t>(out.bytes.size());
    out.rec.subframe2 = static_cast<uint16_t>(osa_frame::subframe2_offset(payload_len));
    out.rec.sender = adr;
    out.rec.msg_id = id;
    out.rec.msg_type = f.msg_type;
    out.rec.has_payload = true;
    out.rec.spdo_counter16 = static_cast<uint16_t>(counter);
    out.rec.spdo_conn_valid = true;
    return out;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
    /* 1. Steady SPDO traffic of 50 producers, 20000 cycles. */
    const unsigned producers = 50, cycles = 20000;
    std::vector<frame> frames;
    frames.reserve(producers);
    for (unsigned p = 0; p < producers; ++p)
        frames.push_back(make(static_cast<uint16_t>(2 + p), 1000, 4, osa_frame::spdo_data_only));
    osa_tap_reset();
    uint32_t number = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (unsigned c = 0; c < cycles; ++c)
        for (frame &f : frames) {
            f.rec.frame_number = ++number;
            f.rec.spdo_counter16 = static_cast<uint16_t>(1000 + c * 10);
            osa_tap_packet(&f.rec);
        }
    const double spdo_s = seconds_since(t0);
    std::printf("collection: %u SPDO records in %.3f s = %.0f ns/record (%.2f M records/s)\n", number, spdo_s,
                spdo_s * 1e9 / number, number / spdo_s / 1e6);

    /* 2. UDID recovery per frame class (fresh node every time). */
    struct klass {
        const char *name;
        frame f;
    } classes[] = {
        {"SPDO CRC-8", make(3, 0x0456, 4, osa_frame::spdo_data_only)},
        {"SPDO CRC-16", make(3, 0x0456, 12, osa_frame::spdo_data_only)},
        {"SPDO 40-bit", make(3, 0x0B000456ULL, 4, osa_frame::spdo_data_only, true)},
        {"SSDO CRC-8 (byte search)", make(3, 0x0123, 4, osa_frame::ssdo_request)},
        {"SSDO CRC-16 (byte search)", make(3, 0x0123, 16, osa_frame::ssdo_request)},
    };
    for (klass &k : classes) {
        const unsigned runs = 20000;
        int ok = 0;
        t0 = std::chrono::steady_clock::now();
        for (unsigned i = 0; i < runs; ++i) {
            osa_node node;
            node.sadr = 3;
            ok += osa_detect_udid(&node, &k.f.rec) == 0;
        }
        const double s = seconds_since(t0);
        std::printf("udid recovery, %-26s %7.0f ns/frame (%d/%u recovered)\n", k.name, s * 1e9 / runs, ok, runs);
    }

    /* 3. Crafted SSDOs: each names node 4 but arrives under SADR 900 and
     * shows a UDID of its own, so every one runs the recovery again. Then
     * 11-byte frames of unknown senders: how many a learned tail moves. */
    const unsigned crafted = 200000;
    std::vector<frame> flood;
    flood.reserve(crafted);
    for (unsigned i = 0; i < crafted; ++i) {
        const uint8_t udid[6] = {
            0x02, 0xD7, 0xA5, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        flood.push_back(make(4, 0x0123, 4, osa_frame::ssdo_request, false, udid));
        flood.back().rec.sender = 900;
        flood.back().rec.frame_number = i + 1;
    }
    osa_tap_reset();
    osa_get_node(4)->snmt_count = 1;
    t0 = std::chrono::steady_clock::now();
    for (frame &f : flood) osa_tap_packet(&f.rec);
    const double flood_s = seconds_since(t0);
    unsigned moved = 0;
    const unsigned probes = 2000;
    for (unsigned i = 0; i < probes; ++i) {
        const uint8_t udid[6] = {0x02,
                                 0xD7,
                                 0xA5,
                                 static_cast<uint8_t>(i * 7),
                                 static_cast<uint8_t>(i * 13),
                                 static_cast<uint8_t>(i * 29 + 1)};
        frame probe = make(static_cast<uint16_t>(10 + i % 700), 0x0100, 0, osa_frame::spdo_data_only, false, udid);
        probe.rec.sender = 1000;
        probe.rec.frame_number = crafted + i + 1;
        osa_tap_packet(&probe.rec);
        moved += osa_node_table()->count(1000) == 0;
        osa_get_node(1000)->spdo_count = 0;
    }
    std::printf("crafted SSDOs: %u in %.3f s, %zu tails kept; 11-byte frames moved to another SADR: %u/%u\n", crafted,
                flood_s, osa_udid_candidates().size(), moved, probes);
    osa_tap_destroy();
    return 0;
}
