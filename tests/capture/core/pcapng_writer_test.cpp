// Block layouts of the pcapng stream, checked byte by byte from the file the
// writer produced, and a write into a FIFO whose reader has gone.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture_buffer.h"
#include "pcapng_writer.h"
#include "temp_dir.h"

namespace {

uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t le16(const std::vector<uint8_t> &b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint64_t le64(const std::vector<uint8_t> &b, size_t at) {
    return le32(b, at) | (static_cast<uint64_t>(le32(b, at + 4)) << 32);
}

// A FIFO in `dir` with Wireshark's end already open (non-blocking, its
// descriptor in *reader) and a writer on it that has written the header;
// none when any step fails.
PcapngWriter *writerOnFifo(const TempDir &dir, const char *name, int *reader) {
    const std::string fifo = dir.file(name);
    if (mkfifo(fifo.c_str(), 0600) != 0) return nullptr;
    *reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (*reader < 0) return nullptr;
    PcapngWriter *w = pcapngWriterCreate(fifo.c_str(), nullptr);
    if (w != nullptr && pcapngWriteHeader(w, kPcapngInterfaceName) != 0) {
        pcapngWriterClose(w);
        return nullptr;
    }
    return w;
}

PacketRecord makeRecord(uint16_t captured, uint16_t onWire, int64_t stamp, uint32_t flags, int64_t drops) {
    PacketRecord r{};
    r.timestamp = stamp;
    r.flags = flags;
    r.frameLength = onWire;
    r.capturedLength = captured;
    r.dropCount = drops;
    for (uint32_t i = 0; i < captured; ++i) r.data[i] = static_cast<uint8_t>(0xA0 + i);
    return r;
}

TEST(PcapngWriter, HeaderBlocksAreThirtyTwoAndFortyEightBytes) {
    TempDir dir;
    const std::string path = dir.file("header.pcapng");
    {
        std::ofstream old(path, std::ios::binary);  // a longer stream of an earlier run is replaced
        old << std::string(500, 'x');
    }
    PcapngWriter *w = pcapngWriterCreate(path.c_str(), nullptr);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(pcapngWriteHeader(w, kPcapngInterfaceName), 0);
    ASSERT_EQ(pcapngWriteHeader(w, kPcapngInterfaceName), 0);  // once per stream
    EXPECT_EQ(w->bytesWritten, 80u);
    pcapngWriterClose(w);

    // clang-format off
    const std::vector<uint8_t> expected = {
        // section header block
        0x0A, 0x0D, 0x0D, 0x0A, 32, 0, 0, 0, 0x4D, 0x3C, 0x2B, 0x1A, 1, 0, 0, 0,  //
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 32, 0, 0, 0,  //
        // interface description block: Ethernet, snap length 65535
        1, 0, 0, 0, 48, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0, 0,  //
        9, 0, 1, 0, 9, 0, 0, 0,                                  // if_tsresol = 9
        2, 0, 9, 0, 'Q', '4', '0', 'T', 'A', '5', '5', '2', '1', 0, 0, 0,  // if_name
        0, 0, 0, 0, 48, 0, 0, 0};
    // clang-format on
    EXPECT_EQ(readWholeFile(path), expected);
}

TEST(PcapngWriter, PacketBlocksPadTheDataAndCarryFlagsAndDropCount) {
    TempDir dir;
    const std::string path = dir.file("packets.pcapng");
    PcapngWriter *w = pcapngWriterCreate(path.c_str(), nullptr);
    ASSERT_NE(w, nullptr);
    const int64_t stamp = 0x0123456789ABCDEFLL;
    const PacketRecord aligned = makeRecord(60, 60, stamp, 0x81000002u, 10);
    const PacketRecord padded = makeRecord(61, 1514, stamp + 1, 0x00100001u, 0);
    ASSERT_EQ(pcapngWritePacket(w, &aligned), 0);
    ASSERT_EQ(pcapngWritePacket(w, &padded), 0);
    EXPECT_EQ(w->bytesWritten, 116u + 120u);
    pcapngWriterClose(w);

    const auto b = readWholeFile(path);
    ASSERT_EQ(b.size(), 236u);
    // 60 bytes: options right behind the data.
    EXPECT_EQ(le32(b, 0), 6u);
    EXPECT_EQ(le32(b, 4), 116u);
    EXPECT_EQ(le32(b, 8), 0u);
    EXPECT_EQ(le32(b, 12), 0x01234567u);
    EXPECT_EQ(le32(b, 16), 0x89ABCDEFu);
    EXPECT_EQ(le32(b, 20), 60u);
    EXPECT_EQ(le32(b, 24), 60u);
    EXPECT_EQ(b[28], 0xA0);
    EXPECT_EQ(b[28 + 59], 0xA0 + 59);
    EXPECT_EQ(le16(b, 88), 2);  // epb_flags
    EXPECT_EQ(le16(b, 90), 4);
    EXPECT_EQ(le32(b, 92), 0x81000002u);
    EXPECT_EQ(le16(b, 96), 4);  // epb_dropcount
    EXPECT_EQ(le16(b, 98), 8);
    EXPECT_EQ(le64(b, 100), 10u);
    EXPECT_EQ(le32(b, 108), 0u);  // end of options
    EXPECT_EQ(le32(b, 112), 116u);
    // 61 bytes: three zero bytes, then the options.
    const size_t p = 116;
    EXPECT_EQ(le32(b, p + 4), 120u);
    EXPECT_EQ(le32(b, p + 16), 0x89ABCDF0u);
    EXPECT_EQ(le32(b, p + 20), 61u);
    EXPECT_EQ(le32(b, p + 24), 1514u);
    EXPECT_EQ(b[p + 28 + 60], 0xA0 + 60);
    EXPECT_EQ(b[p + 28 + 61], 0);
    EXPECT_EQ(b[p + 28 + 62], 0);
    EXPECT_EQ(b[p + 28 + 63], 0);
    EXPECT_EQ(le16(b, p + 92), 2);
    EXPECT_EQ(le32(b, p + 96), 0x00100001u);
    EXPECT_EQ(le32(b, p + 116), 120u);
}

TEST(PcapngWriter, RefusesWhatCannotBeWritten) {
    TempDir dir;
    PcapngWriter *w = pcapngWriterCreate(dir.file("refuse.pcapng").c_str(), nullptr);
    ASSERT_NE(w, nullptr);
    PacketRecord tooLong = makeRecord(60, 60, 1, 0, 0);
    tooLong.capturedLength = kRecordDataCapacity + 1;
    EXPECT_EQ(pcapngWritePacket(w, &tooLong), -1);
    EXPECT_EQ(pcapngWritePacket(w, nullptr), -1);
    EXPECT_EQ(pcapngWriteHeader(w, nullptr), -1);
    const std::string longName(3000, 'x');
    EXPECT_EQ(pcapngWriteHeader(w, longName.c_str()), -1);
    EXPECT_EQ(pcapngWritePacket(nullptr, &tooLong), -1);
    pcapngWriterClose(w);
    pcapngWriterClose(nullptr);

    testing::internal::CaptureStdout();
    EXPECT_EQ(pcapngWriterCreate(dir.file("missing/folder.pcapng").c_str(), nullptr), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Access violation"), std::string::npos);
}

TEST(PcapngWriter, WriteFailsOnceTheFifoReaderHasGone) {
    TempDir dir;
    // Wireshark's side: a reader that takes the header and then goes away.
    int reader = -1;
    PcapngWriter *w = writerOnFifo(dir, "wireshark.fifo", &reader);
    ASSERT_NE(w, nullptr);
    uint8_t got[80];
    ASSERT_EQ(read(reader, got, sizeof got), 80);
    EXPECT_EQ(got[0], 0x0A);
    EXPECT_EQ(got[32], 1);
    close(reader);
    const PacketRecord r = makeRecord(60, 60, 1, 1, 0);
    EXPECT_EQ(pcapngWritePacket(w, &r), -1);
    EXPECT_EQ(w->bytesWritten, 80u);
    pcapngWriterClose(w);
}

TEST(PcapngWriter, BatchedBlocksReachTheFileOnFlushAndMatchSingleWrites) {
    TempDir dir;
    const std::string single = dir.file("single.pcapng");
    const std::string batched = dir.file("batched.pcapng");
    PcapngWriter *a = pcapngWriterCreate(single.c_str(), nullptr);
    PcapngWriter *b = pcapngWriterCreate(batched.c_str(), nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(pcapngWriteHeader(a, kPcapngInterfaceName), 0);
    ASSERT_EQ(pcapngWriteHeader(b, kPcapngInterfaceName), 0);
    EXPECT_EQ(pcapngWriterSetBatching(b, 100), -1);  // smaller than one block
    ASSERT_EQ(pcapngWriterSetBatching(b, 4096), 0);
    // 1536-byte frames make 1592-byte blocks: the third one overflows the batch.
    for (int i = 0; i < 3; ++i) {
        const PacketRecord r = makeRecord(static_cast<uint16_t>(kRecordDataCapacity), 1600, 1000 + i, 1, i);
        ASSERT_EQ(pcapngWritePacket(a, &r), 0);
        ASSERT_EQ(pcapngWritePacket(b, &r), 0);
    }
    EXPECT_EQ(readWholeFile(batched).size(), 80u + 2 * 1592u);
    const PacketRecord last = makeRecord(61, 61, 2000, 2, 0);
    ASSERT_EQ(pcapngWritePacket(a, &last), 0);
    ASSERT_EQ(pcapngWritePacket(b, &last), 0);
    ASSERT_EQ(pcapngWriterFlush(b), 0);
    EXPECT_EQ(b->bytesWritten, a->bytesWritten);
    pcapngWriterClose(a);
    const auto expected = readWholeFile(single);
    EXPECT_EQ(readWholeFile(batched), expected);
    ASSERT_EQ(pcapngWritePacket(b, &last), 0);
    pcapngWriterClose(b);  // what is still collected goes out at close
    EXPECT_EQ(readWholeFile(batched).size(), expected.size() + 120u);
}

TEST(PcapngWriter, BatchFlushFailsOnceTheFifoReaderHasGone) {
    TempDir dir;
    const std::string fifo = dir.file("batched.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    PcapngWriter *w = pcapngWriterCreate(fifo.c_str(), nullptr);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(pcapngWriterSetBatching(w, 65536), 0);
    const PacketRecord r = makeRecord(60, 60, 1, 1, 0);
    ASSERT_EQ(pcapngWritePacket(w, &r), 0);
    close(reader);
    EXPECT_EQ(pcapngWriterFlush(w), -1);
    pcapngWriterClose(w);
}

TEST(PcapngWriter, StopWithASlowReaderEndsOnABlockBoundaryAndCountsTheDroppedBlocks) {
    TempDir dir;
    int reader = -1;
    PcapngWriter *w = writerOnFifo(dir, "slow.fifo", &reader);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(pcapngWriterSetBatching(w, 256 * 1024), 0);
    std::atomic<int> stop{0};
    pcapngWriterSetStopSignal(w, &stop, 50);
    // 150 blocks of 1592 bytes wait in the batch: far more than the pipe holds.
    constexpr uint32_t kBlocks = 150, kBlock = 1592;
    for (uint32_t i = 0; i < kBlocks; ++i) {
        const PacketRecord r = makeRecord(static_cast<uint16_t>(kRecordDataCapacity), 1600, 1000 + i, 1, 0);
        ASSERT_EQ(pcapngWritePacket(w, &r), 0);
    }
    // A reader that takes about 800 kB/s.
    std::atomic<bool> done{false};
    std::string got;
    std::thread slow([&] {
        char chunk[4096];
        ssize_t n;
        while (!done.load()) {
            if ((n = read(reader, chunk, sizeof chunk)) > 0) got.append(chunk, static_cast<size_t>(n));
            usleep(5000);
        }
        while ((n = read(reader, chunk, sizeof chunk)) > 0) got.append(chunk, static_cast<size_t>(n));
    });
    stop.store(1);
    EXPECT_EQ(pcapngWriterFlush(w), 0);
    done.store(true);
    slow.join();
    close(reader);

    ASSERT_GT(got.size(), 80u);
    EXPECT_EQ((got.size() - 80) % kBlock, 0u) << got.size();
    const uint64_t whole = (got.size() - 80) / kBlock;
    EXPECT_GT(whole, 0u);
    EXPECT_LT(whole, kBlocks);
    EXPECT_EQ(w->packetsDropped, kBlocks - whole);
    EXPECT_EQ(w->bytesWritten, got.size());
    // Later blocks are dropped at once: the stop's time is spent.
    const PacketRecord r = makeRecord(60, 60, 5000, 1, 0);
    ASSERT_EQ(pcapngWritePacket(w, &r), 0);
    EXPECT_EQ(pcapngWriterFlush(w), 0);
    EXPECT_EQ(w->packetsDropped, kBlocks - whole + 1);
    pcapngWriterClose(w);
}

}  // namespace
