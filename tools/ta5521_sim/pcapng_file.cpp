#include "pcapng_file.h"

#include <cstring>
#include <vector>

#include "pcapng_format.h"

namespace ta5521sim {
namespace {

using namespace pcapng;

constexpr uint32_t kSnapLength = 65535;

void le32(std::vector<uint8_t> &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void le16(std::vector<uint8_t> &out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void patchLength(std::vector<uint8_t> &block) {
    const uint32_t total = static_cast<uint32_t>(block.size() + 4);
    le32(block, total);
    for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(total >> (8 * i));
}

}  // namespace

PcapngFile::~PcapngFile() { close(); }

bool PcapngFile::put(const void *data, size_t length) {
    if (!file_ || std::fwrite(data, 1, length, file_) != length) failed_ = true;
    return !failed_;
}

bool PcapngFile::open(const char *path) {
    close();
    failed_ = false;
    file_ = std::fopen(path, "wb");
    if (!file_) return false;
    std::vector<uint8_t> shb;
    le32(shb, kSectionHeaderType);
    le32(shb, 0);
    le32(shb, kByteOrderMagic);
    le16(shb, kMajorVersion);
    le16(shb, kMinorVersion);
    le32(shb, static_cast<uint32_t>(kSectionLengthUnknown));  // section length not given
    le32(shb, static_cast<uint32_t>(static_cast<uint64_t>(kSectionLengthUnknown) >> 32));
    patchLength(shb);
    std::vector<uint8_t> idb;
    le32(idb, kInterfaceDescriptionType);
    le32(idb, 0);
    le16(idb, kLinkTypeEthernet);
    le16(idb, 0);
    le32(idb, kSnapLength);
    le16(idb, kOptionIfTsresol);
    le16(idb, 1);
    le32(idb, kTsresolNanoseconds);  // the value, padded
    le16(idb, kOptionEnd);
    le16(idb, 0);
    patchLength(idb);
    return put(shb.data(), shb.size()) && put(idb.data(), idb.size());
}

bool PcapngFile::writePacket(int64_t timeNs, const uint8_t *data, uint32_t length) {
    uint8_t head[kEpbDataOffset];
    const uint32_t padded = padToFour(length);
    const uint32_t total = enhancedPacketLength(length, 0);  // no options
    const uint64_t ts = static_cast<uint64_t>(timeNs);
    const uint32_t fields[kEpbDataOffset / 4] = {
        kEnhancedPacketType, total, 0, static_cast<uint32_t>(ts >> 32), static_cast<uint32_t>(ts), length, length};
    for (uint32_t f = 0; f < kEpbDataOffset / 4; ++f)
        for (int i = 0; i < 4; ++i) head[4 * f + i] = static_cast<uint8_t>(fields[f] >> (8 * i));
    static const uint8_t kZero[4] = {0, 0, 0, 0};
    uint8_t tail[4];
    for (int i = 0; i < 4; ++i) tail[i] = static_cast<uint8_t>(total >> (8 * i));
    return put(head, sizeof head) && put(data, length) && put(kZero, padded - length) && put(tail, sizeof tail);
}

bool PcapngFile::close() {
    if (!file_) return !failed_;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace ta5521sim
