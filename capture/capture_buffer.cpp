#include "capture_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

PacketRecord* asRecord(RecordNode* node) {
  // The links are the record's first member, so the node is the record.
  return reinterpret_cast<PacketRecord*>(node);
}

int64_t waitingCount(const CaptureBuffer* buffer) {
  return static_cast<int64_t>(buffer->inserted.load(std::memory_order_relaxed) -
                              buffer->removed.load(std::memory_order_relaxed));
}

void reportAllocationFailure() {
  std::fputs(" >>> Error <<< Memory for capture buffer cannot be allocated.\n", stdout);
  std::fflush(stdout);
}

}  // namespace

CaptureBuffer* captureBufferCreate(uint32_t slotCount, int32_t holdBack) {
  if (slotCount == 0 || holdBack == 0) {
    reportAllocationFailure();
    return nullptr;
  }
  auto* buffer = new (std::nothrow) CaptureBuffer();
  if (buffer == nullptr) {
    reportAllocationFailure();
    return nullptr;
  }
  // calloc hands out zeroed pages without touching them twice.
  buffer->slots = static_cast<PacketRecord*>(std::calloc(slotCount, sizeof(PacketRecord)));
  if (buffer->slots == nullptr) {
    delete buffer;
    reportAllocationFailure();
    return nullptr;
  }
  buffer->slotCount = slotCount;
  buffer->holdBack.store(holdBack);
  buffer->inserted.store(0);
  buffer->removed.store(0);
  buffer->level.store(0);
  recordListInit(&buffer->freeList);
  recordListInit(&buffer->presortList);
  for (uint32_t i = 0; i < slotCount; ++i) {
    RecordNode* node = &buffer->slots[i].links;
    recordNodeInit(node);
    recordListAddTail(&buffer->freeList, node);
  }
  return buffer;
}

PacketRecord* captureBufferTakeFree(CaptureBuffer* buffer) {
  if (buffer == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(buffer->mutex);
  RecordNode* node = recordListRemoveHead(&buffer->freeList);
  return node ? asRecord(node) : nullptr;
}

int captureBufferInsertSorted(CaptureBuffer* buffer, PacketRecord* record) {
  if (buffer == nullptr || record == nullptr) return -1;
  std::lock_guard<std::mutex> lock(buffer->mutex);
  // Walk back from the newest record: frames mostly arrive in order, so this
  // usually stops at once. Equal stamps stay behind earlier arrivals.
  RecordNode* node = recordListLast(&buffer->presortList);
  while (!recordNodeIsHead(node) &&
         static_cast<int64_t>(static_cast<uint64_t>(asRecord(node)->timestamp) -
                              static_cast<uint64_t>(record->timestamp)) > 0) {
    node = node->prev;
  }
  recordNodeInit(&record->links);
  recordListInsertAfter(node, &record->links);
  const uint64_t inserted = buffer->inserted.load(std::memory_order_relaxed) + 1;
  buffer->inserted.store(inserted, std::memory_order_relaxed);
  buffer->level.store(static_cast<int32_t>(inserted - buffer->removed.load(std::memory_order_relaxed)),
                      std::memory_order_relaxed);
  return 0;
}

PacketRecord* captureBufferTakeReady(CaptureBuffer* buffer) {
  if (buffer == nullptr) return nullptr;
  // A negative hold-back releases everything, as 0 does.
  if (waitingCount(buffer) <= buffer->holdBack.load(std::memory_order_relaxed)) return nullptr;
  std::lock_guard<std::mutex> lock(buffer->mutex);
  RecordNode* node = recordListRemoveHead(&buffer->presortList);
  if (node == nullptr) return nullptr;
  buffer->removed.store(buffer->removed.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  return asRecord(node);
}

int captureBufferGiveBack(CaptureBuffer* buffer, PacketRecord* record) {
  if (buffer == nullptr || record == nullptr) return -1;
  std::lock_guard<std::mutex> lock(buffer->mutex);
  recordNodeInit(&record->links);
  // Returned slots are reused first: a live capture then cycles through the
  // few dozen slots the hold-back keeps busy, all warm in the cache, instead
  // of walking the whole half-gigabyte pool and missing the cache on every
  // packet (which halves the throughput). Which free slot comes next is
  // nobody's concern but the buffer's.
  recordListInsertAfter(recordListHead(&buffer->freeList), &record->links);
  return 0;
}

int captureBufferSetHoldBack(CaptureBuffer* buffer, int32_t holdBack) {
  if (buffer == nullptr) return -1;
  buffer->holdBack.store(holdBack, std::memory_order_relaxed);
  return 0;
}

int32_t captureBufferLevel(const CaptureBuffer* buffer) {
  if (buffer == nullptr) return -1;
  return buffer->level.load(std::memory_order_relaxed);
}

int32_t captureBufferRemaining(const CaptureBuffer* buffer) {
  if (buffer == nullptr) return -1;
  return static_cast<int32_t>(waitingCount(buffer));
}

void captureBufferDestroy(CaptureBuffer* buffer) {
  if (buffer == nullptr) return;
  {
    // Whoever still holds the lock finishes first.
    std::lock_guard<std::mutex> lock(buffer->mutex);
    recordListDetachAll(&buffer->freeList);
    recordListDetachAll(&buffer->presortList);
  }
  std::free(buffer->slots);
  delete buffer;
}
