// The capture buffer is sized against the free physical memory the system reports.
#include <gtest/gtest.h>

#include "capture_session.h"
#include "replay_harness.h"

using namespace replaytest;

namespace {
constexpr int64_t kGiB = 1073741824;
}

TEST(BufferSizing, HalvesUntilThePoolFitsFreeMemoryLessTheReserve) {
    bool reduced = false;
    // 2 GiB free, 4194304 chosen: 4259840 is halved to 532480 ((532480 + 1024) * 1576 <= 1 GiB).
    EXPECT_EQ(fitBufferToMemory(4259840, 2 * kGiB, &reduced), 532480u);
    EXPECT_TRUE(reduced);
    EXPECT_EQ(fitBufferToMemory(327680, 2 * kGiB, &reduced), 327680u);
    EXPECT_FALSE(reduced);
    // Exactly fitting is kept.
    EXPECT_EQ(fitBufferToMemory(327680, kGiB + int64_t{328704} * 1576, &reduced), 327680u);
    EXPECT_FALSE(reduced);
    EXPECT_EQ(fitBufferToMemory(327680, kGiB + int64_t{328704} * 1576 - 1, &reduced), 163840u);
    EXPECT_TRUE(reduced);
}

TEST(BufferSizing, LessFreeMemoryThanTheReserveStopsAtTheSmallestSize) {
    bool reduced = false;
    EXPECT_EQ(fitBufferToMemory(4259840, kGiB / 2, &reduced), kSmallestBufferSize);
    EXPECT_TRUE(reduced);
    EXPECT_EQ(fitBufferToMemory(327680, 0, &reduced), kSmallestBufferSize);
    // Unknown free memory keeps the size.
    EXPECT_EQ(fitBufferToMemory(4259840, -1, &reduced), 4259840u);
    EXPECT_FALSE(reduced);
}

TEST(BufferSizing, ReadsMemAvailableFromMeminfo) {
    TempDir dir;
    writeFile(dir.file("meminfo"),
              "MemTotal:       24000000 kB\nMemFree:         1000 kB\nMemAvailable:    2097152 kB\n");
    EXPECT_EQ(readMemAvailableBytes(dir.file("meminfo").c_str()), 2 * kGiB);
    writeFile(dir.file("old"), "MemTotal:       24000000 kB\nMemFree:         1000 kB\n");
    EXPECT_EQ(readMemAvailableBytes(dir.file("old").c_str()), -1);
    EXPECT_EQ(readMemAvailableBytes(dir.file("absent").c_str()), -1);
    EXPECT_GT(readMemAvailableBytes("/proc/meminfo"), 0);
}
