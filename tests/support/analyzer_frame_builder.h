// Builds the analyzer reports the plug-in decodes, wrapped in POWERLINK ASnd
// frames, and writes them as pcapng files for tshark. Field values are
// chosen by the caller, so each test states the case it checks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelbuild {

using Bytes = std::vector<uint8_t>;

// --- Analyzer report payloads (the bytes behind the ASnd service id) ---

struct LanyxReport {
    uint16_t status = 0;  // bit 15 input, bit 9 CRC32 error, bit 8 sync error
    uint8_t frame_counter = 0;
    uint8_t local_ios = 0;
    uint32_t start_ticks = 0;
    uint32_t stop_ticks = 0;
    uint16_t length_word = 0;  // bit 15 synchronous, bits 0-12 frame length
    uint16_t cycle_counter = 0;
    Bytes data;  // data area, CRC32 included when the frame is complete
};
Bytes lanyx_payload(const LanyxReport &report);

struct PackedSubframe {
    uint32_t timestamp = 0;
    uint16_t size = 0;  // the size field as written
    uint16_t flags = 0;
    Bytes data;  // data bytes as placed (then padded to 4-byte alignment)
};
struct PackedDump {
    uint16_t dump_size = 0;
    uint8_t dump_count = 0;  // written as given (may differ from subframes.size())
    uint8_t capture_id = 0;
    uint16_t dump_total = 0;
    uint16_t dump_lost = 0;
    uint16_t unique_id = 0;
    uint32_t ts_high = 0;
    uint8_t phy_info = 0;
    uint8_t protocol_version = 0;
    uint16_t reserved = 0;
    std::vector<PackedSubframe> subframes;
};
Bytes packed_payload(const PackedDump &dump);

struct LanyxPlusReport {
    uint32_t flags = 0;
    uint32_t transfer_time = 0;
    uint32_t header = 0;  // destination << 20 | source << 8 | port
    Bytes payload;
};
Bytes lanyxplus_payload(const LanyxPlusReport &report);
uint32_t lanyxplus_header(uint32_t destination, uint32_t source, uint32_t port);

// A well-formed openSAFETY frame (sub-frame 1 and 2, CRC8 checksums, so at
// most 8 data bytes) with the given message id, e.g. 0xA4 SNMT UDID response.
Bytes opensafety_frame(uint8_t message_id, uint16_t address, uint8_t counter, const Bytes &data);
uint8_t crc8_0x2f(const uint8_t *data, size_t length);

// --- Framing ---

// POWERLINK ASnd directly on Ethernet (EtherType 0x88AB).
Bytes epl_asnd_frame(uint8_t service_id, const Bytes &payload);
// POWERLINK ASnd over UDP port 3819, the way the Q40TA5521 sends its dumps;
// the last octet of the IPv4 source address is the analyzer's node number.
Bytes epl_asnd_udp_frame(uint8_t service_id, const Bytes &payload, uint8_t analyzer_node = 7);

struct Packet {
    uint64_t timestamp_ns = 0;
    Bytes data;
};

// Ethernet pcapng with nanosecond timestamps. Throws std::runtime_error.
void write_pcapng(const std::string &path, const std::vector<Packet> &packets);
// Ethernet frames of a classic pcap file (any timestamp resolution).
std::vector<Packet> read_pcap(const std::string &path);

// Packs captured frames into Q40TA5521 dump frames (variable-length
// subframes, dump size 0), `per_dump` frames each, as real analyzer traffic.
std::vector<Packet> pack_into_dumps(const std::vector<Packet> &frames, size_t per_dump);

}  // namespace zelbuild
