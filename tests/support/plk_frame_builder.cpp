#include "plk_frame_builder.h"

#include <cstdio>
#include <cstring>

const uint8_t test_mn_mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0xF0};

void test_cn_mac(uint8_t node, uint8_t out[6]) {
    const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x01, node};
    std::memcpy(out, mac, 6);
}

namespace {

const uint8_t MC_SOC[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x01};
const uint8_t MC_PRES[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x02};
const uint8_t MC_SOA[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x03};
const uint8_t MC_ASND[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x04};

frame_bytes ethernet(const uint8_t dst[6], const uint8_t src[6], uint16_t type) {
    frame_bytes f(dst, dst + 6);
    f.insert(f.end(), src, src + 6);
    f.push_back(uint8_t(type >> 8));
    f.push_back(uint8_t(type));
    return f;
}

void pad(frame_bytes &f, size_t size = 60) {
    if (f.size() < size) f.resize(size, 0);
}

void put16(frame_bytes &f, size_t at, uint16_t v) {
    if (f.size() < at + 2) f.resize(at + 2, 0);
    f[at] = uint8_t(v);
    f[at + 1] = uint8_t(v >> 8);
}

void put32(frame_bytes &f, size_t at, uint32_t v) {
    if (f.size() < at + 4) f.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
}

const uint8_t *mac_of(uint8_t node, uint8_t buffer[6]) {
    if (node == 240) return test_mn_mac;
    test_cn_mac(node, buffer);
    return buffer;
}

}  // namespace

namespace plk {

frame_bytes soc(uint32_t relative_time_us, const uint8_t *source_mac) {
    frame_bytes f = ethernet(MC_SOC, source_mac, 0x88AB);
    f.insert(f.end(), {0x01, 0xFF, 0xF0, 0x00, 0x00, 0x00});
    pad(f);
    put32(f, 14 + 14, relative_time_us);
    return f;
}

frame_bytes preq(uint8_t node, uint8_t flags, uint16_t size) {
    uint8_t mac[6];
    test_cn_mac(node, mac);
    frame_bytes f = ethernet(mac, test_mn_mac, 0x88AB);
    f.insert(f.end(), {0x03, node, 0xF0, 0x00, flags, 0x00, 0x00, 0x00});
    put16(f, 14 + 8, size);
    pad(f);
    return f;
}

frame_bytes pres(uint8_t node, uint8_t nmt_state, uint16_t flags, uint16_t size) {
    uint8_t buffer[6];
    frame_bytes f = ethernet(MC_PRES, mac_of(node, buffer), 0x88AB);
    f.insert(f.end(), {0x04, 0xFF, node, nmt_state});
    put16(f, 14 + 4, flags);
    put16(f, 14 + 8, size);
    pad(f);
    return f;
}

frame_bytes soa(uint8_t requested_service, uint8_t target, uint8_t nmt_state) {
    frame_bytes f = ethernet(MC_SOA, test_mn_mac, 0x88AB);
    f.insert(f.end(), {0x05, 0xFF, 0xF0, nmt_state, 0x00, 0x00, requested_service, target, 0x20});
    pad(f);
    return f;
}

frame_bytes ainv(uint8_t requested_service, uint8_t target) {
    frame_bytes f = ethernet(MC_SOA, test_mn_mac, 0x88AB);
    f.insert(f.end(), {0x0D, 0xFF, 0xF0, 0xFD, 0x00, 0x00, requested_service, target, 0x20});
    pad(f);
    return f;
}

frame_bytes asnd(uint8_t source, uint8_t destination, uint8_t service, const frame_bytes &payload) {
    uint8_t buffer[6];
    frame_bytes f = ethernet(MC_ASND, mac_of(source, buffer), 0x88AB);
    f.insert(f.end(), {0x06, destination, source, service});
    f.insert(f.end(), payload.begin(), payload.end());
    pad(f);
    return f;
}

frame_bytes status_response(uint8_t node, uint16_t flags, uint8_t nmt_state) {
    frame_bytes payload(20, 0);
    payload[0] = uint8_t(flags);
    payload[1] = uint8_t(flags >> 8);
    payload[2] = nmt_state;
    frame_bytes f = asnd(node, 0xFF, 2, payload);
    pad(f, 72);
    return f;
}

frame_bytes ip_udp(const uint8_t mac[6], uint32_t ip_source, uint16_t dport, size_t payload) {
    const uint8_t broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    frame_bytes f = ethernet(broadcast, mac, 0x0800);
    uint16_t total = uint16_t(20 + 8 + payload);
    frame_bytes ip = {0x45, 0x00, uint8_t(total >> 8), uint8_t(total), 0, 0, 0x40, 0, 64, 17, 0, 0};
    for (int i = 3; i >= 0; --i) ip.push_back(uint8_t(ip_source >> (8 * i)));
    ip.insert(ip.end(), {192, 168, 100, 255});
    f.insert(f.end(), ip.begin(), ip.end());
    uint16_t ulen = uint16_t(8 + payload);
    f.insert(f.end(), {0xCA, 0x53, uint8_t(dport >> 8), uint8_t(dport), uint8_t(ulen >> 8), uint8_t(ulen), 0, 0});
    f.resize(f.size() + payload, 0xA5);
    pad(f);
    return f;
}

frame_bytes udp_asnd(uint32_t ip_source, uint32_t ip_destination, const frame_bytes &epl) {
    const uint8_t dst[6] = {0x02, 0x00, 0x00, 0x00, 0x02, uint8_t(ip_destination)};
    const uint8_t src[6] = {0x02, 0x00, 0x00, 0x00, 0x03, uint8_t(ip_source)};
    frame_bytes f = ethernet(dst, src, 0x0800);
    uint16_t total = uint16_t(20 + 8 + epl.size());
    frame_bytes ip = {0x45, 0x00, uint8_t(total >> 8), uint8_t(total), 0, 0, 0x40, 0, 64, 17, 0, 0};
    for (int i = 3; i >= 0; --i) ip.push_back(uint8_t(ip_source >> (8 * i)));
    for (int i = 3; i >= 0; --i) ip.push_back(uint8_t(ip_destination >> (8 * i)));
    f.insert(f.end(), ip.begin(), ip.end());
    uint16_t ulen = uint16_t(8 + epl.size());
    f.insert(f.end(), {0x0E, 0xEB, 0x0E, 0xEB, uint8_t(ulen >> 8), uint8_t(ulen), 0, 0});
    f.insert(f.end(), epl.begin(), epl.end());
    pad(f);
    return f;
}

frame_bytes analyzer_dump(uint8_t hw_node, uint16_t dump_total, uint8_t dump_count, uint16_t dump_lost) {
    // Dump header from EPL offset 4: size 0 (variable records), count,
    // capture id, running total, lost, unique id, ts high, phy, version, reserved.
    frame_bytes epl = {0x06, 0xFF, hw_node, 163};
    frame_bytes header(18, 0);
    header[2] = dump_count;
    header[4] = uint8_t(dump_total);
    header[5] = uint8_t(dump_total >> 8);
    header[6] = uint8_t(dump_lost);
    header[7] = uint8_t(dump_lost >> 8);
    epl.insert(epl.end(), header.begin(), header.end());
    // dump_count records of a 60-byte frame each (padded to 4 bytes).
    for (int i = 0; i < dump_count; ++i) {
        frame_bytes record(8 + 60, 0);
        record[4] = 60;
        epl.insert(epl.end(), record.begin(), record.end());
    }
    return udp_asnd((192u << 24) | (168u << 16) | (100u << 8) | hw_node,
                    (192u << 24) | (168u << 16) | (100u << 8) | 0xFF, epl);
}

}  // namespace plk

