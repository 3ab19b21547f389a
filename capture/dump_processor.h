// Dump processing: turns each accepted dump frame into packet records of the
// capture buffer. It guards the stream (one analyzer capture, no duplicates,
// loss accounting), rebuilds each frame's 64-bit timestamp from the
// analyzer's split counter, drops frames of disabled ports, sets the packet
// flags word, reports receive errors and digital-input edges, runs the
// trigger test and decides when a triggered capture is complete.
//
// Runs on the capture thread only.
#pragma once

#include <cstdint>

#include "capture_context.h"

struct CaptureBuffer;
struct MessageSink;
struct PacketRecord;

// The per-packet flags word, written as the pcapng epb_flags option. It
// follows epb_flags where that has a meaning (direction in bits 0-1,
// link-layer errors in bits 24-31) and uses the free bits for our own.
namespace packetflags {
constexpr uint32_t kDirectionInbound = 1;   // port 01
constexpr uint32_t kDirectionOutbound = 2;  // port 02
constexpr uint32_t kDirectionMask = 3;
constexpr unsigned kPhyInfoShift = 9;  // low 5 bits of the dump's PHY info
constexpr uint32_t kPhyInfoMask = 0x1F;
constexpr unsigned kFirstDigitalInputBit = 16;  // DI1..DI4 high in bits 16..19
constexpr uint32_t kFrameCut = 1u << 20;
constexpr uint32_t kTriggerPacket = 1u << 21;
constexpr uint32_t kFramesLost = 1u << 22;
constexpr uint32_t kCrcError = 1u << 24;
constexpr uint32_t kOversizeError = 1u << 25;
constexpr uint32_t kShortFrame = 1u << 26;
constexpr uint32_t kAlignmentError = 1u << 28;
constexpr uint32_t kPreambleError = 1u << 30;
constexpr uint32_t kNoiseError = 1u << 31;
constexpr uint16_t kMinimumFrameLength = 64;
}  // namespace packetflags

// Results of processDump beyond 0 (go on) and -1 (malformed or fatal: stop).
constexpr int kDumpTraceComplete = 256;  // post-trigger time passed: write the trace

constexpr int kTriggerTextChars = 128;        // 127 characters + terminator
constexpr uint32_t kMaxRecordsPerDump = 255;  // the dump header counts records in one byte

struct PortTimeState {
    bool firstInDump;      // no record of this port yet in the current dump
    uint32_t firstLow;     // low stamp of the port's first record in this dump
    uint16_t wrap;         // 1 once the low stamp wrapped within this dump
    uint32_t high;         // from the dump's high part, corrected by +-1
    uint32_t previousLow;  // low stamp of the port's previous record
};

struct DumpProcessor {
    const TriggerSettings *settings;
    uint32_t captureMode;  // CaptureMode
    CaptureBuffer *buffer;
    MessageSink *sink;  // may be null: messages are then dropped

    bool triggered;  // never cleared
    int64_t triggerTime;
    uint64_t triggerPacketNumber;
    char triggerText[kTriggerTextChars];

    PortTimeState ports[2];  // port 01, port 02
    bool haveTimeBase;
    int64_t timeBase;   // analyzer time of the first record ever, ns
    int64_t startTime;  // wall clock at the first dump frame, ns; 0 = not yet

    uint64_t dumpsProcessed;
    uint64_t packetCount;  // records of enabled ports: the "Packet #" number
    int64_t lastStoredTime;
    uint16_t lockedUniqueId;
    uint16_t lastDumpTotal;
    uint16_t expectedDumpTotal;
    uint32_t previousDi[4];  // DI1..DI4 of the previous stored packet
    uint32_t lossEvents;
    uint32_t lossEventsAtLastStored;

    // Slots of the dump in hand: taken from the free list together when the
    // dump starts, filled in record order, and the filled ones inserted into
    // the presort list together when the dump ends (the rest go back), so a
    // dump costs the buffer's lock a few times instead of twice per record.
    PacketRecord *slots[kMaxRecordsPerDump];
    uint32_t slotsTaken;
    uint32_t slotsFilled;

    // Wall-clock seconds; read once, at the first dump frame.
    int64_t (*wallClockSeconds)();
};

// Creates a processor with nothing locked and no start time; none without
// settings or buffer.
DumpProcessor *dumpProcessorCreate(const TriggerSettings *settings, uint32_t captureMode, CaptureBuffer *buffer,
                                   MessageSink *sink);
void dumpProcessorFree(DumpProcessor *processor);

// 0: consumed, go on; -1: malformed frame or fatal condition, stop;
// kDumpTraceComplete: the post-trigger time has passed, stop and write.
int processDump(DumpProcessor *processor, const uint8_t *frame, uint32_t length);

// The trigger test for one stored packet with its record flags; answers
// whether it fired (and then notes trigger time, packet number and text).
bool evaluateTrigger(DumpProcessor *processor, uint16_t recordFlags);
