#include "capture_buffer.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory_resource>
#include <new>
#include <thread>
#include <vector>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it with EINVAL
#endif

// Plain signed order of the stamps (a strict weak order, which the index
// needs), counting its uses.
struct PresortStampLess {
    uint64_t *count;
    bool operator()(int64_t a, int64_t b) const {
        ++*count;
        return a < b;
    }
};

// Tree nodes, all of one size, kept on a free list once returned: after the
// buffer has been full once, inserting allocates nothing, and taking or
// returning a node is a pointer swap (a general pool searches its chunks).
class NodePool : public std::pmr::memory_resource {
public:
    ~NodePool() override {
        for (void *chunk : chunks_) ::operator delete(chunk);
    }

private:
    static constexpr size_t kNodesPerChunk = 4096;
    struct FreeNode {
        FreeNode *next;
    };

    void *do_allocate(size_t bytes, size_t alignment) override {
        if (nodeBytes_ == 0) nodeBytes_ = bytes < sizeof(FreeNode) ? sizeof(FreeNode) : bytes;
        if (bytes > nodeBytes_ || alignment > alignof(std::max_align_t)) {
            return std::pmr::new_delete_resource()->allocate(bytes, alignment);
        }
        if (free_ == nullptr) addChunk();
        FreeNode *node = free_;
        free_ = node->next;
        return node;
    }
    void do_deallocate(void *p, size_t bytes, size_t alignment) override {
        if (bytes > nodeBytes_ || alignment > alignof(std::max_align_t)) {
            std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
            return;
        }
        free_ = new (p) FreeNode{free_};
    }
    bool do_is_equal(const std::pmr::memory_resource &other) const noexcept override { return this == &other; }

    void addChunk() {
        const size_t stride =
            (nodeBytes_ + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);
        const size_t chunkBytes = stride * kNodesPerChunk;
        auto *chunk = static_cast<unsigned char *>(::operator new(chunkBytes));
        chunks_.push_back(chunk);
        for (size_t i = kNodesPerChunk; i-- > 0;) free_ = new (chunk + i * stride) FreeNode{free_};
    }

    size_t nodeBytes_ = 0;
    FreeNode *free_ = nullptr;
    std::vector<void *> chunks_;
};

struct PresortIndex {
    uint64_t comparisons = 0;
    NodePool pool;
    std::pmr::multimap<int64_t, PacketRecord *, PresortStampLess> byStamp{PresortStampLess{&comparisons}, &pool};
};

