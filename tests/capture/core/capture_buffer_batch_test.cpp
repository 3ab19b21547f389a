// The capture buffer's batched operations, the ones both capture threads use
// on their hot paths: each must do exactly what the same single operations
// would, and the dump processing must neither lose nor leak a slot with them.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "capture_buffer.h"
#include "processor_fixture.h"

namespace {

constexpr uint16_t kPort02Flag = 1;

struct BufferDeleter {
    void operator()(CaptureBuffer *b) const { captureBufferDestroy(b); }
};
using BufferPtr = std::unique_ptr<CaptureBuffer, BufferDeleter>;

BufferPtr makeBuffer(uint32_t slots, int32_t holdBack = kInitialHoldBack) {
    return BufferPtr(captureBufferCreate(slots, holdBack));
}

using Entry = std::pair<int64_t, uint16_t>;  // stamp, arrival tag

// Inserts the stamps with one single insert each.
void insertOneByOne(CaptureBuffer *b, const std::vector<int64_t> &stamps) {
    for (size_t i = 0; i < stamps.size(); ++i) {
        PacketRecord *r = captureBufferTakeFree(b);
        ASSERT_NE(r, nullptr);
        r->timestamp = stamps[i];
        r->frameLength = static_cast<uint16_t>(i);
        ASSERT_EQ(captureBufferInsertSorted(b, r), 0);
    }
}

// Inserts the stamps in groups of `group` through the batched calls.
void insertInBatches(CaptureBuffer *b, const std::vector<int64_t> &stamps, size_t group) {
    std::vector<PacketRecord *> slots(group);
    for (size_t start = 0; start < stamps.size(); start += group) {
        const uint32_t want = static_cast<uint32_t>(std::min(group, stamps.size() - start));
        ASSERT_EQ(captureBufferTakeFreeBatch(b, slots.data(), want), want);
        for (uint32_t i = 0; i < want; ++i) {
            slots[i]->timestamp = stamps[start + i];
            slots[i]->frameLength = static_cast<uint16_t>(start + i);
        }
        ASSERT_EQ(captureBufferInsertSortedBatch(b, slots.data(), want), 0);
    }
}

// Releases everything in batches of `group` and answers the release order.
std::vector<Entry> drainInBatches(CaptureBuffer *b, uint32_t group) {
    captureBufferSetHoldBack(b, 0);
    std::vector<Entry> out;
    std::vector<PacketRecord *> taken(group);
    while (uint32_t n = captureBufferTakeReadyBatch(b, taken.data(), group, nullptr)) {
        for (uint32_t i = 0; i < n; ++i) out.emplace_back(taken[i]->timestamp, taken[i]->frameLength);
        EXPECT_EQ(captureBufferGiveBackBatch(b, taken.data(), n), 0);
    }
    return out;
}

TEST(CaptureBufferBatch, BatchedInsertAndReleaseKeepThePresortOrderOfSingleCalls) {
    // Stamps out of order with many repeats, as two ports delivered late give.
    std::mt19937 random(7);
    std::vector<int64_t> stamps;
    for (int i = 0; i < 3000; ++i) stamps.push_back(static_cast<int64_t>(random() % 500) - 100);
    auto single = makeBuffer(4096);
    auto batched = makeBuffer(4096);
    insertOneByOne(single.get(), stamps);
    insertInBatches(batched.get(), stamps, 255);
    EXPECT_EQ(captureBufferLevel(batched.get()), 3000);
    const std::vector<Entry> expected = drainInBatches(single.get(), 1);
    const std::vector<Entry> got = drainInBatches(batched.get(), 1000);
    ASSERT_EQ(got.size(), stamps.size());
    EXPECT_EQ(got, expected);
    // Ascending stamps; equal stamps in arrival order.
    for (size_t i = 1; i < got.size(); ++i) {
        ASSERT_LE(got[i - 1].first, got[i].first) << i;
        if (got[i - 1].first == got[i].first) {
            ASSERT_LT(got[i - 1].second, got[i].second) << i;
        }
    }
}

TEST(CaptureBufferBatch, ReleaseBatchStopsAtTheHoldBackAndCountsWhatWaitsBehind) {
    auto b = makeBuffer(128, 32);
    std::vector<int64_t> stamps;
    for (int i = 0; i < 45; ++i) stamps.push_back(i);
    insertInBatches(b.get(), stamps, 16);
    PacketRecord *taken[64];
    int64_t behind = -1;
    // 45 waiting, 32 kept back: at most 13 go, here in two batches of 10 and 3.
    ASSERT_EQ(captureBufferTakeReadyBatch(b.get(), taken, 10, &behind), 10u);
    EXPECT_EQ(behind, 35);
    EXPECT_EQ(taken[0]->timestamp, 0);
    EXPECT_EQ(taken[9]->timestamp, 9);
    ASSERT_EQ(captureBufferTakeReadyBatch(b.get(), taken + 10, 64, &behind), 3u);
    EXPECT_EQ(behind, 32);
    EXPECT_EQ(captureBufferTakeReadyBatch(b.get(), taken, 64, &behind), 0u);
    EXPECT_EQ(behind, 32);
    EXPECT_EQ(captureBufferRemaining(b.get()), 32);
    // The slots in hand are on neither list until given back.
    EXPECT_EQ(captureBufferFreeCount(b.get()), 128 - 45);
    ASSERT_EQ(captureBufferGiveBackBatch(b.get(), taken, 13), 0);
    EXPECT_EQ(captureBufferFreeCount(b.get()), 128 - 32);
}

TEST(CaptureBufferBatch, NegativeHoldBackReleasesEverythingLikeZero) {
    auto b = makeBuffer(64);
    insertInBatches(b.get(), {5, 3, 4}, 3);
    captureBufferSetHoldBack(b.get(), -32256);
    PacketRecord *taken[8];
    int64_t behind = -1;
    ASSERT_EQ(captureBufferTakeReadyBatch(b.get(), taken, 8, &behind), 3u);
    EXPECT_EQ(behind, 0);
    EXPECT_EQ(taken[0]->timestamp, 3);
    EXPECT_EQ(taken[2]->timestamp, 5);
    captureBufferGiveBackBatch(b.get(), taken, 3);
}

TEST(CaptureBufferBatch, FreeBatchHandsOutWhatIsLeftAndTheCountFollowsEveryPath) {
    auto b = makeBuffer(10);
    PacketRecord *slots[16];
    EXPECT_EQ(captureBufferTakeFreeBatch(b.get(), slots, 4), 4u);
    PacketRecord *single = captureBufferTakeFree(b.get());
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(captureBufferFreeCount(b.get()), 5);
    // Fewer free than asked for: the rest, and then nothing.
    EXPECT_EQ(captureBufferTakeFreeBatch(b.get(), slots + 4, 16), 5u);
    EXPECT_EQ(captureBufferTakeFreeBatch(b.get(), slots, 16), 0u);
    EXPECT_EQ(captureBufferTakeFree(b.get()), nullptr);
    EXPECT_EQ(captureBufferFreeCount(b.get()), 0);
    ASSERT_EQ(captureBufferGiveBack(b.get(), single), 0);
    ASSERT_EQ(captureBufferGiveBackBatch(b.get(), slots, 9), 0);
    EXPECT_EQ(captureBufferFreeCount(b.get()), 10);
    // Every slot is distinct and came back: all ten can be taken again.
    EXPECT_EQ(captureBufferTakeFreeBatch(b.get(), slots, 16), 10u);
    for (int i = 0; i < 10; ++i)
        for (int j = i + 1; j < 10; ++j) ASSERT_NE(slots[i], slots[j]);
    captureBufferGiveBackBatch(b.get(), slots, 10);
}

TEST(CaptureBufferBatch, MissingBufferOrRecordsAreRefused) {
    PacketRecord *slots[2] = {nullptr, nullptr};
    int64_t behind = -1;
    EXPECT_EQ(captureBufferTakeFreeBatch(nullptr, slots, 2), 0u);
    EXPECT_EQ(captureBufferInsertSortedBatch(nullptr, slots, 2), -1);
    EXPECT_EQ(captureBufferTakeReadyBatch(nullptr, slots, 2, &behind), 0u);
    EXPECT_EQ(behind, 0);
    EXPECT_EQ(captureBufferGiveBackBatch(nullptr, slots, 2), -1);
    EXPECT_EQ(captureBufferFreeCount(nullptr), -1);
    auto b = makeBuffer(4);
    EXPECT_EQ(captureBufferInsertSortedBatch(b.get(), nullptr, 1), -1);
    EXPECT_EQ(captureBufferGiveBackBatch(b.get(), nullptr, 1), -1);
    EXPECT_EQ(captureBufferInsertSortedBatch(b.get(), nullptr, 0), 0);
    EXPECT_EQ(captureBufferTakeReadyBatch(b.get(), nullptr, 4, nullptr), 0u);
    EXPECT_EQ(captureBufferFreeCount(b.get()), 4);
}

// The dump processing takes a dump's slots together and hands them over
// together: slots of skipped records and of records after a fault go back.
class DumpSlotsTest : public ProcessorTest {
protected:
    // Slots neither free nor waiting: lost to the pool.
    int64_t leaked() const {
        return static_cast<int64_t>(buffer->slotCount) - captureBufferFreeCount(buffer) -
               captureBufferRemaining(buffer);
    }
};

TEST_F(DumpSlotsTest, SkippedRecordsOfADisabledPortGiveTheirSlotsBack) {
    settings.port02Enabled = 0;
    create(64, kCaptureLive);
    // Ten dumps of 20 records, half of them port 02: 100 stored in 64 slots
    // only if the skipped records' slots come back every time.
    uint32_t low = 0;
    std::vector<Stored> all;
    for (int d = 0; d < 10; ++d) {
        DumpBuilder b;
        b.dumpTotal = static_cast<uint16_t>(d * 20);
        for (int i = 0; i < 20; ++i, ++low) b.add(low, 64, i % 2 ? kPort02Flag : 0);
        ASSERT_EQ(feed(b), 0) << "dump " << d;
        EXPECT_EQ(leaked(), 0);
        EXPECT_EQ(captureBufferLevel(buffer), 10);
        for (const Stored &s : drain()) all.push_back(s);
    }
    ASSERT_EQ(all.size(), 100u);
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].timestamp, kStartNs + static_cast<int64_t>(2 * i) * 20);
}

TEST_F(DumpSlotsTest, RecordsBeforeACutRecordHeadStayStoredAndNoSlotIsLost) {
    DumpBuilder b;
    b.add(10).add(20).add(30).add(40);
    const std::vector<uint8_t> frame = b.build();
    // Cut inside the head of the third record: two records are stored.
    const size_t cut = 64 + 2 * (8 + 64) + 4;
    ASSERT_EQ(feedBytes(frame, cut), -1);
    EXPECT_EQ(leaked(), 0);
    EXPECT_EQ(captureBufferLevel(buffer), 2);
    const auto out = drain();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].timestamp - out[0].timestamp, 10 * 20);
}

TEST_F(DumpSlotsTest, OverflowInsideADumpKeepsTheRecordsThatHadASlot) {
    create(6, kCaptureLive);
    DumpBuilder b;
    for (uint32_t i = 0; i < 9; ++i) b.add(i);
    EXPECT_EQ(feed(b), -1);
    EXPECT_TRUE(sink.saw("Packet #7: Performance leak - overflow of presort buffer"));
    EXPECT_EQ(leaked(), 0);
    EXPECT_EQ(drain().size(), 6u);
    EXPECT_EQ(captureBufferFreeCount(buffer), 6);
}

}  // namespace
