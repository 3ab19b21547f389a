// The capture buffer: a fixed pool of packet slots with a free list and a
// presort list that keeps captured records in timestamp order.
//
// The capture thread takes free slots, fills them and inserts them sorted;
// the main thread takes the oldest records once more than `holdBack` are
// waiting (so late arrivals of the other port still find their place), writes
// or discards them and gives the slots back (the most recently returned slot
// is the next one taken).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "record_list.h"

constexpr uint32_t kRecordDataCapacity = 1536;
constexpr uint32_t kExtraSlots = 1024;         // slots beyond N
constexpr int32_t kInitialHoldBack = 32;

// One slot. Zero-filled at creation, the links first so the slot is its own
// list node.
struct PacketRecord {
  RecordNode links;
  int64_t timestamp;     // ns since 1970
  uint32_t flags;        // packet flags word, written as epb_flags
  uint16_t frameLength;  // on the wire
  uint16_t capturedLength;
  int64_t dropCount;     // frames lost by the PC just before this one
  uint8_t data[kRecordDataCapacity];
};
static_assert(sizeof(PacketRecord) == 1576, "a slot is 1576 bytes");

struct CaptureBuffer {
  RecordList freeList;
  RecordList presortList;
  PacketRecord* slots;
  uint32_t slotCount;
  // Read without the lock by the main thread's release test; a stale value
  // only shifts a release to the next poll.
  std::atomic<int32_t> holdBack;
  std::atomic<uint64_t> inserted;
  std::atomic<uint64_t> removed;
  std::atomic<int32_t> level;  // inserted - removed at the last insertion
  std::mutex mutex;            // guards both lists and all counter updates
};

// Allocates and zeroes all slots once; none (with a console line) on failure.
CaptureBuffer* captureBufferCreate(uint32_t slotCount, int32_t holdBack);
PacketRecord* captureBufferTakeFree(CaptureBuffer* buffer);
int captureBufferInsertSorted(CaptureBuffer* buffer, PacketRecord* record);
PacketRecord* captureBufferTakeReady(CaptureBuffer* buffer);
int captureBufferGiveBack(CaptureBuffer* buffer, PacketRecord* record);
int captureBufferSetHoldBack(CaptureBuffer* buffer, int32_t holdBack);
int32_t captureBufferLevel(const CaptureBuffer* buffer);
int32_t captureBufferRemaining(const CaptureBuffer* buffer);
void captureBufferDestroy(CaptureBuffer* buffer);
