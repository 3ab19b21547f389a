#include "pcapng_file.h"

#include <cstring>
#include <vector>

namespace ta5521sim {
namespace {

constexpr uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescriptionType = 1;
constexpr uint32_t kEnhancedPacketType = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kLinkTypeEthernet = 1;
constexpr uint32_t kSnapLength = 65535;
constexpr uint16_t kOptionTsResolution = 9;
constexpr uint8_t kNanoseconds = 9;

void le32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void le16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void patchLength(std::vector<uint8_t>& block) {
  const uint32_t total = static_cast<uint32_t>(block.size() + 4);
  le32(block, total);
  for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(total >> (8 * i));
}

}  // namespace

PcapngFile::~PcapngFile() { close(); }

bool PcapngFile::put(const void* data, size_t length) {
  if (!file_ || std::fwrite(data, 1, length, file_) != length) failed_ = true;
  return !failed_;
}

bool PcapngFile::open(const char* path) {
  close();
  failed_ = false;
  file_ = std::fopen(path, "wb");
  if (!file_) return false;
  std::vector<uint8_t> shb;
  le32(shb, kSectionHeaderType);
  le32(shb, 0);
  le32(shb, kByteOrderMagic);
  le16(shb, 1);
  le16(shb, 0);
  le32(shb, 0xFFFFFFFF);  // section length not given
  le32(shb, 0xFFFFFFFF);
  patchLength(shb);
  std::vector<uint8_t> idb;
  le32(idb, kInterfaceDescriptionType);
  le32(idb, 0);
  le16(idb, kLinkTypeEthernet);
  le16(idb, 0);
  le32(idb, kSnapLength);
  le16(idb, kOptionTsResolution);
  le16(idb, 1);
  le32(idb, kNanoseconds);
  le32(idb, 0);  // end of options
  patchLength(idb);
  return put(shb.data(), shb.size()) && put(idb.data(), idb.size());
}

bool PcapngFile::writePacket(int64_t timeNs, const uint8_t* data, uint32_t length) {
  uint8_t head[28];
  const uint32_t padded = (length + 3) & ~3u;
  const uint32_t total = 28 + padded + 4;
  const uint64_t ts = static_cast<uint64_t>(timeNs);
  const uint32_t fields[7] = {kEnhancedPacketType, total, 0, static_cast<uint32_t>(ts >> 32),
                              static_cast<uint32_t>(ts), length, length};
  for (int f = 0; f < 7; ++f)
    for (int i = 0; i < 4; ++i) head[4 * f + i] = static_cast<uint8_t>(fields[f] >> (8 * i));
  static const uint8_t kZero[4] = {0, 0, 0, 0};
  uint8_t tail[4];
  for (int i = 0; i < 4; ++i) tail[i] = static_cast<uint8_t>(total >> (8 * i));
  return put(head, sizeof head) && put(data, length) && put(kZero, padded - length) && put(tail, 4);
}

bool PcapngFile::close() {
  if (!file_) return !failed_;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace ta5521sim
