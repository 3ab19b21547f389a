#include "pcapng_writer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "capture_buffer.h"
#include "file_layer.h"

using namespace pcapng;

namespace {

// Appends little-endian fields to the block buffer. The caller checks the
// block's total length against the buffer before it starts.
class BlockBuilder {
public:
    explicit BlockBuilder(uint8_t *block) : block_(block) {}
    void u16(uint16_t value) {
        block_[at_++] = static_cast<uint8_t>(value);
        block_[at_++] = static_cast<uint8_t>(value >> 8);
    }
    void u32(uint32_t value) {
        u16(static_cast<uint16_t>(value));
        u16(static_cast<uint16_t>(value >> 16));
    }
    void u64(uint64_t value) {
        u32(static_cast<uint32_t>(value));
        u32(static_cast<uint32_t>(value >> 32));
    }
    void option(uint16_t code, uint16_t length) {
        u16(code);
        u16(length);
    }
    void bytesPadded(const void *data, uint32_t length) {
        std::memcpy(block_ + at_, data, length);
        at_ += length;
        const uint32_t padded = padToFour(length);
        std::memset(block_ + at_, 0, padded - length);
        at_ += padded - length;
    }
    uint32_t length() const { return at_; }

private:
    uint8_t *block_;
    uint32_t at_ = 0;
};

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Whether the stop's budget is used up (starting its clock when the stop is
// first seen).
bool stopBudgetSpent(PcapngWriter *writer) {
    if (writer->stopCounter == nullptr || writer->stopCounter->load() == 0) return false;
    const int64_t now = steadyNs();
    if (writer->stopDeadlineNs == 0) writer->stopDeadlineNs = now + writer->stopBudgetNs;
    return now >= writer->stopDeadlineNs;
}

// Total length of the block that starts at `block` (little-endian, as built).
uint32_t blockLength(const uint8_t *block) {
    const uint8_t *length = block + kBlockLengthOffset;
    return static_cast<uint32_t>(length[0]) | static_cast<uint32_t>(length[1]) << 8 |
           static_cast<uint32_t>(length[2]) << 16 | static_cast<uint32_t>(length[3]) << 24;
}

// End of the block that holds byte `at` of the batch (`at` itself when a
// block starts there); the batch holds whole blocks back to back.
uint32_t blockEndAfter(const uint8_t *batch, uint32_t used, uint32_t at) {
    uint32_t start = 0;
    while (start < at && start < used) {
        start += blockLength(batch + start);
    }
    return start < used ? start : used;
}

// Step of the stop-aware write: how long one wait for room may take, so the
// stop is noticed in time.
constexpr int kStopPollMs = 10;

// Writes `used` bytes of whole blocks, minding the stop: 0, or -1 when the
// file failed or the block in progress could not be completed in time.
int writeBlocksBounded(PcapngWriter *writer, const uint8_t *blocks, uint32_t used) {
    uint32_t done = 0;
    uint32_t end = used;
    int64_t tailDeadline = 0;
    while (done < end) {
        if (stopBudgetSpent(writer)) {
            // Finish the block in progress, drop the later ones whole.
            const uint32_t cut = blockEndAfter(blocks, used, done);
            if (cut < end) {
                for (uint32_t at = cut; at < end; at += blockLength(blocks + at)) ++writer->packetsDropped;
                end = cut;
            }
            if (done == end) break;
            if (tailDeadline == 0) tailDeadline = steadyNs() + writer->stopBudgetNs;
            if (steadyNs() >= tailDeadline) return -1;
        }
        const int64_t put = fileWriteSome(writer->file, blocks + done, end - done, kStopPollMs);
        if (put < 0) return -1;
        done += static_cast<uint32_t>(put);
        writer->bytesWritten += static_cast<uint32_t>(put);
    }
    return 0;
}

int writeBlock(PcapngWriter *writer, uint32_t length) {
    if (writer->stopCounter != nullptr) return writeBlocksBounded(writer, writer->block, length);
    if (fileWrite(writer->file, writer->block, length) != 0) return -1;
    writer->bytesWritten += length;
    return 0;
}

int writeSectionHeader(PcapngWriter *writer) {
    BlockBuilder b(writer->block);
    b.u32(kSectionHeaderType);
    b.u32(kSectionHeaderLength);
    b.u32(kByteOrderMagic);
    b.u16(kMajorVersion);
    b.u16(kMinorVersion);
    b.u64(static_cast<uint64_t>(kSectionLengthUnknown));
    b.option(kOptionEnd, 0);
    b.u32(kSectionHeaderLength);
    return writeBlock(writer, b.length());
}

int writeInterfaceDescription(PcapngWriter *writer, const char *name) {
    const size_t nameLength = std::strlen(name);
    // Fixed part with trailer 20, if_tsresol 8, if_name head 4, end of options 4.
    constexpr uint32_t kFixedLength =
        kInterfaceDescriptionFixedLength + optionLength(1) + kOptionHeaderLength + kOptionHeaderLength;
    static_assert(kFixedLength == 36, "an interface description's fixed part");
    if (nameLength > kBlockBufferBytes - kFixedLength) return -1;
    const uint32_t total = kFixedLength + padToFour(static_cast<uint32_t>(nameLength));
    if (total > kBlockBufferBytes) return -1;
    BlockBuilder b(writer->block);
    b.u32(kInterfaceDescriptionType);
    b.u32(total);
    b.u16(kLinkTypeEthernet);
    b.u16(0);
    b.u32(kSnapLength);
    b.option(kOptionIfTsresol, 1);
    const uint8_t resolution = kTsresolNanoseconds;
    b.bytesPadded(&resolution, 1);
    b.option(kOptionIfName, static_cast<uint16_t>(nameLength));
    b.bytesPadded(name, static_cast<uint32_t>(nameLength));
    b.option(kOptionEnd, 0);
    b.u32(total);
    return writeBlock(writer, b.length());
}

}  // namespace