namespace {

PacketRecord *asRecord(RecordNode *node) {
    // The links are the record's first member, so the node is the record.
    return reinterpret_cast<PacketRecord *>(node);
}

int64_t waitingCount(const CaptureBuffer *buffer) {
    return static_cast<int64_t>(buffer->inserted.load(std::memory_order_relaxed) -
                                buffer->removed.load(std::memory_order_relaxed));
}

// Records mostly arrive in order and go to the end at once. Any other record
// goes before the first one stamped later, found through the index. Equal
// stamps stay behind earlier arrivals.
void insertSortedLocked(CaptureBuffer *buffer, PacketRecord *record) {
    auto &index = buffer->presortIndex->byStamp;
    recordNodeInit(&record->links);
    auto later = index.end();
    if (!index.empty() && index.key_comp()(record->timestamp, index.rbegin()->first)) {
        later = index.upper_bound(record->timestamp);
    }
    RecordNode *before = later == index.end() ? recordListLast(&buffer->presortList) : later->second->links.prev;
    index.emplace_hint(later, record->timestamp, record);  // first: if it throws, the list is unchanged
    recordListInsertAfter(before, &record->links);
    buffer->presortComparisons.store(buffer->presortIndex->comparisons, std::memory_order_relaxed);
}

// Unlinks the oldest record from the list and the index; null when empty.
PacketRecord *removeOldestLocked(CaptureBuffer *buffer) {
    RecordNode *node = recordListRemoveHead(&buffer->presortList);
    if (node == nullptr) return nullptr;
    buffer->presortIndex->byStamp.erase(buffer->presortIndex->byStamp.begin());
    return asRecord(node);
}

size_t poolBytes(uint32_t slotCount) { return static_cast<size_t>(slotCount) * sizeof(PacketRecord); }

void noteInsertedLocked(CaptureBuffer *buffer, uint32_t count) {
    const uint64_t inserted = buffer->inserted.load(std::memory_order_relaxed) + count;
    buffer->inserted.store(inserted, std::memory_order_relaxed);
    buffer->level.store(static_cast<int32_t>(inserted - buffer->removed.load(std::memory_order_relaxed)),
                        std::memory_order_relaxed);
}

// Returned slots are reused first: a live capture then cycles through the
// few dozen slots the hold-back keeps busy, all warm in the cache, instead
// of walking the whole half-gigabyte pool and missing the cache on every
// packet (which halves the throughput). Which free slot comes next is
// nobody's concern but the buffer's.
void giveBackLocked(CaptureBuffer *buffer, PacketRecord *record) {
    recordNodeInit(&record->links);
    recordListInsertAfter(recordListHead(&buffer->freeList), &record->links);
}

// A slot from the free list, else one never used yet; null when the pool is
// exhausted. Slots are handed out fresh, in pool order, only once the free
// list is empty: memory the capture never needs is never touched.
PacketRecord *takeFreeLocked(CaptureBuffer *buffer) {
    RecordNode *node = recordListRemoveHead(&buffer->freeList);
    if (node != nullptr) return asRecord(node);
    if (buffer->freshNext >= buffer->slotCount) return nullptr;
    PacketRecord *record = &buffer->slots[buffer->freshNext++];
    recordNodeInit(&record->links);
    return record;
}

void noteFreeLocked(CaptureBuffer *buffer, int64_t change) {
    buffer->freeSlots.store(buffer->freeSlots.load(std::memory_order_relaxed) + change, std::memory_order_relaxed);
}

void reportAllocationFailure() {
    std::fputs(" >>> Error <<< Memory for capture buffer cannot be allocated.\n", stdout);
    std::fflush(stdout);
    std::fputs("sentra_extcap: memory for the capture buffer cannot be allocated\n", stderr);
    std::fflush(stderr);
}

// Background prefault: the pool's pages are faulted in a little at a time,
// from the start, the order in which fresh slots are taken. The kernel does
// it without writing the memory, so slots the capture already uses are not
// disturbed. The thread runs at the lowest priority and stops when told;
// the steps are small because a stop (and the pool's release) waits for the
// step in progress, which a busy machine gives little time.
constexpr size_t kPrefaultStepBytes = 256u << 10;
constexpr int kPrefaultNice = 19;

}  // namespace

struct Prefaulter {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
};

namespace {

void prefaultPool(CaptureBuffer *buffer, Prefaulter *prefaulter) {
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kPrefaultNice);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const uintptr_t page = pageSize > 0 ? static_cast<uintptr_t>(pageSize) : 4096u;
    // madvise wants page-aligned ranges; the pool's first partial page is left
    // to the first slot's own fault.
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer->slots) + page - 1) & ~(page - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(buffer->slots + buffer->slotCount) & ~(page - 1);
    for (uintptr_t at = begin; at < end && !prefaulter->stop.load(std::memory_order_relaxed);
         at += kPrefaultStepBytes) {
        const size_t length = end - at < kPrefaultStepBytes ? end - at : kPrefaultStepBytes;
        if (madvise(reinterpret_cast<void *>(at), length, MADV_POPULATE_WRITE) != 0) break;
    }
    prefaulter->done.store(true);
}

}  // namespace

int captureBufferPrefaultStart(CaptureBuffer *buffer) {
    if (buffer == nullptr || buffer->prefaulter != nullptr) return -1;
    auto *prefaulter = new (std::nothrow) Prefaulter();
    if (prefaulter == nullptr) return -1;
    try {
        prefaulter->thread = std::thread(prefaultPool, buffer, prefaulter);
    } catch (...) {
        delete prefaulter;
        return -1;
    }
    buffer->prefaulter = prefaulter;
    return 0;
}

