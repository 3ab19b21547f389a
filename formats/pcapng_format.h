// The pcapng blocks this suite writes and reads: section header (SHB),
// interface description (IDB) and enhanced packet block (EPB), with the
// options it uses. One description for the capture engine's writer, the
// replay reader, the simulator and the tools and tests that lay pcapng out
// by hand.
//
// A block is: type (4), total length (4), body, total length again (4); its
// offsets below count from the block's first byte. Every block's body and
// every option value is padded with zero bytes to a multiple of 4. An option
// is code (2), value length (2), the value padded to 4; "end of options" is
// code 0, length 0. The suite writes little-endian sections only (the
// byte-order magic tells readers so).
#pragma once

#include <cstdint>

namespace pcapng {

// Block types.
constexpr uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescriptionType = 1;
constexpr uint32_t kObsoletePacketType = 2;
constexpr uint32_t kSimplePacketType = 3;
constexpr uint32_t kNameResolutionType = 4;
constexpr uint32_t kEnhancedPacketType = 6;

// Every block.
constexpr uint32_t kBlockTypeOffset = 0;
constexpr uint32_t kBlockLengthOffset = 4;
constexpr uint32_t kBlockBodyOffset = 8;
constexpr uint32_t kBlockHeaderLength = 8;   // type + total length
constexpr uint32_t kBlockTrailerLength = 4;  // total length again
constexpr uint32_t kMinimumBlockLength = kBlockHeaderLength + kBlockTrailerLength;

// Section header block.
constexpr uint32_t kByteOrderMagicOffset = 8;
constexpr uint32_t kMajorVersionOffset = 12;
constexpr uint32_t kMinorVersionOffset = 14;
constexpr uint32_t kSectionLengthOffset = 16;  // 64-bit
constexpr uint32_t kSectionHeaderOptionsOffset = 24;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kMajorVersion = 1;
constexpr uint16_t kMinorVersion = 0;
constexpr int64_t kSectionLengthUnknown = -1;
// Without options 28 bytes (trailer included); with only "end of options" 32.
constexpr uint32_t kSectionHeaderFixedLength = 28;
constexpr uint32_t kSectionHeaderLength = 32;

// Interface description block.
constexpr uint32_t kLinkTypeOffset = 8;  // 16-bit, then 16 reserved bits
constexpr uint32_t kSnapLengthOffset = 12;
constexpr uint32_t kInterfaceOptionsOffset = 16;
constexpr uint32_t kInterfaceDescriptionFixedLength = 20;  // without options, trailer included
constexpr uint16_t kLinkTypeEthernet = 1;
constexpr uint16_t kOptionIfName = 2;
constexpr uint16_t kOptionIfTsresol = 9;    // one byte
constexpr uint8_t kTsresolNanoseconds = 9;  // 10^-9 s

// Enhanced packet block.
constexpr uint32_t kEpbInterfaceIdOffset = 8;
constexpr uint32_t kEpbTimestampHighOffset = 12;
constexpr uint32_t kEpbTimestampLowOffset = 16;
constexpr uint32_t kEpbCapturedLengthOffset = 20;
constexpr uint32_t kEpbPacketLengthOffset = 24;
constexpr uint32_t kEpbDataOffset = 28;
constexpr uint32_t kEpbMinimumLength = kEpbDataOffset + kBlockTrailerLength;  // no data, no options
constexpr uint16_t kOptionEpbFlags = 2;                                       // 32-bit packet flags word
constexpr uint16_t kOptionEpbDropCount = 4;                                   // 64-bit

// Options.
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionComment = 1;
constexpr uint32_t kOptionHeaderLength = 4;  // code + value length

// Body and option values are padded to this.
constexpr uint32_t padToFour(uint32_t length) { return (length + 3u) & ~3u; }

// Bytes one option takes: its head and its padded value.
constexpr uint32_t optionLength(uint32_t valueLength) { return kOptionHeaderLength + padToFour(valueLength); }

// Total length of an enhanced packet block of `captured` data bytes followed
// by `optionBytes` of options (the end of options included, if any).
constexpr uint32_t enhancedPacketLength(uint32_t captured, uint32_t optionBytes) {
    return kEpbDataOffset + padToFour(captured) + optionBytes + kBlockTrailerLength;
}

}  // namespace pcapng