PcapngWriter *pcapngWriterCreate(const char *path, ControlChannel *control) {
    if (path == nullptr || std::strlen(path) >= sizeof(PcapngWriter::path)) return nullptr;
    FileHandle *file = fileOpen(path, kFileWrite, kFileCreateTruncate);
    if (file == nullptr) return nullptr;
    auto *writer = new (std::nothrow) PcapngWriter();
    if (writer == nullptr) {
        fileClose(file);
        return nullptr;
    }
    std::snprintf(writer->path, sizeof writer->path, "%s", path);
    writer->open = true;
    writer->control = control;
    writer->file = file;
    return writer;
}

int pcapngWriteHeader(PcapngWriter *writer, const char *interfaceName) {
    if (writer == nullptr || !writer->open || interfaceName == nullptr) return -1;
    // The header opens the stream exactly once; a later call adds nothing.
    if (writer->bytesWritten != 0 || writer->batchUsed != 0) return 0;
    if (writeSectionHeader(writer) != 0) return -1;
    return writeInterfaceDescription(writer, interfaceName);
}

int pcapngWritePacket(PcapngWriter *writer, const PacketRecord *record) {
    if (writer == nullptr || !writer->open || record == nullptr) return -1;
    const uint32_t captured = record->capturedLength;
    if (captured > kRecordDataCapacity) return -1;
    const uint32_t total = kEnhancedPacketFixedLength + padToFour(captured);
    if (total > kBlockBufferBytes) return -1;
    if (writer->batch != nullptr && writer->batchCapacity - writer->batchUsed < total &&
        pcapngWriterFlush(writer) != 0) {
        return -1;
    }
    uint8_t *target = writer->batch != nullptr ? writer->batch + writer->batchUsed : writer->block;
    const uint64_t timestamp = static_cast<uint64_t>(record->timestamp);
    BlockBuilder b(target);
    b.u32(kEnhancedPacketType);
    b.u32(total);
    b.u32(0);  // interface id
    b.u32(static_cast<uint32_t>(timestamp >> 32));
    b.u32(static_cast<uint32_t>(timestamp));
    b.u32(captured);
    b.u32(record->frameLength);
    b.bytesPadded(record->data, captured);
    b.option(kOptionEpbFlags, 4);
    b.u32(record->flags);
    b.option(kOptionEpbDropCount, 8);
    b.u64(static_cast<uint64_t>(record->dropCount));
    b.option(kOptionEnd, 0);
    b.u32(total);
    if (writer->batch != nullptr) {
        writer->batchUsed += total;
        return 0;
    }
    return writeBlock(writer, b.length());
}

int pcapngWriterFlush(PcapngWriter *writer) {
    if (writer == nullptr || !writer->open) return -1;
    if (writer->batchUsed == 0) return 0;
    const uint32_t pending = writer->batchUsed;
    // A failed write loses the batch: the stream is broken either way.
    writer->batchUsed = 0;
    if (writer->stopCounter != nullptr) return writeBlocksBounded(writer, writer->batch, pending);
    if (fileWrite(writer->file, writer->batch, pending) != 0) return -1;
    writer->bytesWritten += pending;
    return 0;
}

void pcapngWriterSetStopSignal(PcapngWriter *writer, const std::atomic<int> *counter, int budgetMs) {
    if (writer == nullptr) return;
    writer->stopCounter = counter;
    writer->stopBudgetNs = static_cast<int64_t>(budgetMs) * 1000000;
    writer->stopDeadlineNs = 0;
}

int pcapngWriterSetBatching(PcapngWriter *writer, uint32_t capacity) {
    if (writer == nullptr || !writer->open) return -1;
    if (capacity != 0 && capacity < kBlockBufferBytes) return -1;
    if (pcapngWriterFlush(writer) != 0) return -1;
    uint8_t *batch = nullptr;
    if (capacity != 0) {
        batch = new (std::nothrow) uint8_t[capacity];
        if (batch == nullptr) return -1;
    }
    delete[] writer->batch;
    writer->batch = batch;
    writer->batchCapacity = capacity;
    return 0;
}

namespace {

// How long a finished stream waits for its reader to take the last blocks,
// and how long it then stays open.
constexpr int kDrainWaitMs = 2000;
constexpr int kLingerMs = 1000;

// Whether a stop signal asks for a quick end, or the reader has gone.
bool endNow(PcapngWriter *writer) {
    if (writer->stopCounter != nullptr && writer->stopCounter->load() != 0) return true;
    return filePipeReaderGone(writer->file);
}

// Wireshark's GUI stops its capture of a FIFO when the extcap program ends
// and shows nothing of a capture whose program ended before the GUI had set
// the capture up: a replay written in a few milliseconds came out as "No
// Packets". So a stream into a pipe ends only once the reader has taken
// everything, and then stays open a little longer, unless a stop signal
// asks for a quick end or the reader has gone.
void waitForTheReader(PcapngWriter *writer) {
    if (fileBytesWaiting(writer->file) < 0) return;  // not a pipe
    int waited = 0;
    for (; waited < kDrainWaitMs && fileBytesWaiting(writer->file) > 0; ++waited) {
        if (endNow(writer)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int lingered = 0; lingered < kLingerMs; lingered += 10) {
        if (endNow(writer)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

void pcapngWriterClose(PcapngWriter *writer) {
    if (writer == nullptr) return;
    if (pcapngWriterFlush(writer) == 0 && writer->open) waitForTheReader(writer);
    delete[] writer->batch;
    fileClose(writer->file);
    delete writer;
}
