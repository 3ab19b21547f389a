/* osa_gen: builds captures of openSAFETY traffic for tests and demos.
 *
 * A scenario is one SCM (SADR 1) and a set of safety nodes in one safety
 * domain. The SCM announces its UDID to every node (SNMT "assign UDID SCM"),
 * sets the nodes operational, reads parameters over SSDO and slim SSDO, and
 * then the nodes produce SPDOs cycle by cycle, with time requests and
 * responses between chosen pairs. Faults can be injected: missing SPDO
 * cycles, counter wraps, connection-valid changes and additional (virtual)
 * addresses. Frames travel over openSAFETY/UDP (port 9877) or inside
 * POWERLINK frames (SPDOs in PRes, the rest in ASnd).
 */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace osa_gen {

enum class transport { udp, powerlink };

struct producer {
    uint16_t sadr = 0;
    unsigned payload_len = 2;  // 0 gives 11-byte frames, > 8 CRC-16 frames
    bool counter40 = false;    // 40-bit counter (data-only SPDOs only)
    uint64_t counter_start = 1000;
    uint64_t counter_step = 10;  // 100 us units per cycle
    bool acyclic_only = false;   // an additional address: sends only time-sync SPDOs
};

/* `consumer` asks `producer` for the time at `cycle`; the answer follows in
 * the next cycle. */
struct time_sync {
    uint16_t consumer = 0;
    uint16_t producer = 0;
    unsigned cycle = 0;
};

struct drop {
    uint16_t sadr = 0;
    unsigned from_cycle = 0;
    unsigned count = 0;
};

struct invalid_range {
    uint16_t sadr = 0;
    unsigned from_cycle = 0;  // connection-valid bit off in [from, to)
    unsigned to_cycle = 0;
};

struct config {
    uint8_t udid[6] = {0x02, 0xD7, 0xA5, 0x3C, 0x5A, 0x96};
    uint16_t sdn = 1;
    transport via = transport::udp;
    bool announce_udid = true;   // SNMT frames that carry the SCM UDID
    bool boot = true;            // SNMT and SSDO start-up before the SPDO cycles
    bool pre_op_at_end = false;  // SCM sets every node back to pre-operational
    unsigned cycles = 40;
    uint32_t cycle_us = 1000;
    std::vector<producer> producers;
    std::vector<time_sync> syncs;
    std::vector<drop> drops;
    std::vector<invalid_range> invalid;
};

/* What one generated openSAFETY frame is, for checking a dissection. */
struct frame_info {
    uint32_t packet = 0;   // 1-based packet number in the capture
    uint8_t msg_id = 0;    // ID byte of sub-frame 1, address bits cleared
    uint8_t msg_type = 0;  // 0xA0, 0xC0, 0xE0 or 0xE8
    uint16_t adr = 0;      // sub-frame 1 address
    uint16_t tadr = 0;     // sub-frame 2 target / time-sync address
    bool response = false;
    unsigned payload_len = 0;
    std::size_t frame_len = 0;
    uint64_t counter = 0;
    bool conn_valid = false;
    bool counter40 = false;
    uint8_t snmt_ext = 0;
};

struct packet {
    uint64_t ts_ns = 0;
    std::vector<uint8_t> bytes;  // Ethernet frame
};

struct capture {
    std::vector<packet> packets;
    std::vector<frame_info> frames;
};

/* Builds one openSAFETY frame (both sub-frames) with sub-frame 2 scrambled
 * by `udid` unless it is an SNMT. */
std::vector<uint8_t> build_frame(const frame_info &f, uint16_t sdn, const uint8_t udid[6],
                                 const std::vector<uint8_t> &payload);

capture generate(const config &cfg);

/* Writes the capture as pcap (microsecond) or pcapng (nanosecond). */
bool write_pcap(const capture &cap, const std::string &path, bool pcapng, std::string *error);

/* A default network: producers 2, 3, 4 (CRC-8), 5 (11-byte frames), 6
 * (CRC-16), 7 (40-bit counter); 3 and 4 exchange time; node 2 has the
 * additional address 12; 4 wraps its counter; 3 loses cycles; 6 drops its
 * connection-valid bit for a while. */
config default_config();

}  // namespace osa_gen
