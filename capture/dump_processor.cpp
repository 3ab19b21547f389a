#include "dump_processor.h"

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "capture_buffer.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "message_sink.h"

using namespace dumpframe;

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr uint32_t kHalfCounterRange = 0x7FFFFFFF;

int64_t systemWallClockSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

void logLine(DumpProcessor *processor, int level, const char *text) {
    if (processor->sink != nullptr) processor->sink->log(level, text);
}

void statusLine(DumpProcessor *processor, int kind, const char *text) {
    if (processor->sink != nullptr) processor->sink->status(kind, text);
}

// Formats into the caller's message buffer; texts are cut at 511 characters.
template <typename... Args>
const char *compose(char (&message)[kMessageChars], const char *format, Args... args) {
    std::snprintf(message, sizeof message, format, args...);
    return message;
}

int64_t asPacketNumber(uint64_t count) { return static_cast<int64_t>(count); }

bool portEnabled(const DumpProcessor *processor, unsigned port) {
    return (port == 0 ? processor->settings->port01Enabled : processor->settings->port02Enabled) != 0;
}

uint32_t digitalInputLevel(uint16_t recordFlags, unsigned input) {
    return (recordFlags >> (kRecordFirstDigitalInputBit + input)) & 1u;
}

// Rebuilds the analyzer time of a record of `port` with low stamp `low` and
// answers it relative to the first record ever.
int64_t relativeTime(DumpProcessor *processor, unsigned port, uint32_t low) {
    PortTimeState &own = processor->ports[port];
    const PortTimeState &other = processor->ports[port ^ 1u];
    if (own.firstInDump) {
        // The dump's high part belongs to its first record. When the other port
        // already had a record and the two low stamps lie more than half the
        // counter apart, the low counter wrapped between them.
        if (!other.firstInDump) {
            const uint32_t otherLow = other.firstLow;
            if (low < otherLow && otherLow - low > kHalfCounterRange) {
                own.high += 1;
            } else if (low >= otherLow && low - otherLow > kHalfCounterRange) {
                own.high -= 1;
            }
        }
        own.firstLow = low;
    } else if (low < own.previousLow) {
        own.wrap = 1;
    }
    const uint32_t high = own.wrap + own.high;
    own.previousLow = low;
    own.firstInDump = false;
    // Unsigned arithmetic: a counter near its end must wrap, not overflow.
    const uint64_t ticks = (static_cast<uint64_t>(high) << 32) | low;
    const uint64_t absolute = ticks * kNanosecondsPerTick;
    // A separate flag, so a first record at analyzer time 0 still fixes the base.
    if (!processor->haveTimeBase) {
        processor->haveTimeBase = true;
        processor->timeBase = static_cast<int64_t>(absolute);
        return 0;
    }
    return static_cast<int64_t>(absolute - static_cast<uint64_t>(processor->timeBase));
}

struct ReceiveError {
    uint16_t recordBit;
    uint32_t packetBit;
    const char *report;
    const char *trigger;
};

// In the order the destroyed-packet trigger tests them.
constexpr ReceiveError kReceiveErrors[] = {
    {kRecordCrcError, packetflags::kCrcError, "Packet #%" PRId64 ": CRC Error detected by Analyzer",
     "TRIGGER: CRC Error detected by Analyzer."},
    {kRecordOversizeError, packetflags::kOversizeError, "Packet #%" PRId64 ": Oversize Error detected by Analyzer",
     "TRIGGER: Oversize Error detected by Analyzer."},
    {kRecordAlignmentError, packetflags::kAlignmentError, "Packet #%" PRId64 ": Alignment Error detected by Analyzer",
     "TRIGGER: Alignment Error detected by Analyzer."},
    {kRecordPreambleError, packetflags::kPreambleError, "Packet #%" PRId64 ": Preamble Error detected by Analyzer",
     "TRIGGER: Preamble Error detected by Analyzer. "},
    {kRecordNoiseError, packetflags::kNoiseError, "Packet #%" PRId64 ": Noise Error detected by Analyzer",
     "TRIGGER: Noise Error detected by Analyzer."},
};

