// The capture buffer's pool: memory is touched only as slots are first
// taken, fresh slots come in pool order after the returned ones, and the
// background prefault faults the whole pool in and stops with the buffer.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "capture_buffer.h"

namespace {

struct BufferDeleter {
    void operator()(CaptureBuffer *b) const { captureBufferDestroy(b); }
};
using BufferPtr = std::unique_ptr<CaptureBuffer, BufferDeleter>;

// Resident bytes of this process.
int64_t residentBytes() {
    std::FILE *file = std::fopen("/proc/self/statm", "r");
    if (!file) return -1;
    long long size = 0, resident = 0;
    const int got = std::fscanf(file, "%lld %lld", &size, &resident);
    std::fclose(file);
    return got == 2 ? resident * sysconf(_SC_PAGESIZE) : -1;
}

constexpr uint32_t kLivePoolSlots = 327680 + kExtraSlots;  // the live capture's pool, 518 MB
constexpr int64_t kMiB = 1 << 20;

}  // namespace

TEST(CaptureBufferPool, LargePoolIsNotTouchedUntilItsSlotsAreTaken) {
    const int64_t before = residentBytes();
    ASSERT_GT(before, 0);
    BufferPtr buffer(captureBufferCreate(kLivePoolSlots, kInitialHoldBack));
    ASSERT_NE(buffer, nullptr);
    EXPECT_LT(residentBytes() - before, 16 * kMiB);
    EXPECT_EQ(captureBufferFreeCount(buffer.get()), kLivePoolSlots);

    // A replay that keeps a few thousand records in flight touches only those.
    std::vector<PacketRecord *> taken(4096);
    ASSERT_EQ(captureBufferTakeFreeBatch(buffer.get(), taken.data(), 4096), 4096u);
    for (PacketRecord *r : taken) r->data[kRecordDataCapacity - 1] = 1;
    const int64_t used = residentBytes() - before;
    EXPECT_GT(used, 4096 * static_cast<int64_t>(sizeof(PacketRecord)) / 2);
    EXPECT_LT(used, 16 * kMiB + 4096 * static_cast<int64_t>(sizeof(PacketRecord)));
}

TEST(CaptureBufferPool, FreshSlotsComeInPoolOrderAfterTheReturnedOnes) {
    BufferPtr buffer(captureBufferCreate(6, kInitialHoldBack));
    ASSERT_NE(buffer, nullptr);
    CaptureBuffer *b = buffer.get();
    PacketRecord *first = captureBufferTakeFree(b);
    PacketRecord *second = captureBufferTakeFree(b);
    ASSERT_EQ(first, &b->slots[0]);
    ASSERT_EQ(second, &b->slots[1]);
    EXPECT_EQ(captureBufferFreeCount(b), 4);
    // A fresh slot is its own, unlinked list node and all zero.
    EXPECT_EQ(first->links.next, &first->links);
    EXPECT_EQ(first->timestamp, 0);
    EXPECT_EQ(first->data[0], 0);

    ASSERT_EQ(captureBufferGiveBack(b, first), 0);
    EXPECT_EQ(captureBufferTakeFree(b), first);  // returned slots first
    EXPECT_EQ(captureBufferTakeFree(b), &b->slots[2]);
    ASSERT_EQ(captureBufferGiveBack(b, second), 0);

    // The batch form: the returned slot, then the rest of the pool, then none.
    PacketRecord *batch[8];
    ASSERT_EQ(captureBufferTakeFreeBatch(b, batch, 8), 4u);
    EXPECT_EQ(batch[0], second);
    EXPECT_EQ(batch[1], &b->slots[3]);
    EXPECT_EQ(batch[3], &b->slots[5]);
    EXPECT_EQ(captureBufferTakeFree(b), nullptr);
    EXPECT_EQ(captureBufferFreeCount(b), 0);

    // Everything given back is taken again, newest first.
    ASSERT_EQ(captureBufferGiveBackBatch(b, batch, 4), 0);
    EXPECT_EQ(captureBufferFreeCount(b), 4);
    EXPECT_EQ(captureBufferTakeFree(b), batch[3]);
}

TEST(CaptureBufferPool, PrefaultFaultsThePoolInOnItsOwn) {
    const uint32_t slots = static_cast<uint32_t>(64 * kMiB / sizeof(PacketRecord));
    const int64_t before = residentBytes();
    BufferPtr buffer(captureBufferCreate(slots, kInitialHoldBack));
    ASSERT_NE(buffer, nullptr);
    EXPECT_FALSE(captureBufferPrefaultDone(buffer.get()));
    ASSERT_EQ(captureBufferPrefaultStart(buffer.get()), 0);
    EXPECT_EQ(captureBufferPrefaultStart(buffer.get()), -1);  // one is running
    // Slots stay usable meanwhile.
    PacketRecord *r = captureBufferTakeFree(buffer.get());
    ASSERT_NE(r, nullptr);
    r->timestamp = 42;
    for (int i = 0; i < 30000 && !captureBufferPrefaultDone(buffer.get()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(captureBufferPrefaultDone(buffer.get()));
    EXPECT_GT(residentBytes() - before, 60 * kMiB);
    EXPECT_EQ(r->timestamp, 42);
}

TEST(CaptureBufferPool, DestroyStopsARunningPrefault) {
    // Freed under a prefault that is still running, the pool would be written
    // by the kernel on the thread's behalf after munmap (the sanitizer build
    // and the kernel both object); the destroy stops and joins it first.
    for (int round = 0; round < 3; ++round) {
        BufferPtr buffer(captureBufferCreate(kLivePoolSlots, kInitialHoldBack));
        ASSERT_NE(buffer, nullptr);
        ASSERT_EQ(captureBufferPrefaultStart(buffer.get()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(round));
    }
}
