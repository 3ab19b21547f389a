// Wire layouts of the three analyzer report formats that arrive as POWERLINK
// ASnd frames (service 161/164 Lanyx, 163 Q40TA5521 dump, 165 Lanyx+), and
// the arithmetic the dissectors do on them. Nothing here knows Wireshark, so
// the rules can be tested alone; the dissectors only add items and texts.
//
// Every offset here counts from the first byte behind the ASnd service
// identifier, which is where Wireshark's POWERLINK dissector starts the buffer
// it hands on. (The dump format counts from the frame start; its
// payloadOffset() gives the same buffer offsets.)
#pragma once

#include <cstddef>
#include <cstdint>

#include "dump_format.h"

namespace lyk {

// Lanyx link analyzer report. Status word big-endian, the rest little-endian.
constexpr int kStatusOffset = 0;
constexpr int kFrameCntOffset = 2;
constexpr int kLocalIosOffset = 3;
constexpr int kStartTimeOffset = 4;
constexpr int kStopTimeOffset = 8;
constexpr int kLengthWordOffset = 12;
constexpr int kCycleCntOffset = 14;
constexpr int kDataOffset = 16;
constexpr int kCrc32Length = 4;

constexpr uint16_t kStatusDirectionIn = 0x8000;
constexpr uint16_t kStatusCrcError = 0x0200;
constexpr uint16_t kStatusSyncError = 0x0100;
constexpr uint16_t kLengthSyncFrame = 0x8000;
constexpr uint16_t kLengthMask = 0x1FFF;

// The analyzer's byte accounting credits each report with its captured
// length plus 46 bytes, kept in 16 bits like its own counters.
constexpr uint32_t kCreditedOverhead = 46;

enum class FrameKind { SyncOut, SyncIn, AsyncOut, AsyncIn };

FrameKind frame_kind(uint16_t status, uint16_t length_word);
const char *kind_abbreviation(FrameKind kind);  // "SO", "SI", "AO", "AI"
const char *kind_name(FrameKind kind);          // "Sync Frame Out", ...

inline uint16_t frame_length(uint16_t length_word) { return length_word & kLengthMask; }
inline uint16_t credited_bytes(uint32_t captured) { return static_cast<uint16_t>(captured + kCreditedOverhead); }

// Duration in microseconds from 20 ns ticks, rounded, minus one: the
// analyzer's stop stamp lies one microsecond behind the frame's end. Done in
// unsigned 32-bit arithmetic so a wrapped counter still gives the right span.
int32_t frame_duration_us(uint32_t start_ticks, uint32_t stop_ticks);

}  // namespace lyk

// The Q40TA5521 dump (service 163) is described once, for the capture engine
// and this plug-in alike, in dump_format.h (namespace dumpframe).

namespace lanyxplus {

// Lanyx+ analyzer report, all words big-endian.
constexpr int kFlagsOffset = 0;
constexpr int kTransferTimeOffset = 4;
constexpr int kHeaderOffset = 14;
constexpr int kMgmtInfoOffset = 17;  // low byte of the header word
constexpr int kPayloadOffset = 18;
constexpr int kMinimumLength = 18;

constexpr uint32_t kFlagPostTrigger = 0x80000000;
constexpr uint32_t kFlagTrigger = 0x40000000;
constexpr uint32_t kFlagFilter = 0x02000000;
constexpr uint32_t kFlagDrop = 0x01000000;
constexpr uint32_t kFlagLineIndex = 0x00F00000;
constexpr uint32_t kFlagFrameType = 0x00030000;
constexpr uint32_t kFlagPackageLength = 0x0000FFFF;
// The package length counts 12 bytes of analyzer framing around the frame.
constexpr int kPackageFraming = 12;

constexpr uint32_t kHeaderDestination = 0xFFF00000;
constexpr uint32_t kHeaderSource = 0x000FFF00;
constexpr uint32_t kHeaderPort = 0x000000FF;

constexpr uint8_t kMgmtLink = 0x80;
constexpr uint8_t kMgmtPause = 0x40;
constexpr uint8_t kMgmtService = 0x03;
constexpr uint8_t kMgmtCycle = 0x3F;

// Command interface in the first 4 payload bytes of a data frame.
constexpr int kCmdAckPortOffset = 18;
constexpr int kCmdTypeOffset = 19;
constexpr int kCmdCommandOffset = 20;
constexpr int kCmdInfoOffset = 21;
constexpr int kCmdPayloadOffset = 22;
constexpr int kCmdHeaderLength = 4;
// Only ports without any of the bits 0, 1, 4-7 (0, 4, 8, 12) carry it.
constexpr uint8_t kCmdPortMask = 0xF3;

enum FrameType : uint32_t { Data = 0, Pause = 1, Management = 2, Reserved = 3 };

inline FrameType frame_type(uint32_t flags) { return static_cast<FrameType>((flags & kFlagFrameType) >> 16); }
inline uint32_t destination(uint32_t header) { return (header & kHeaderDestination) >> 20; }
inline uint32_t source(uint32_t header) { return (header & kHeaderSource) >> 8; }
inline uint32_t port(uint32_t header) { return header & kHeaderPort; }
inline bool has_command_interface(uint32_t port_value) { return (port_value & kCmdPortMask) == 0; }
inline int resulting_frame_size(uint32_t flags) {
    return static_cast<int>(flags & kFlagPackageLength) - kPackageFraming;
}

const char *protocol_column(FrameType type);  // "Lanyx+Data", ..., "Unknown"
const char *subtree_label(FrameType type);    // "Data Frame", ..., "Unknown"

// "PUBLIC", "TIMING", "UPDATE", else "Unknown".
const char *command_type_text(uint8_t type);
// Command of a known type, else "Unknown"; a type without a command table
// (above 2) has no known commands either.
const char *command_text(uint8_t type, uint8_t command);

}  // namespace lanyxplus