bool captureBufferPrefaultDone(const CaptureBuffer *buffer) {
    return buffer != nullptr && buffer->prefaulter != nullptr && buffer->prefaulter->done.load();
}

CaptureBuffer *captureBufferCreate(uint32_t slotCount, int32_t holdBack) {
    if (slotCount == 0 || holdBack == 0) {
        reportAllocationFailure();
        return nullptr;
    }
    auto *buffer = new (std::nothrow) CaptureBuffer();
    if (buffer == nullptr) {
        reportAllocationFailure();
        return nullptr;
    }
    // The pool comes straight from the kernel as zero pages that cost nothing
    // until first written, and nothing to give back unwritten: start-up and
    // teardown take the same time for any pool size (the slots are linked as
    // they are first taken). A heap allocation would do the same in a plain
    // build, but a checked build keeps books on every byte of it.
    void *pool = mmap(nullptr, poolBytes(slotCount), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    buffer->slots = pool == MAP_FAILED ? nullptr : static_cast<PacketRecord *>(pool);
    if (buffer->slots == nullptr) {
        delete buffer;
        reportAllocationFailure();
        return nullptr;
    }
    buffer->presortIndex = new (std::nothrow) PresortIndex();
    if (buffer->presortIndex == nullptr) {
        munmap(buffer->slots, poolBytes(slotCount));
        delete buffer;
        reportAllocationFailure();
        return nullptr;
    }
    buffer->slotCount = slotCount;
    buffer->holdBack.store(holdBack);
    buffer->inserted.store(0);
    buffer->removed.store(0);
    buffer->level.store(0);
    buffer->freeSlots.store(slotCount);
    buffer->freshNext = 0;
    buffer->presortComparisons.store(0);
    recordListInit(&buffer->freeList);
    recordListInit(&buffer->presortList);
    return buffer;
}

PacketRecord *captureBufferTakeFree(CaptureBuffer *buffer) {
    if (buffer == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    PacketRecord *record = takeFreeLocked(buffer);
    if (record == nullptr) return nullptr;
    noteFreeLocked(buffer, -1);
    return record;
}

int captureBufferInsertSorted(CaptureBuffer *buffer, PacketRecord *record) {
    if (buffer == nullptr || record == nullptr) return -1;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    insertSortedLocked(buffer, record);
    noteInsertedLocked(buffer, 1);
    return 0;
}

PacketRecord *captureBufferTakeReady(CaptureBuffer *buffer) {
    if (buffer == nullptr) return nullptr;
    // A negative hold-back releases everything, as 0 does.
    if (waitingCount(buffer) <= buffer->holdBack.load(std::memory_order_acquire)) return nullptr;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    PacketRecord *record = removeOldestLocked(buffer);
    if (record == nullptr) return nullptr;
    buffer->removed.store(buffer->removed.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return record;
}

int captureBufferGiveBack(CaptureBuffer *buffer, PacketRecord *record) {
    if (buffer == nullptr || record == nullptr) return -1;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    giveBackLocked(buffer, record);
    noteFreeLocked(buffer, 1);
    return 0;
}

uint32_t captureBufferTakeFreeBatch(CaptureBuffer *buffer, PacketRecord **out, uint32_t max) {
    if (buffer == nullptr || out == nullptr) return 0;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    uint32_t taken = 0;
    while (taken < max) {
        PacketRecord *record = takeFreeLocked(buffer);
        if (record == nullptr) break;
        out[taken++] = record;
    }
    noteFreeLocked(buffer, -static_cast<int64_t>(taken));
    return taken;
}

int captureBufferInsertSortedBatch(CaptureBuffer *buffer, PacketRecord *const *records, uint32_t count) {
    if (buffer == nullptr || (records == nullptr && count != 0)) return -1;
    if (count == 0) return 0;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    for (uint32_t i = 0; i < count; ++i) insertSortedLocked(buffer, records[i]);
    noteInsertedLocked(buffer, count);
    return 0;
}

uint32_t captureBufferTakeReadyBatch(CaptureBuffer *buffer, PacketRecord **out, uint32_t max, int64_t *waitingAfter) {
    if (waitingAfter != nullptr) *waitingAfter = buffer != nullptr ? waitingCount(buffer) : 0;
    if (buffer == nullptr || out == nullptr || max == 0) return 0;
    // The same test as a single take, read without the lock first: an idle
    // poll then costs no lock at all.
    const int32_t holdBack = buffer->holdBack.load(std::memory_order_acquire);
    if (waitingCount(buffer) <= holdBack) return 0;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    // Under the lock the counters are exact; a negative hold-back releases
    // everything, as 0 does.
    const int64_t waiting = waitingCount(buffer);
    const int64_t releasable = waiting - (holdBack < 0 ? 0 : holdBack);
    uint32_t taken = 0;
    while (taken < max && static_cast<int64_t>(taken) < releasable) {
        PacketRecord *record = removeOldestLocked(buffer);
        if (record == nullptr) break;
        out[taken++] = record;
    }
    buffer->removed.store(buffer->removed.load(std::memory_order_relaxed) + taken, std::memory_order_relaxed);
    if (waitingAfter != nullptr) *waitingAfter = waiting - taken;
    return taken;
}

int captureBufferGiveBackBatch(CaptureBuffer *buffer, PacketRecord *const *records, uint32_t count) {
    if (buffer == nullptr || (records == nullptr && count != 0)) return -1;
    if (count == 0) return 0;
    std::lock_guard<std::mutex> lock(buffer->mutex);
    for (uint32_t i = 0; i < count; ++i) giveBackLocked(buffer, records[i]);
    noteFreeLocked(buffer, count);
    return 0;
}

int captureBufferSetHoldBack(CaptureBuffer *buffer, int32_t holdBack) {
    if (buffer == nullptr) return -1;
    // Release: whatever the caller set before (writing enabled, for one) is
    // seen by the thread that finds records released by the new value.
    buffer->holdBack.store(holdBack, std::memory_order_release);
    return 0;
}

int32_t captureBufferHoldBack(const CaptureBuffer *buffer) {
    if (buffer == nullptr) return 0;
    return buffer->holdBack.load(std::memory_order_relaxed);
}

int32_t captureBufferLevel(const CaptureBuffer *buffer) {
    if (buffer == nullptr) return -1;
    return buffer->level.load(std::memory_order_relaxed);
}

int32_t captureBufferRemaining(const CaptureBuffer *buffer) {
    if (buffer == nullptr) return -1;
    return static_cast<int32_t>(waitingCount(buffer));
}

int64_t captureBufferFreeCount(const CaptureBuffer *buffer) {
    if (buffer == nullptr) return -1;
    return buffer->freeSlots.load(std::memory_order_relaxed);
}

uint64_t captureBufferPresortComparisons(const CaptureBuffer *buffer) {
    if (buffer == nullptr) return 0;
    return buffer->presortComparisons.load(std::memory_order_relaxed);
}

void captureBufferDestroy(CaptureBuffer *buffer) {
    if (buffer == nullptr) return;
    if (buffer->prefaulter != nullptr) {
        buffer->prefaulter->stop.store(true);
        buffer->prefaulter->thread.join();
        delete buffer->prefaulter;
        buffer->prefaulter = nullptr;
    }
    {
        // Whoever still holds the lock finishes first.
        std::lock_guard<std::mutex> lock(buffer->mutex);
        recordListDetachAll(&buffer->freeList);
        recordListDetachAll(&buffer->presortList);
    }
    delete buffer->presortIndex;
    munmap(buffer->slots, poolBytes(buffer->slotCount));
    delete buffer;
}
