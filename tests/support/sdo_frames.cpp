#include "sdo_frames.h"

#include <cstring>

#include "sdo_tracking.h"

namespace {

constexpr uint8_t ASND_MULTICAST[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x04};
constexpr uint8_t MESSAGE_TYPE_ASND = 0x06;
constexpr uint8_t SERVICE_SDO = 0x05;
constexpr size_t ETHERNET_MINIMUM = 60;

void record_event(void *context, uint64_t, uint8_t severity, const char *text, uint64_t excess) {
    static_cast<engine_harness *>(context)->events.push_back({severity, text, excess});
}

}  // namespace

void put16(std::vector<uint8_t> &v, uint16_t value) {
    v.push_back(uint8_t(value));
    v.push_back(uint8_t(value >> 8));
}

void put32(std::vector<uint8_t> &v, uint32_t value) {
    put16(v, uint16_t(value));
    put16(v, uint16_t(value >> 16));
}

std::vector<uint8_t> sdo_frame_spec::epl() const {
    std::vector<uint8_t> p = {
        MESSAGE_TYPE_ASND, udp ? uint8_t(0) : destination, udp ? uint8_t(0) : source, SERVICE_SDO, receive, send, 0, 0};
    if (command_layer) {
        p.insert(p.end(), {0, transaction, flags, command});
        put16(p, segment_size);
        put16(p, 0);
        p.insert(p.end(), payload.begin(), payload.end());
    }
    return p;
}

std::vector<uint8_t> sdo_frame_spec::build() const {
    std::vector<uint8_t> f(ASND_MULTICAST, ASND_MULTICAST + 6);
    f.insert(f.end(), source_mac, source_mac + 6);
    f.insert(f.end(), {0x88, 0xAB});
    const std::vector<uint8_t> p = epl();
    f.insert(f.end(), p.begin(), p.end());
    if (f.size() < ETHERNET_MINIMUM) f.resize(ETHERNET_MINIMUM, 0);
    return f;
}

sdo_frame_spec read_request(uint8_t sequence, uint8_t ack, uint16_t index, uint8_t sub) {
    sdo_frame_spec s;
    s.receive = seq_byte(ack, 2);
    s.send = seq_byte(sequence, 2);
    s.command = SDO_COMMAND_READ_BY_INDEX;
    s.segment_size = 4;
    put16(s.payload, index);
    s.payload.push_back(sub);
    s.payload.push_back(0);
    return s;
}

sdo_frame_spec write_expedited(uint8_t sequence, uint8_t ack, uint16_t index, uint8_t sub,
                               const std::vector<uint8_t> &data) {
    sdo_frame_spec s;
    s.receive = seq_byte(ack, 2);
    s.send = seq_byte(sequence, 2);
    s.command = SDO_COMMAND_WRITE_BY_INDEX;
    s.segment_size = uint16_t(4 + data.size());
    put16(s.payload, index);
    s.payload.push_back(sub);
    s.payload.push_back(0);
    s.payload.insert(s.payload.end(), data.begin(), data.end());
    return s;
}

sdo_frame_spec write_initiate(uint8_t sequence, uint8_t ack, uint16_t index, uint8_t sub, uint32_t size) {
    sdo_frame_spec s;
    s.receive = seq_byte(ack, 2);
    s.send = seq_byte(sequence, 2);
    s.command = SDO_COMMAND_WRITE_BY_INDEX;
    s.flags = SDO_SEGMENTATION_INITIATE;
    s.segment_size = 8;
    put32(s.payload, size);
    put16(s.payload, index);
    s.payload.push_back(sub);
    s.payload.push_back(0);
    return s;
}

engine_harness::engine_harness() {
    if (flowlens_create(&instance, record_event, this) != 0) instance = nullptr;
    if (instance != nullptr) flowlens_start(instance);
}

engine_harness::~engine_harness() {
    if (instance != nullptr) flowlens_destroy(instance);
}

void engine_harness::process(const std::vector<uint8_t> &frame) {
    flowlens_packet_info packet{};
    packet.port = 0;
    packet.frame_number = next_frame++;
    packet.time = next_time;
    next_time += 100000;
    packet.data = frame.data();
    packet.length = uint16_t(frame.size());
    packet.captured_length = uint16_t(frame.size());
    flowlens_process_packet(instance, &packet);
}

std::string engine_harness::track(const sdo_frame_spec &spec, flowlens_node *source, bool pad) {
    const std::vector<uint8_t> epl = spec.epl();
    std::vector<uint8_t> padded = epl;
    if (pad && padded.size() < 46) padded.resize(46, 0);  // Ethernet padding, as on the wire
    flowlens_sdo_frame frame{};
    frame.epl = padded.data();
    frame.epl_length = uint32_t(padded.size());
    frame.udp_mode = spec.udp ? 1 : 0;
    frame.source_node = spec.udp ? uint8_t(spec.ip_source) : spec.source;
    frame.destination_node = spec.udp ? uint8_t(spec.ip_destination) : spec.destination;
    frame.ip_source = spec.ip_source;
    frame.ip_destination = spec.ip_destination;
    frame.udp_source_port = spec.udp_source_port;
    frame.udp_destination_port = spec.udp_destination_port;
    frame.source_mac = spec.source_mac;

    instance->current_frame_number = next_frame++;
    result = flowlens_classification{};
    message.text[0] = '\0';
    flowlens_sdo_track(instance, &frame, source != nullptr ? source : &instance->networks[0].nodes[frame.source_node],
                       &result, &message);
    return message.text;
}

void engine_harness::track(const flowlens_sdo_frame &frame, flowlens_node *source) {
    flowlens_sdo_track(instance, &frame, source, &result, &message);
}

std::vector<std::string> engine_harness::texts(uint8_t severity) const {
    std::vector<std::string> out;
    for (const reported_event &e : events)
        if (e.severity == severity) out.push_back(e.text);
    return out;
}
