// The record list and the capture buffer's presort and release rule.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "capture_buffer.h"
#include "record_list.h"

namespace {

struct BufferDeleter {
    void operator()(CaptureBuffer *b) const { captureBufferDestroy(b); }
};
using BufferPtr = std::unique_ptr<CaptureBuffer, BufferDeleter>;

BufferPtr makeBuffer(uint32_t slots, int32_t holdBack = kInitialHoldBack) {
    return BufferPtr(captureBufferCreate(slots, holdBack));
}

void insertStamp(CaptureBuffer *b, int64_t stamp, uint16_t tag) {
    PacketRecord *r = captureBufferTakeFree(b);
    ASSERT_NE(r, nullptr);
    r->timestamp = stamp;
    r->frameLength = tag;
    ASSERT_EQ(captureBufferInsertSorted(b, r), 0);
}

// Drains everything (hold-back 0) and answers (stamp, tag) in release order.
std::vector<std::pair<int64_t, uint16_t>> drain(CaptureBuffer *b) {
    captureBufferSetHoldBack(b, 0);
    std::vector<std::pair<int64_t, uint16_t>> out;
    while (PacketRecord *r = captureBufferTakeReady(b)) {
        out.emplace_back(r->timestamp, r->frameLength);
        captureBufferGiveBack(b, r);
    }
    return out;
}

TEST(RecordList, SentinelsAndOperations) {
    RecordList list;
    recordListInit(&list);
    EXPECT_TRUE(recordListEmpty(&list));
    EXPECT_TRUE(recordNodeIsTail(recordListFirst(&list)));
    EXPECT_TRUE(recordNodeIsHead(recordListLast(&list)));
    EXPECT_EQ(recordListRemoveHead(&list), nullptr);
    EXPECT_EQ(recordListDetachAll(&list), nullptr);

    RecordNode a, b, c;
    recordNodeInit(&a);
    recordNodeInit(&b);
    recordNodeInit(&c);
    recordListAddTail(&list, &b);
    recordListInsertAfter(recordListHead(&list), &a);  // before b
    recordListAddTail(&list, &c);
    EXPECT_EQ(recordListFirst(&list), &a);
    EXPECT_EQ(a.next, &b);
    EXPECT_EQ(b.next, &c);
    EXPECT_EQ(recordListLast(&list), &c);
    EXPECT_TRUE(recordNodeIsTail(c.next));
    EXPECT_TRUE(recordNodeIsHead(a.prev));

    RecordNode *head = recordListRemoveHead(&list);
    EXPECT_EQ(head, &a);
    EXPECT_EQ(a.next, &a);  // self-linked once out of the list
    EXPECT_EQ(a.prev, &a);
    EXPECT_TRUE(recordNodeIsHead(b.prev));

    RecordNode *ring = recordListDetachAll(&list);
    EXPECT_EQ(ring, &b);
    EXPECT_EQ(b.next, &c);
    EXPECT_EQ(c.next, &b);  // left joined in a ring
    EXPECT_EQ(b.prev, &c);
    EXPECT_TRUE(recordListEmpty(&list));
}

TEST(CaptureBuffer, ReleasesOnlyBeyondTheHoldBack) {
    auto b = makeBuffer(64);
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < 33; ++i) insertStamp(b.get(), 1000 + i, static_cast<uint16_t>(i));
    EXPECT_EQ(captureBufferLevel(b.get()), 33);
    PacketRecord *first = captureBufferTakeReady(b.get());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->timestamp, 1000);
    EXPECT_EQ(captureBufferTakeReady(b.get()), nullptr);
    EXPECT_EQ(captureBufferRemaining(b.get()), 32);
    // The level is the one computed at the last insertion.
    EXPECT_EQ(captureBufferLevel(b.get()), 33);
    captureBufferGiveBack(b.get(), first);
}

TEST(CaptureBuffer, EqualStampsKeepArrivalOrder) {
    auto b = makeBuffer(16);
    insertStamp(b.get(), 10, 1);
    insertStamp(b.get(), 30, 2);
    insertStamp(b.get(), 20, 3);
    insertStamp(b.get(), 20, 4);
    insertStamp(b.get(), 5, 5);  // earlier than everything: goes first
    const auto order = drain(b.get());
    const std::vector<std::pair<int64_t, uint16_t>> expected = {{5, 5}, {10, 1}, {20, 3}, {20, 4}, {30, 2}};
    EXPECT_EQ(order, expected);
}

