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
constexpr uint32_t kExtraSlots = 1024;  // slots beyond N
constexpr int32_t kInitialHoldBack = 32;

// One slot. Zero-filled at creation, the links first so the slot is its own
// list node.
struct PacketRecord {
    RecordNode links;
    int64_t timestamp;     // ns since 1970
    uint32_t flags;        // packet flags word, written as epb_flags
    uint16_t frameLength;  // on the wire
    uint16_t capturedLength;
    int64_t dropCount;  // frames lost by the PC just before this one
    uint8_t data[kRecordDataCapacity];
};
static_assert(sizeof(PacketRecord) == 1576, "a slot is 1576 bytes");

struct Prefaulter;
struct PresortIndex;

struct CaptureBuffer {
    RecordList freeList;
    RecordList presortList;
    // The presort list's records by timestamp, so that a record stamped far
    // back (a late port, or a crafted dump) finds its place in logarithmic
    // time instead of walking the list. Same order as the list, always.
    PresortIndex *presortIndex;
    PacketRecord *slots;
    uint32_t slotCount;
    uint32_t freshNext;  // slots from here on were never taken (guarded by the lock)
    // Read without the lock by the main thread's release test; a stale value
    // only shifts a release to the next poll.
    std::atomic<int32_t> holdBack;
    std::atomic<uint64_t> inserted;
    std::atomic<uint64_t> removed;
    std::atomic<int32_t> level;  // inserted - removed at the last insertion
    // Slots on the free list. Changed under the lock, read without it.
    std::atomic<int64_t> freeSlots;
    // Timestamp comparisons the presort has made so far: what an insertion
    // costs, for the benchmark and the tests. Changed under the lock.
    std::atomic<uint64_t> presortComparisons;
    std::mutex mutex;        // guards both lists and all counter updates
    Prefaulter *prefaulter;  // background prefault, if started
};

// Allocates the zeroed pool; none (with a console line) on failure. Pages of
// the pool are touched only as the capture first needs them.
CaptureBuffer *captureBufferCreate(uint32_t slotCount, int32_t holdBack);
PacketRecord *captureBufferTakeFree(CaptureBuffer *buffer);
int captureBufferInsertSorted(CaptureBuffer *buffer, PacketRecord *record);
PacketRecord *captureBufferTakeReady(CaptureBuffer *buffer);
int captureBufferGiveBack(CaptureBuffer *buffer, PacketRecord *record);
int captureBufferSetHoldBack(CaptureBuffer *buffer, int32_t holdBack);
// The hold-back in force; 0 without buffer.
int32_t captureBufferHoldBack(const CaptureBuffer *buffer);
int32_t captureBufferLevel(const CaptureBuffer *buffer);

// Batched forms of the operations above, one critical section per call, so
// the two threads pay for the lock once per dump or drain pass instead of
// once per record. Each does exactly what the same number of single calls
// would do with nothing happening in between.

// Takes up to `max` free slots, in free-list order; answers how many.
uint32_t captureBufferTakeFreeBatch(CaptureBuffer *buffer, PacketRecord **out, uint32_t max);
// Inserts the records one after the other, sorted as by single inserts
// (equal stamps keep the order of the array); level is taken after the last.
// 0, or -1 without buffer or records.
int captureBufferInsertSortedBatch(CaptureBuffer *buffer, PacketRecord *const *records, uint32_t count);
// Takes the oldest records that the hold-back releases, at most `max`, and
// answers how many. `waitingAfter` (optional) receives the number of records
// still waiting behind the last one taken: record i of the batch has
// *waitingAfter + (count - 1 - i) records waiting behind it.
uint32_t captureBufferTakeReadyBatch(CaptureBuffer *buffer, PacketRecord **out, uint32_t max, int64_t *waitingAfter);
// Gives the slots back to the free list; 0, or -1 without buffer or records.
int captureBufferGiveBackBatch(CaptureBuffer *buffer, PacketRecord *const *records, uint32_t count);
int32_t captureBufferRemaining(const CaptureBuffer *buffer);
// Slots on the free list now: the pool less the records waiting and the
// slots either thread holds between take and insert or give back. -1
// without buffer.
int64_t captureBufferFreeCount(const CaptureBuffer *buffer);
// Timestamp comparisons made by all insertions so far; 0 without buffer.
uint64_t captureBufferPresortComparisons(const CaptureBuffer *buffer);
// Faults the pool's pages in on a background thread of the lowest priority,
// so a capture that fills the pool later pays no page faults on its way
// (a live capture from the analyzer cannot wait for them). The buffer works
// the same without it; a kernel that cannot prefault leaves the pages to be
// faulted as used. 0, or -1 when not started (no buffer, already running).
int captureBufferPrefaultStart(CaptureBuffer *buffer);
// Whether a started prefault has gone through the pool (or given up).
bool captureBufferPrefaultDone(const CaptureBuffer *buffer);
// Stops a running prefault first.
void captureBufferDestroy(CaptureBuffer *buffer);