// Direction, receive errors and digital inputs; reports errors and edges.
uint32_t errorAndInputFlags(DumpProcessor *processor, unsigned port, uint16_t recordFlags) {
    char message[kMessageChars];
    const int64_t packet = asPacketNumber(processor->packetCount);
    uint32_t flags = port + 1;
    for (const ReceiveError &error : kReceiveErrors) {
        if ((recordFlags & error.recordBit) == 0) continue;
        flags |= error.packetBit;
        compose(message, error.report, packet);
        logLine(processor, kLogWarning, message);
        statusLine(processor, kStatusBar, message);
    }
    for (unsigned input = 0; input < kDigitalInputCount; ++input) {
        const uint32_t level = digitalInputLevel(recordFlags, input);
        const uint32_t previous = processor->previousDi[input];
        const char *edge = nullptr;
        if (level != 0) {
            flags |= 1u << (packetflags::kFirstDigitalInputBit + input);
            if (previous == 0) edge = "Packet #%" PRId64 ": DigitalInput%02d (positive edge) detected by Analyzer";
        } else if (previous == 1) {
            edge = "Packet #%" PRId64 ": DigitalInput%02d (negative edge) detected by Analyzer";
        }
        if (edge == nullptr) continue;
        compose(message, edge, packet, static_cast<int>(input + 1));
        logLine(processor, kLogInfo, message);
        statusLine(processor, kStatusBar, message);
    }
    return flags;
}

// Stores one record of an enabled port; -1 when the buffer is exhausted.
int storeRecord(DumpProcessor *processor, const DumpHeader &header, const DumpRecord &record, unsigned port,
                int32_t *lost) {
    processor->packetCount += 1;
    const int64_t relative = relativeTime(processor, port, record.timestampLow);
    PacketRecord *slot =
        processor->slotsFilled < processor->slotsTaken ? processor->slots[processor->slotsFilled] : nullptr;
    if (slot == nullptr) {
        char message[kMessageChars];
        compose(message, "Packet #%" PRId64 ": Performance leak - overflow of presort buffer",
                asPacketNumber(processor->packetCount));
        logLine(processor, kLogError, message);
        statusLine(processor, kStatusBar, message);
        statusLine(processor, kStatusError, message);
        return -1;
    }
    slot->timestamp =
        static_cast<int64_t>(static_cast<uint64_t>(processor->startTime) + static_cast<uint64_t>(relative));
    slot->frameLength = record.size;
    uint32_t flags = (header.phyInfo & packetflags::kPhyInfoMask) << packetflags::kPhyInfoShift;
    slot->dropCount = *lost;

    // Never more than the record holds, the frame carries or the slot takes. A
    // frame longer than the slot (1536 bytes) is kept cut, flagged like any
    // other cut frame, rather than refusing the whole dump and its neighbours.
    uint32_t captured = record.size;
    if (captured > record.capacity) captured = record.capacity;
    if (captured > record.available) captured = record.available;
    if (captured > kRecordDataCapacity) captured = kRecordDataCapacity;
    if (record.size > captured) flags |= packetflags::kFrameCut;
    if (record.size < packetflags::kMinimumFrameLength) flags |= packetflags::kShortFrame;
    if (processor->lossEvents != processor->lossEventsAtLastStored) flags |= packetflags::kFramesLost;

    flags |= errorAndInputFlags(processor, port, record.flags);
    if (processor->packetCount > 1 && evaluateTrigger(processor, record.flags)) flags |= packetflags::kTriggerPacket;
    for (unsigned input = 0; input < kDigitalInputCount; ++input) {
        processor->previousDi[input] = digitalInputLevel(record.flags, input);
    }

    slot->flags = flags;
    slot->capturedLength = static_cast<uint16_t>(captured);
    std::memcpy(slot->data, record.data, captured);
    processor->slotsFilled += 1;  // inserted with the rest of the dump when it ends

    processor->lastStoredTime = slot->timestamp;
    *lost = 0;
    processor->lossEventsAtLastStored = processor->lossEvents;
    return 0;
}

