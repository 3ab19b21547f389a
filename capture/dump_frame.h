// The capture engine's reading of the analyzer's dump frames: the
// recognition test and the dump header and records read into plain structs.
// The wire layout itself is described in formats/dump_format.h.
#pragma once

#include <cstdint>

#include "dump_format.h"

// The dump header as read from one frame.
struct DumpHeader {
    uint16_t dumpSize;
    uint8_t dumpCount;
    uint8_t captureId;
    uint16_t dumpTotal;
    uint16_t dumpLost;
    uint16_t uniqueId;
    uint32_t tsHigh;
    uint8_t phyInfo;
    uint8_t protocolVersion;
    uint16_t reserved;
};

// One record of a dump frame. `data` points into the frame and `available`
// bytes of it lie inside the frame; `capacity` is how many data bytes the
// record itself holds under the chosen reading of the dump size.
struct DumpRecord {
    uint32_t offset;  // of the record head, from the frame start
    uint32_t timestampLow;
    uint16_t size;
    uint16_t flags;
    const uint8_t *data;
    uint32_t available;
    uint32_t capacity;
};

using dumpframe::DumpSizeReading;

// Answers whether `frame` is a dump frame of the wanted analyzer. A wanted
// node of 0 takes the first analyzer seen and is then set to its node number.
bool isDumpFrame(const uint8_t *frame, uint32_t length, uint8_t *wantedNode);

// Reads the dump header; -1 when the frame is too short to hold it.
int readDumpHeader(const uint8_t *frame, uint32_t length, DumpHeader *header);

// Reads the record whose head starts at `offset`; -1 when its data would
// start at or beyond the frame end (the head does not fit in the frame).
int readDumpRecord(const uint8_t *frame, uint32_t length, uint32_t offset, uint16_t dumpSize, DumpSizeReading reading,
                   DumpRecord *record);

// Offset of the record that follows `record`.
uint32_t nextDumpRecordOffset(const DumpRecord &record, uint16_t dumpSize, DumpSizeReading reading);

using dumpframe::readBe16;
using dumpframe::readLe16;
using dumpframe::readLe32;
