// The pcapng stream handed to Wireshark: one section, one Ethernet interface
// with nanosecond timestamps, one enhanced packet block per captured frame
// with the packet flags word (epb_flags) and the drop count (epb_dropcount).
// Each block is built in one buffer and written with one write.
#pragma once

#include <cstdint>

#include "capture_context.h"

struct ControlChannel;
struct FileHandle;
struct PacketRecord;

namespace pcapng {
constexpr uint32_t kBlockBufferBytes = 2048;

constexpr uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kMajorVersion = 1;
constexpr uint16_t kMinorVersion = 0;
constexpr int64_t kSectionLengthUnknown = -1;
constexpr uint32_t kSectionHeaderLength = 32;

constexpr uint32_t kInterfaceDescriptionType = 1;
constexpr uint16_t kLinkTypeEthernet = 1;
constexpr uint32_t kSnapLength = 65535;
constexpr uint16_t kOptionIfName = 2;
constexpr uint16_t kOptionIfTsresol = 9;
constexpr uint8_t kTsresolNanoseconds = 9;  // 10^-9 s

constexpr uint32_t kEnhancedPacketType = 6;
constexpr uint32_t kEnhancedPacketFixedLength = 56;  // without the padded data
constexpr uint16_t kOptionEpbFlags = 2;
constexpr uint16_t kOptionEpbDropCount = 4;

constexpr uint16_t kOptionEnd = 0;
constexpr uint32_t kOptionHeaderLength = 4;
constexpr uint32_t kBlockHeaderLength = 8;   // type + total length
constexpr uint32_t kBlockTrailerLength = 4;  // total length again
}  // namespace pcapng

// The interface name every stream carries.
constexpr const char* kPcapngInterfaceName = "Q40TA5521";

struct PcapngWriter {
  char path[kPathChars];
  bool open;
  ControlChannel* control;  // held for messages of the owner
  FileHandle* file;
  uint32_t bytesWritten;
  uint8_t block[pcapng::kBlockBufferBytes];
};

// Opens `path` for writing (created or truncated; an existing FIFO is opened
// at its client end); none on failure.
PcapngWriter* pcapngWriterCreate(const char* path, ControlChannel* control);

// Section header and interface description, only while nothing has been
// written yet. 0, or -1 when a block cannot be built or written.
int pcapngWriteHeader(PcapngWriter* writer, const char* interfaceName);

// One enhanced packet block from the record. 0, or -1 when the block does
// not fit the block buffer or the write fails.
int pcapngWritePacket(PcapngWriter* writer, const PacketRecord* record);

// Closes the file and frees the writer; none is ignored.
void pcapngWriterClose(PcapngWriter* writer);