namespace {
void record(void *context, uint64_t value, uint8_t severity, const char *text, uint64_t excess) {
    static_cast<scenario *>(context)->events.push_back({value, severity, text ? text : "", excess});
}
}  // namespace

scenario::scenario(uint8_t timemode) {
    if (flowlens_create(&instance_, record, this) != 0) instance_ = nullptr;
    flowlens_set_timemode(instance_, timemode);
    flowlens_start(instance_);
    time = SCENARIO_BASE_TIME;
}

scenario::~scenario() { flowlens_destroy(instance_); }

uint64_t scenario::feed(const frame_bytes &frame, uint64_t dt_ns, uint32_t flags, uint8_t port, int length) {
    uint64_t at = frame_number_ == 0 ? time : time + dt_ns;
    return feed_at(frame, at, flags, port, length);
}

uint64_t scenario::feed_at(const frame_bytes &frame, uint64_t time_ns, uint32_t flags, uint8_t port, int length) {
    keep_.push_back(frame);
    const frame_bytes &kept = keep_.back();
    time = time_ns;
    flowlens_packet_info packet{};
    packet.port = port;
    packet.frame_number = ++frame_number_;
    packet.time = time_ns;
    packet.packet_flags = flags;
    packet.data = kept.data();
    packet.captured_length = uint16_t(kept.size());
    packet.length = uint16_t(length < 0 ? kept.size() : size_t(length));
    flowlens_process_packet(instance_, &packet);
    return frame_number_;
}

int scenario::count(const std::string &needle) const {
    int n = 0;
    for (const recorded_event &e : events)
        if (e.text.find(needle) != std::string::npos) ++n;
    return n;
}

std::vector<recorded_event> scenario::of_frame(uint64_t frame_number) const {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "Powerlink: Packet #%07llu - ", static_cast<unsigned long long>(frame_number));
    std::vector<recorded_event> out;
    for (const recorded_event &e : events)
        if (e.text.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
}

int scenario::errors() const {
    int n = 0;
    for (const recorded_event &e : events)
        if (e.severity == 2) ++n;
    return n;
}

std::string scenario::dump() const {
    std::string s;
    for (const recorded_event &e : events) s += std::to_string(e.severity) + " " + e.text + "\n";
    return s;
}