// Unique id, duplicates and loss accounting. Answers false when the frame is
// to be ignored; `lost` receives the frames lost by the PC before it.
bool passesStreamGuard(DumpProcessor *processor, const DumpHeader &header, int32_t *lost) {
    char message[kMessageChars];
    *lost = 0;
    if (processor->dumpsProcessed == 0) {
        processor->lockedUniqueId = header.uniqueId;
    } else {
        if (header.uniqueId != processor->lockedUniqueId) return false;
        if (header.dumpTotal == processor->lastDumpTotal) return false;
        if (header.dumpTotal != processor->expectedDumpTotal) {
            *lost = static_cast<uint16_t>(header.dumpTotal - processor->expectedDumpTotal);
            processor->lossEvents += 1;
            compose(message, "Packet #%" PRId64 ": %d Packets lost by PC", asPacketNumber(processor->packetCount + 1),
                    static_cast<int>(*lost));
            logLine(processor, kLogWarning, message);
            statusLine(processor, kStatusBar, message);
        }
    }
    processor->lastDumpTotal = header.dumpTotal;
    processor->expectedDumpTotal = static_cast<uint16_t>(header.dumpTotal + header.dumpCount);
    if (header.dumpLost > 0) {
        processor->lossEvents += 1;
        compose(message, "Packet #%" PRId64 ": %d Packets lost by Analyzer", asPacketNumber(processor->packetCount + 1),
                static_cast<int>(header.dumpLost));
        logLine(processor, kLogWarning, message);
        statusLine(processor, kStatusBar, message);
    }
    processor->dumpsProcessed += 1;
    return true;
}

// Takes the free slots the dump may need: one per record it carries (records
// of a disabled port need none, but counting them first would cost a second
// walk). When fewer are free, the records beyond them overflow, exactly as
// if each had asked for its own slot.
static_assert(kMaxRecordsPerDump >= UINT8_MAX && sizeof(DumpHeader::dumpCount) == 1,
              "a dump's records all fit the slots in hand");
void takeDumpSlots(DumpProcessor *processor, uint32_t records) {
    processor->slotsTaken = captureBufferTakeFreeBatch(processor->buffer, processor->slots, records);
    processor->slotsFilled = 0;
}

// Hands the dump's filled slots to the presort list in record order and
// gives the unfilled ones back. Runs on every way out of a dump, so records
// stored before a fault stay stored.
void finishDumpSlots(DumpProcessor *processor) {
    captureBufferInsertSortedBatch(processor->buffer, processor->slots, processor->slotsFilled);
    captureBufferGiveBackBatch(processor->buffer, processor->slots + processor->slotsFilled,
                               processor->slotsTaken - processor->slotsFilled);
    processor->slotsTaken = 0;
    processor->slotsFilled = 0;
}

// After each dump: the status line, or the end of a triggered capture.
int completionTest(DumpProcessor *processor) {
    char message[kMessageChars];
    const bool live = processor->captureMode == kCaptureLive;
    const int64_t sinceTrigger = static_cast<int64_t>(static_cast<uint64_t>(processor->lastStoredTime) -
                                                      static_cast<uint64_t>(processor->triggerTime));
    if (!processor->triggered || sinceTrigger <= processor->settings->postTriggerTimeNs) {
        compose(message,
                live ? "[Live Capture] - Captured packets by Q40TA5521: %" PRId64 ". Internal buffer level: %d"
                     : "[Single Shot - Waiting for trigger...] - Captured packets by Q40TA5521: %" PRId64
                       ". Internal buffer level: %d",
                asPacketNumber(processor->packetCount), static_cast<int>(captureBufferLevel(processor->buffer)));
        statusLine(processor, kStatusBar, message);
        return 0;
    }
    // Live: the trigger packet's number; single shot: its place in the trace
    // that is about to be written from the buffer.
    int64_t position = asPacketNumber(processor->triggerPacketNumber);
    if (!live) {
        // The trace is the newest hold-back records of the buffer: when the
        // writer lags, the buffer holds more than that, and the older surplus
        // is discarded, not written. So the trace is as long as the level only
        // up to the hold-back (a hold-back of 0 or less keeps no ring and
        // writes all there is).
        const int64_t level = captureBufferLevel(processor->buffer);
        const int64_t ring = captureBufferHoldBack(processor->buffer);
        const int64_t traceLength = ring > 0 && ring < level ? ring : level;
        position = traceLength - static_cast<int64_t>(processor->packetCount - processor->triggerPacketNumber);
        // A long post-trigger time at a high frame rate pushes the trigger packet
        // out of the pre-trigger ring; the trace then starts after it, and its
        // first packet is the nearest one there is (never a number <= 0).
        if (position < 1) position = 1;
    }
    compose(message, "%s Error near packet #%" PRId64, processor->triggerText, position);
    statusLine(processor, kStatusBar, message);
    logLine(processor, kLogError, message);
    statusLine(processor, kStatusError, message);
    return kDumpTraceComplete;
}

}  // namespace

