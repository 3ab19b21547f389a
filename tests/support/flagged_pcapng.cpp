#include "flagged_pcapng.h"

#include <fstream>
#include <stdexcept>

#include "pcapng_format.h"

namespace flowlens_ws {

namespace {

constexpr uint32_t BLOCK_SHB = pcapng::kSectionHeaderType;
constexpr uint32_t BLOCK_IDB = pcapng::kInterfaceDescriptionType;
constexpr uint32_t BLOCK_EPB = pcapng::kEnhancedPacketType;
constexpr uint32_t BYTE_ORDER_MAGIC = pcapng::kByteOrderMagic;
constexpr uint16_t LINKTYPE_ETHERNET = pcapng::kLinkTypeEthernet;
constexpr uint16_t OPT_END = pcapng::kOptionEnd;
constexpr uint16_t OPT_IF_TSRESOL = pcapng::kOptionIfTsresol;
constexpr uint16_t OPT_EPB_FLAGS = pcapng::kOptionEpbFlags;

void u16(std::vector<uint8_t> &b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void u32(std::vector<uint8_t> &b, uint32_t v) {
    u16(b, uint16_t(v));
    u16(b, uint16_t(v >> 16));
}

// Type, total length, body (padded to 4), total length.
std::vector<uint8_t> block(uint32_t type, std::vector<uint8_t> body) {
    while (body.size() % 4) body.push_back(0);
    std::vector<uint8_t> b;
    const uint32_t total = uint32_t(body.size() + 12);
    u32(b, type);
    u32(b, total);
    b.insert(b.end(), body.begin(), body.end());
    u32(b, total);
    return b;
}

}  // namespace

void write_flagged_pcapng(const std::string &path, const std::vector<flagged_frame> &frames) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw std::runtime_error("cannot write " + path);
    auto put = [&](const std::vector<uint8_t> &b) { out.write(reinterpret_cast<const char *>(b.data()), b.size()); };

    std::vector<uint8_t> shb;
    u32(shb, BYTE_ORDER_MAGIC);
    u16(shb, 1);
    u16(shb, 0);
    u32(shb, 0xFFFFFFFF);  // section length unknown
    u32(shb, 0xFFFFFFFF);
    put(block(BLOCK_SHB, shb));

    std::vector<uint8_t> idb;
    u16(idb, LINKTYPE_ETHERNET);
    u16(idb, 0);
    u32(idb, 0);  // no snap length
    u16(idb, OPT_IF_TSRESOL);
    u16(idb, 1);
    idb.insert(idb.end(), {9, 0, 0, 0});  // nanoseconds
    u16(idb, OPT_END);
    u16(idb, 0);
    put(block(BLOCK_IDB, idb));

    for (const flagged_frame &f : frames) {
        std::vector<uint8_t> epb;
        u32(epb, 0);
        u32(epb, uint32_t(f.time_ns >> 32));
        u32(epb, uint32_t(f.time_ns));
        u32(epb, uint32_t(f.bytes.size()));
        u32(epb, uint32_t(f.bytes.size()));
        epb.insert(epb.end(), f.bytes.begin(), f.bytes.end());
        while (epb.size() % 4) epb.push_back(0);
        if (f.has_flags) {
            u16(epb, OPT_EPB_FLAGS);
            u16(epb, 4);
            u32(epb, f.flags);
            u16(epb, OPT_END);
            u16(epb, 0);
        }
        put(block(BLOCK_EPB, epb));
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

void append_fcs(std::vector<uint8_t> &bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(crc >> (8 * i)));
}

}  // namespace flowlens_ws
