// The Q40TA5521 dump frame: an Ethernet/IPv4/UDP datagram on port 3819 that
// carries a POWERLINK ASnd message (service 163) with a dump header and a run
// of records, one per frame the analyzer captured on its two ports.
//
// This is the one description of the format. The capture engine reads it
// (capture/dump_frame.h), the simulator writes it, and the plug-in's
// packed-frame dissector shows it; the dissector's texts call a record a
// "subframe", the code calls it a record everywhere.
//
// One base for every offset: the first byte of the Ethernet frame (no FCS).
// Record fields are the exception: they count from the record's own head.
// Wireshark's POWERLINK dissector hands the dissector a buffer that starts at
// the dump header, kHeaderOffset bytes into the frame; payloadOffset()
// converts a frame offset to that buffer.
//
// The dump header and the records are little-endian; the protocol headers in
// front of them are in network byte order.
#pragma once

#include <cstdint>

namespace dumpframe {

// Framing in front of the dump header. The IPv4 header is taken to be exactly
// 20 bytes, so every later field sits at a fixed offset.
constexpr uint32_t kEtherTypeOffset = 12;      // 16-bit, network order
constexpr uint32_t kIpSourceLastOctet = 29;    // the analyzer's HW node number
constexpr uint32_t kUdpSourcePortOffset = 34;  // 16-bit, network order
constexpr uint32_t kUdpDestPortOffset = 36;    // 16-bit, network order
constexpr uint32_t kPlkMessageTypeOffset = 42;
constexpr uint32_t kPlkDestinationOffset = 43;
constexpr uint32_t kPlkSourceOffset = 44;
constexpr uint32_t kAsndServiceOffset = 45;
constexpr uint32_t kMinimumFrameLength = 46;  // through the ASnd service id

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kUdpPort = 3819;
constexpr uint8_t kPlkMessageTypeAsnd = 0x06;
constexpr uint8_t kPlkBroadcastNode = 0xFF;
constexpr uint8_t kAsndServiceDump = 0xA3;  // 163

// Dump header, 18 bytes from the start of the ASnd payload.
constexpr uint32_t kHeaderOffset = 46;
constexpr uint32_t kDumpSizeOffset = 46;         // 16-bit: 0 = variable record length
constexpr uint32_t kDumpCountOffset = 48;        // 8-bit: records in this dump
constexpr uint32_t kCaptureIdOffset = 49;        // 8-bit
constexpr uint32_t kDumpTotalOffset = 50;        // 16-bit: running number of the first record
constexpr uint32_t kDumpLostOffset = 52;         // 16-bit: frames the analyzer failed to dump
constexpr uint32_t kUniqueIdOffset = 54;         // 16-bit: one analyzer capture
constexpr uint32_t kTsHighOffset = 56;           // 32-bit: upper half of the tick counter
constexpr uint32_t kPhyInfoOffset = 60;          // 8-bit
constexpr uint32_t kProtocolVersionOffset = 61;  // 8-bit: only 0 is understood
constexpr uint32_t kReservedOffset = 62;         // 16-bit
constexpr uint32_t kHeaderLength = 18;
constexpr uint32_t kFirstRecordOffset = 64;
constexpr uint8_t kProtocolVersion = 0;

// Offset of a frame offset at or behind the dump header inside the ASnd
// payload, the buffer the dissector is handed.
constexpr uint32_t payloadOffset(uint32_t frameOffset) { return frameOffset - kHeaderOffset; }

// Record head, 8 bytes, then the captured frame.
constexpr uint32_t kRecordTimestampOffset = 0;  // 32-bit: lower half of the tick counter
constexpr uint32_t kRecordSizeOffset = 4;       // 16-bit: frame length on the wire
constexpr uint32_t kRecordFlagsOffset = 6;      // 16-bit: port, errors, digital inputs
constexpr uint32_t kRecordHeadLength = 8;
constexpr uint32_t kRecordAlignment = 4;

// Record flag bits.
constexpr uint16_t kRecordPortBit = 1u << 0;  // 0 = port 01, 1 = port 02
constexpr uint16_t kRecordAlignmentError = 1u << 4;
constexpr uint16_t kRecordCrcError = 1u << 8;
constexpr uint16_t kRecordOversizeError = 1u << 9;
constexpr uint16_t kRecordPreambleError = 1u << 10;
constexpr uint16_t kRecordNoiseError = 1u << 11;
constexpr unsigned kRecordFirstDigitalInputBit = 12;  // DI1..DI4 in bits 12..15
constexpr unsigned kDigitalInputCount = 4;

// The analyzer's clock: 50 MHz.
constexpr uint64_t kNanosecondsPerTick = 20;

constexpr uint32_t roundUpToRecordAlignment(uint32_t value) {
    return (value + kRecordAlignment - 1) & ~(kRecordAlignment - 1);
}

// A fixed record size (dump size != 0) is read two ways: the capture engine
// counts the 8-byte head into it, the packed-frame dissector does not. Both
// agree for variable-length records (dump size 0), which hold their own size
// and stay 4-byte aligned.
enum class DumpSizeReading { kCaptureEngine, kDissector };

// Data bytes the record holds, from the dump size and its own size field.
constexpr uint32_t recordCapacity(uint16_t dumpSize, uint16_t sizeField, DumpSizeReading reading) {
    if (dumpSize == 0) return sizeField;
    if (reading == DumpSizeReading::kDissector) return dumpSize;
    return dumpSize > kRecordHeadLength ? dumpSize - kRecordHeadLength : 0;
}

// Bytes from the record's head to the next record's head.
constexpr uint32_t recordSpan(uint16_t dumpSize, uint16_t sizeField, DumpSizeReading reading) {
    if (dumpSize != 0 && reading == DumpSizeReading::kCaptureEngine) return dumpSize;
    return roundUpToRecordAlignment(kRecordHeadLength + recordCapacity(dumpSize, sizeField, reading));
}

// Field access in the byte order the format gives each field.
inline uint16_t readLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t readLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t readBe16(const uint8_t *p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace dumpframe
