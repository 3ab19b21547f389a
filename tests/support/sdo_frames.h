// Builders of POWERLINK SDO frames for the tests, and a small engine harness
// that records what the engine reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flowlens.h"
#include "flowlens_classify.h"

// Sequence-layer byte: sequence number (0..63) in bits 2-7, state in bits 0-1.
inline uint8_t seq_byte(unsigned sequence, unsigned state) { return uint8_t(((sequence & 0x3F) << 2) | (state & 3)); }

// One SDO frame as the tests describe it; build() lays it out on the wire.
struct sdo_frame_spec {
    uint8_t source = 240;
    uint8_t destination = 1;
    uint8_t receive = 0;  // seq_byte(...)
    uint8_t send = 0;
    bool command_layer = true;
    uint8_t transaction = 0;
    uint8_t flags = 0;  // response 0x80, abort 0x40, segmentation 0x30
    uint8_t command = 0;
    uint16_t segment_size = 0;
    std::vector<uint8_t> payload;  // bytes from EPL offset 16
    uint8_t source_mac[6] = {0x00, 0x60, 0x65, 0x00, 0x00, 0x01};
    bool udp = false;  // node ids from the IP addresses (track() only)
    uint32_t ip_source = 0, ip_destination = 0;
    uint16_t udp_source_port = 0, udp_destination_port = 0;

    // Whole Ethernet frame (POWERLINK over Ethernet), padded to 60 bytes.
    std::vector<uint8_t> build() const;
    // The POWERLINK bytes alone (from the message type on).
    std::vector<uint8_t> epl() const;
};

// Little-endian helpers to fill payloads.
void put16(std::vector<uint8_t> &v, uint16_t value);
void put32(std::vector<uint8_t> &v, uint32_t value);

// Expedited request payloads.
sdo_frame_spec read_request(uint8_t sequence, uint8_t ack, uint16_t index, uint8_t sub);
sdo_frame_spec write_expedited(uint8_t sequence, uint8_t ack, uint16_t index, uint8_t sub,
                               const std::vector<uint8_t> &data);
sdo_frame_spec write_initiate(uint8_t sequence, uint8_t ack, uint16_t index, uint8_t sub, uint32_t size);

struct reported_event {
    uint8_t severity;
    std::string text;
    uint64_t excess;
};

// An engine instance with a recording callback.
struct engine_harness {
    flowlens_instance *instance = nullptr;
    std::vector<reported_event> events;
    uint64_t next_frame = 1;
    uint64_t next_time = 1000000000ull;
    // What the last tracked frames added to the classification (track()
    // clears it first) and the room for the text.
    flowlens_classification result{};
    flowlens_message_buffer message{};

    engine_harness();
    ~engine_harness();
    engine_harness(const engine_harness &) = delete;
    engine_harness &operator=(const engine_harness &) = delete;

    // Through the whole engine (flowlens_process_packet).
    void process(const std::vector<uint8_t> &frame);
    // Through the SDO tracking alone, the way the classification calls it;
    // returns the informational text it produced ("" for none).
    // Over Ethernet the frame is padded to the minimum size; unpadded it ends
    // where its POWERLINK bytes end, as over UDP.
    std::string track(const sdo_frame_spec &spec, flowlens_node *source = nullptr, bool pad = true);
    // A prepared frame through the SDO tracking, adding to result as it is.
    void track(const flowlens_sdo_frame &frame, flowlens_node *source);

    std::vector<std::string> texts(uint8_t severity) const;
};
