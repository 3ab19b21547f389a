#include "analyzer_frame_builder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "pcapng_format.h"

namespace zelbuild {

namespace {

void put_le16(Bytes &b, uint16_t v) {
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}
void put_le32(Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
void put_be16(Bytes &b, uint16_t v) {
    b.push_back(v >> 8);
    b.push_back(v & 0xFF);
}
void put_be32(Bytes &b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back((v >> (8 * i)) & 0xFF);
}
void append(Bytes &b, const Bytes &more) { b.insert(b.end(), more.begin(), more.end()); }

// POWERLINK ASnd header: message type, destination, source, service id.
constexpr uint8_t kEplAsnd = 0x06;
constexpr uint8_t kEplBroadcast = 0xFF;
constexpr uint8_t kEplAnalyzerNode = 0xF0;
constexpr uint16_t kEtherTypeEpl = 0x88AB;
constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEplUdpPort = 3819;
// Zelmar's locally administered prefix 02:D7:A5.
const uint8_t kSourceMac[6] = {0x02, 0xD7, 0xA5, 0x00, 0x00, 0x01};
const uint8_t kEplMulticast[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x01};

Bytes ethernet_header(uint16_t ether_type) {
    Bytes b(kEplMulticast, kEplMulticast + 6);
    b.insert(b.end(), kSourceMac, kSourceMac + 6);
    put_be16(b, ether_type);
    return b;
}

Bytes asnd_header(uint8_t service_id) { return {kEplAsnd, kEplBroadcast, kEplAnalyzerNode, service_id}; }

uint16_t ipv4_checksum(const uint8_t *header) {
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) sum += (header[i] << 8) | header[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

}  // namespace

Bytes lanyx_payload(const LanyxReport &r) {
    Bytes b;
    put_be16(b, r.status);
    b.push_back(r.frame_counter);
    b.push_back(r.local_ios);
    put_le32(b, r.start_ticks);
    put_le32(b, r.stop_ticks);
    put_le16(b, r.length_word);
    put_le16(b, r.cycle_counter);
    append(b, r.data);
    return b;
}

Bytes packed_payload(const PackedDump &d) {
    Bytes b;
    put_le16(b, d.dump_size);
    b.push_back(d.dump_count);
    b.push_back(d.capture_id);
    put_le16(b, d.dump_total);
    put_le16(b, d.dump_lost);
    put_le16(b, d.unique_id);
    put_le32(b, d.ts_high);
    b.push_back(d.phy_info);
    b.push_back(d.protocol_version);
    put_le16(b, d.reserved);
    for (const PackedSubframe &s : d.subframes) {
        const size_t start = b.size();
        put_le32(b, s.timestamp);
        put_le16(b, s.size);
        put_le16(b, s.flags);
        append(b, s.data);
        while ((b.size() - start) % 4) b.push_back(0);  // each subframe spans a multiple of 4 bytes
    }
    return b;
}

uint32_t lanyxplus_header(uint32_t destination, uint32_t source, uint32_t port) {
    return (destination & 0xFFF) << 20 | (source & 0xFFF) << 8 | (port & 0xFF);
}

Bytes lanyxplus_payload(const LanyxPlusReport &r) {
    Bytes b;
    put_be32(b, r.flags);
    put_be32(b, r.transfer_time);
    b.insert(b.end(), 6, 0);  // not decoded
    put_be32(b, r.header);
    append(b, r.payload);
    return b;
}

uint8_t crc8_0x2f(const uint8_t *data, size_t length) {
    uint8_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0x2F) : crc << 1;
    }
    return crc;
}

Bytes opensafety_frame(uint8_t message_id, uint16_t address, uint8_t counter, const Bytes &data) {
    // Sub-frame 1: address (10 bits, high bits under the message id), id,
    // length, counter, data, CRC8. Sub-frame 2 repeats it with the address
    // and the counter's high byte folded in, and its own CRC8.
    Bytes f1 = {static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(message_id | ((address >> 8) & 0x03)),
                static_cast<uint8_t>(data.size()), counter};
    append(f1, data);
    f1.push_back(crc8_0x2f(f1.data(), f1.size()));
    Bytes f2 = {static_cast<uint8_t>((address & 0xFF) ^ 0x01), f1[1], 0x00, 0x00, 0x00};
    append(f2, data);
    f2.push_back(crc8_0x2f(f2.data(), f2.size()));
    append(f1, f2);
    return f1;
}

Bytes epl_asnd_frame(uint8_t service_id, const Bytes &payload) {
    Bytes b = ethernet_header(kEtherTypeEpl);
    append(b, asnd_header(service_id));
    append(b, payload);
    return b;
}

Bytes epl_asnd_udp_frame(uint8_t service_id, const Bytes &payload, uint8_t analyzer_node) {
    Bytes epl = asnd_header(service_id);
    append(epl, payload);
    const uint16_t udp_length = static_cast<uint16_t>(8 + epl.size());
    Bytes b = ethernet_header(kEtherTypeIpv4);
    const size_t ip_start = b.size();
    b.push_back(0x45);
    b.push_back(0);
    put_be16(b, static_cast<uint16_t>(20 + udp_length));
    put_be16(b, 0);       // identification
    put_be16(b, 0x4000);  // don't fragment
    b.push_back(64);
    b.push_back(17);  // UDP
    put_be16(b, 0);   // checksum, filled below
    const uint8_t addresses[8] = {192, 168, 100, analyzer_node, 192, 168, 100, 255};
    b.insert(b.end(), addresses, addresses + 8);
    const uint16_t sum = ipv4_checksum(&b[ip_start]);
    b[ip_start + 10] = sum >> 8;
    b[ip_start + 11] = sum & 0xFF;
    put_be16(b, kEplUdpPort);
    put_be16(b, kEplUdpPort);
    put_be16(b, udp_length);
    put_be16(b, 0);  // no UDP checksum
    append(b, epl);
    return b;
}

void write_pcapng(const std::string &path, const std::vector<Packet> &packets) {
    Bytes file;
    using namespace pcapng;
    // Section header block.
    put_le32(file, kSectionHeaderType);
    put_le32(file, kSectionHeaderFixedLength);
    put_le32(file, kByteOrderMagic);
    put_le16(file, kMajorVersion);
    put_le16(file, kMinorVersion);
    put_le32(file, 0xFFFFFFFF);  // section length unknown
    put_le32(file, 0xFFFFFFFF);
    put_le32(file, kSectionHeaderFixedLength);
    // Interface description block: Ethernet, nanosecond timestamps.
    constexpr uint32_t idb_length = kInterfaceDescriptionFixedLength + optionLength(1) + kOptionHeaderLength;
    put_le32(file, kInterfaceDescriptionType);
    put_le32(file, idb_length);
    put_le16(file, kLinkTypeEthernet);
    put_le16(file, 0);
    put_le32(file, 0);  // no snap length
    put_le16(file, kOptionIfTsresol);
    put_le16(file, 1);
    file.push_back(kTsresolNanoseconds);
    file.insert(file.end(), 3, 0);
    put_le16(file, kOptionEnd);
    put_le16(file, 0);
    put_le32(file, idb_length);
    for (const Packet &p : packets) {
        const uint32_t padded = padToFour(static_cast<uint32_t>(p.data.size()));
        const uint32_t block_length = enhancedPacketLength(static_cast<uint32_t>(p.data.size()), 0);
        put_le32(file, kEnhancedPacketType);
        put_le32(file, block_length);
        put_le32(file, 0);
        put_le32(file, static_cast<uint32_t>(p.timestamp_ns >> 32));
        put_le32(file, static_cast<uint32_t>(p.timestamp_ns));
        put_le32(file, static_cast<uint32_t>(p.data.size()));
        put_le32(file, static_cast<uint32_t>(p.data.size()));
        append(file, p.data);
        file.insert(file.end(), padded - p.data.size(), 0);
        put_le32(file, block_length);
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<Packet> read_pcap(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto le32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, &file[at], 4);
        return v;
    };
    if (file.size() < 24) throw std::runtime_error("short pcap " + path);
    const uint32_t magic = le32(0);
    uint64_t fraction_ns;
    if (magic == 0xA1B2C3D4)
        fraction_ns = 1000;
    else if (magic == 0xA1B23C4D)
        fraction_ns = 1;
    else
        throw std::runtime_error("not a little-endian pcap file: " + path);
    std::vector<Packet> packets;
    size_t at = 24;
    while (at + 16 <= file.size()) {
        const uint32_t captured = le32(at + 8);
        if (at + 16 + captured > file.size()) break;
        Packet p;
        p.timestamp_ns = uint64_t(le32(at)) * 1000000000ull + uint64_t(le32(at + 4)) * fraction_ns;
        p.data.assign(file.begin() + at + 16, file.begin() + at + 16 + captured);
        packets.push_back(std::move(p));
        at += 16 + captured;
    }
    return packets;
}

std::vector<Packet> pack_into_dumps(const std::vector<Packet> &frames, size_t per_dump) {
    std::vector<Packet> dumps;
    uint16_t dump_total = 0;
    for (size_t first = 0; first < frames.size(); first += per_dump) {
        PackedDump dump;
        dump.unique_id = 0x5A45;
        dump.dump_total = dump_total;
        const uint64_t ticks0 = frames[first].timestamp_ns / 20;
        dump.ts_high = static_cast<uint32_t>(ticks0 >> 32);
        for (size_t i = first; i < frames.size() && i < first + per_dump; ++i) {
            PackedSubframe s;
            s.timestamp = static_cast<uint32_t>(frames[i].timestamp_ns / 20);
            s.size = static_cast<uint16_t>(frames[i].data.size());
            s.flags = static_cast<uint16_t>(i & 1);  // alternate ports 01 and 02
            s.data = frames[i].data;
            dump.subframes.push_back(std::move(s));
        }
        dump.dump_count = static_cast<uint8_t>(dump.subframes.size());
        dump_total = static_cast<uint16_t>(dump_total + dump.dump_count);
        Packet p;
        p.timestamp_ns = frames[first].timestamp_ns;
        p.data = epl_asnd_udp_frame(0xA3, packed_payload(dump));
        dumps.push_back(std::move(p));
    }
    return dumps;
}

}  // namespace zelbuild