TEST(CaptureBuffer, HostileStampsFindTheirPlaceInFewComparisons) {
    // A full buffer of records in order, then records stamped before all of
    // them, into the middle, and equal to stored ones, as a crafted dump can
    // send them. Each must be placed without walking the stored records, and
    // the release order is still the stamp order with arrivals kept for equal
    // stamps.
    constexpr int kStored = 60000;
    constexpr int kHostile = 180;
    auto b = makeBuffer(kStored + 3 * kHostile);
    for (int i = 0; i < kStored; ++i) insertStamp(b.get(), 1000000 + 10 * int64_t{i}, 0);
    const uint64_t before = captureBufferPresortComparisons(b.get());
    EXPECT_LE(before, uint64_t{4} * kStored);  // in order: a few per record
    std::vector<int64_t> hostile;
    for (int i = 0; i < kHostile; ++i) {
        hostile.push_back(kHostile - i);                                      // older than all, newest first
        hostile.push_back(1000000 + 10 * int64_t{(i * 7919) % kStored} + 5);  // between two stored
        hostile.push_back(1000000 + 10 * int64_t{(i * 104729) % kStored});    // equal to a stored one
    }
    for (size_t i = 0; i < hostile.size(); ++i) insertStamp(b.get(), hostile[i], static_cast<uint16_t>(i + 1));
    const uint64_t perRecord = (captureBufferPresortComparisons(b.get()) - before) / hostile.size();
    EXPECT_LE(perRecord, 64u) << "comparisons per hostile record";

    const auto order = drain(b.get());
    ASSERT_EQ(order.size(), static_cast<size_t>(kStored) + hostile.size());
    for (size_t i = 1; i < order.size(); ++i) {
        ASSERT_LE(order[i - 1].first, order[i].first) << i;
        // A crafted record equal to a stored one comes after it.
        if (order[i - 1].first == order[i].first) {
            EXPECT_EQ(order[i - 1].second, 0) << i;
        }
    }
    EXPECT_EQ(order.front(), std::make_pair(int64_t{1}, static_cast<uint16_t>(3 * (kHostile - 1) + 1)));
}

TEST(CaptureBuffer, RunsOutOfSlotsAndGetsThemBack) {
    const uint32_t slots = 1024 + 4;  // N = 4
    auto b = makeBuffer(slots);
    std::vector<PacketRecord *> taken;
    while (PacketRecord *r = captureBufferTakeFree(b.get())) taken.push_back(r);
    EXPECT_EQ(taken.size(), slots);
    // Slots come out in array order, zero-filled, each exactly once.
    for (size_t i = 0; i < taken.size(); ++i) {
        ASSERT_EQ(taken[i], &b->slots[i]);
        EXPECT_EQ(taken[i]->timestamp, 0);
        EXPECT_EQ(taken[i]->data[kRecordDataCapacity - 1], 0);
    }
    EXPECT_EQ(captureBufferTakeFree(b.get()), nullptr);
    captureBufferGiveBack(b.get(), taken[7]);
    EXPECT_EQ(captureBufferTakeFree(b.get()), taken[7]);
    EXPECT_EQ(captureBufferTakeFree(b.get()), nullptr);
    for (PacketRecord *r : taken) captureBufferGiveBack(b.get(), r);
}

TEST(CaptureBuffer, NegativeHoldBackReleasesEverything) {
    auto b = makeBuffer(16);
    for (int i = 0; i < 3; ++i) insertStamp(b.get(), i, 0);
    EXPECT_EQ(captureBufferTakeReady(b.get()), nullptr);
    captureBufferSetHoldBack(b.get(), -32256);
    int released = 0;
    while (PacketRecord *r = captureBufferTakeReady(b.get())) {
        ++released;
        captureBufferGiveBack(b.get(), r);
    }
    EXPECT_EQ(released, 3);
    EXPECT_EQ(captureBufferRemaining(b.get()), 0);
}

TEST(CaptureBuffer, FailedCreationSaysSoOnTheConsole) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(captureBufferCreate(0, 32), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " >>> Error <<< Memory for capture buffer cannot be allocated.\n");
    EXPECT_EQ(captureBufferTakeReady(nullptr), nullptr);
    EXPECT_EQ(captureBufferRemaining(nullptr), -1);
}

TEST(CaptureBuffer, TwoThreadsHandOverEveryRecordInOrder) {
    // The capture thread inserts, the main thread drains: nothing is lost or
    // duplicated and the release order is the stamp order.
    constexpr int kRecords = 20000;
    auto b = makeBuffer(1024 + 256);
    std::thread producer([&] {
        for (int i = 0; i < kRecords; ++i) {
            PacketRecord *r = nullptr;
            while ((r = captureBufferTakeFree(b.get())) == nullptr) std::this_thread::yield();
            r->timestamp = i;
            captureBufferInsertSorted(b.get(), r);
        }
        captureBufferSetHoldBack(b.get(), 0);
    });
    int64_t expected = 0;
    while (expected < kRecords) {
        PacketRecord *r = captureBufferTakeReady(b.get());
        if (r == nullptr) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(r->timestamp, expected);
        ++expected;
        captureBufferGiveBack(b.get(), r);
    }
    producer.join();
    EXPECT_EQ(captureBufferRemaining(b.get()), 0);
}

}  // namespace