DumpProcessor *dumpProcessorCreate(const TriggerSettings *settings, uint32_t captureMode, CaptureBuffer *buffer,
                                   MessageSink *sink) {
    if (settings == nullptr || buffer == nullptr) return nullptr;
    auto *processor = new (std::nothrow) DumpProcessor();  // value-initialised: all zero
    if (processor == nullptr) return nullptr;
    processor->settings = settings;
    processor->captureMode = captureMode;
    processor->buffer = buffer;
    processor->sink = sink;
    processor->wallClockSeconds = systemWallClockSeconds;
    return processor;
}

void dumpProcessorFree(DumpProcessor *processor) { delete processor; }

bool evaluateTrigger(DumpProcessor *processor, uint16_t recordFlags) {
    if (processor == nullptr || processor->triggered) return false;
    const TriggerSettings &settings = *processor->settings;
    char text[kTriggerTextChars];
    const char *fired = nullptr;
    if (settings.droppedPacket != 0 && processor->lossEvents != processor->lossEventsAtLastStored) {
        fired = "TRIGGER: Dropped Packets.";
    }
    if (fired == nullptr && settings.destroyedPacket != 0) {
        for (const ReceiveError &error : kReceiveErrors) {
            if ((recordFlags & error.recordBit) != 0) {
                fired = error.trigger;
                break;
            }
        }
    }
    for (unsigned input = 0; fired == nullptr && input < kDigitalInputCount; ++input) {
        const uint32_t level = digitalInputLevel(recordFlags, input);
        const uint32_t previous = processor->previousDi[input];
        if (level != 0 && settings.diPositive[input] != 0 && previous == 0) {
            std::snprintf(text, sizeof text, "TRIGGER: DigitalInput%02d (positive edge) detected by Analyzer.",
                          static_cast<int>(input + 1));
            fired = text;
        } else if (level == 0 && settings.diNegative[input] != 0 && previous == 1) {
            std::snprintf(text, sizeof text, "TRIGGER: DigitalInput%02d (negative edge) detected by Analyzer.",
                          static_cast<int>(input + 1));
            fired = text;
        }
    }
    if (fired == nullptr) return false;
    processor->triggered = true;
    // The packet stored before this one: its own stamp is not known to the test.
    processor->triggerTime = processor->lastStoredTime;
    processor->triggerPacketNumber = processor->packetCount;
    std::snprintf(processor->triggerText, sizeof processor->triggerText, "%s", fired);
    return true;
}

int processDump(DumpProcessor *processor, const uint8_t *frame, uint32_t length) {
    // The dump header ends at the first record; a frame must carry more.
    if (processor == nullptr || frame == nullptr || length <= kFirstRecordOffset) return -1;
    if (processor->startTime == 0) processor->startTime = processor->wallClockSeconds() * kNanosecondsPerSecond;

    DumpHeader header;
    if (readDumpHeader(frame, length, &header) != 0) return -1;
    if (header.protocolVersion != kProtocolVersion) {
        char message[kMessageChars];
        compose(message,
                "Packet #%" PRId64
                ": Protocol version of Q40TA5521 frames is invalid. Actual version: %d. "
                "Expected version: %d",
                asPacketNumber(processor->packetCount + 1), static_cast<int>(header.protocolVersion),
                static_cast<int>(kProtocolVersion));
        logLine(processor, kLogError, message);
        statusLine(processor, kStatusError, message);
        return -1;
    }

    int32_t lost = 0;
    if (!passesStreamGuard(processor, header, &lost)) return 0;

    for (PortTimeState &port : processor->ports) {
        port.firstInDump = true;
        port.firstLow = 0;
        port.wrap = 0;
        port.high = header.tsHigh;
    }

    takeDumpSlots(processor, header.dumpCount);
    uint32_t offset = kFirstRecordOffset;
    for (unsigned i = 0; i < header.dumpCount; ++i) {
        DumpRecord record;
        // Records stored so far stay stored.
        if (readDumpRecord(frame, length, offset, header.dumpSize, DumpSizeReading::kCaptureEngine, &record) != 0) {
            finishDumpSlots(processor);
            return -1;
        }
        const unsigned port = record.flags & kRecordPortBit;
        if (portEnabled(processor, port) && storeRecord(processor, header, record, port, &lost) != 0) {
            finishDumpSlots(processor);
            return -1;
        }
        offset = nextDumpRecordOffset(record, header.dumpSize, DumpSizeReading::kCaptureEngine);
    }
    finishDumpSlots(processor);
    return completionTest(processor);
}
