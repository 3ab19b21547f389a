// The pcapng stream handed to Wireshark: one section, one Ethernet interface
// with nanosecond timestamps, one enhanced packet block per captured frame
// with the packet flags word (epb_flags) and the drop count (epb_dropcount).
// Each block is built in one buffer and written with one write.
#pragma once

#include <atomic>
#include <cstdint>

#include "capture_context.h"
#include "pcapng_format.h"

struct ControlChannel;
struct FileHandle;
struct PacketRecord;

// The writer's own choices; the block layouts are in pcapng_format.h.
namespace pcapng {
constexpr uint32_t kBlockBufferBytes = 2048;
constexpr uint32_t kSnapLength = 65535;
// An enhanced packet block without its padded data: fixed part, epb_flags,
// epb_dropcount, end of options and trailer.
constexpr uint32_t kEnhancedPacketFixedLength =
    enhancedPacketLength(0, optionLength(4) + optionLength(8) + kOptionHeaderLength);
static_assert(kEnhancedPacketFixedLength == 56, "an enhanced packet block's fixed part");
}  // namespace pcapng

// The interface name every stream carries.
constexpr const char *kPcapngInterfaceName = "Q40TA5521";

struct PcapngWriter {
    char path[kPathChars];
    bool open;
    ControlChannel *control;  // held for messages of the owner
    FileHandle *file;
    uint32_t bytesWritten;  // handed to the file so far
    uint8_t block[pcapng::kBlockBufferBytes];
    // Optional batching (off unless asked for): packet blocks are collected
    // here and handed to the file in one write by pcapngWriterFlush.
    uint8_t *batch;
    uint32_t batchCapacity;
    uint32_t batchUsed;
    // Bounded stop (off unless asked for): once *stopCounter is non-zero the
    // stream gets `stopBudgetNs` more to take what is collected; after that
    // whole blocks are dropped instead of written.
    const std::atomic<int> *stopCounter;
    int64_t stopBudgetNs;
    int64_t stopDeadlineNs;   // steady clock; 0 until the stop was seen
    uint64_t packetsDropped;  // packet blocks dropped at the stop
};

// Opens `path` for writing (created or truncated; an existing FIFO is opened
// at its client end); none on failure.
PcapngWriter *pcapngWriterCreate(const char *path, ControlChannel *control);

// Section header and interface description, only while nothing has been
// written yet. 0, or -1 when a block cannot be built or written.
int pcapngWriteHeader(PcapngWriter *writer, const char *interfaceName);

// One enhanced packet block from the record. 0, or -1 when the block does
// not fit the block buffer or the write fails.
int pcapngWritePacket(PcapngWriter *writer, const PacketRecord *record);

// Batching: with a capacity of at least one block buffer, packet blocks are
// collected and written together, when the batch is full or at
// pcapngWriterFlush. One write per block costs a system call per packet; a
// main loop that drains the buffer in passes turns batching on and flushes
// at the end of every pass, so the reader still gets every packet within the
// pass that released it. A capacity of 0 flushes and turns batching off.
// 0, or -1 (nothing changed) when the memory or the flush fails.
int pcapngWriterSetBatching(PcapngWriter *writer, uint32_t capacity);

// Writes the collected blocks; 0 (also when nothing is pending), or -1 when
// the write fails, e.g. because the FIFO's reader has gone.
int pcapngWriterFlush(PcapngWriter *writer);

// A stop that must end within a grace time. A FIFO whose reader is slow
// takes the collected blocks slowly, and a process that ends in the middle
// of a write leaves a torn block the reader cannot parse. Once `*counter`
// turns non-zero, the writer gives the stream `budgetMs` more; then it
// completes the block it is in the middle of (waiting at most `budgetMs`
// again) and drops every later block whole, counting them in
// packetsDropped. Without this every write waits for the reader.
void pcapngWriterSetStopSignal(PcapngWriter *writer, const std::atomic<int> *counter, int budgetMs);

// Writes what is still collected, closes the file and frees the writer; none
// is ignored.
void pcapngWriterClose(PcapngWriter *writer);
