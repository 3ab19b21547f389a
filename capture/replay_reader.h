// Replay of a captured raw file: a pcapng file whose packets are the
// analyzer's dump frames as a NIC received them. The reader walks the file
// block by block and hands every accepted dump frame to the same dump
// processing as the live analyzer.
//
// Created and checked on the main thread, read by the capture thread, closed
// by the main thread at teardown.
#pragma once

#include <cstdint>

struct ControlChannel;
struct FileHandle;
struct PacketRecord;

namespace replayfile {
constexpr uint32_t kWindowBytes = 2048;  // the header blocks must fit this window
// A packet block must fit this window to be read: the block of the longest
// dump frame the analyzer sends (2048 bytes), its fixed fields and whatever
// options the capturing tool added.
constexpr uint32_t kMaxDumpFrameBytes = 2048;
constexpr uint32_t kPacketWindowBytes = 4096;
constexpr uint32_t kMinimumStartWindow = 1024;  // the header blocks' window must hold this much
constexpr uint32_t kTypePcapng = 1;
constexpr uint32_t kWaitingAfterSeconds = 2;  // non-dump stretch before "Waiting" is shown
}  // namespace replayfile

using DumpFrameTest = bool (*)(const uint8_t *frame, uint32_t length, uint8_t *wantedNode);

// One packet of the file as read, up to the whole window: a dump frame may be
// longer than a capture slot holds (the analyzer sends up to 2048 bytes).
struct ReplayFrame {
    int64_t timestamp;        // as stored in the file
    uint32_t frameLength;     // on the wire
    uint32_t capturedLength;  // bytes in data
    uint8_t data[replayfile::kPacketWindowBytes];
};

struct ReplayReader {
    char path[512];
    uint32_t type;  // replayfile::kTypePcapng
    ControlChannel *control;
    uint8_t wantedNode;  // 0 = the first analyzer found in the file
    FileHandle *file;
    uint64_t fileSize;
    uint64_t readOffset;  // start of the next block
    int64_t lastAcceptedSeconds;
    uint64_t acceptedFrames;
    int32_t dotCounter;
    bool started;  // the header blocks have been read
    bool damaged;  // the replay ended at a damaged block (already reported)
    // Read-ahead: the file is read in large chunks so a block costs no system
    // call of its own; every block is still taken through its window.
    uint8_t *chunk;
    uint64_t chunkStart;
    uint32_t chunkLength;
};

// Opens the file (the path needs a dot, the file must exist and not be empty,
// its extension must name pcapng). Reports "File open failed! ..." (with the
// reason) or
// "File type [...] ... not supported." as an error message; none on failure.
ReplayReader *replayReaderCreate(const char *path, ControlChannel *control, uint8_t wantedNode, int64_t nowSeconds);

// Reads the section header and interface description blocks. 0, or -1
// without a message when they are not there.
int replayReaderCheckStart(ReplayReader *reader);

// Reads the next block. 0 with an accepted dump frame in the record (captured
// length, frame length, data, timestamp), -1 otherwise: another block was
// skipped, the file has ended, or the file is damaged at this point (then an
// error message is sent and the replay ends: no bytes are left).
int replayReaderReadNext(ReplayReader *reader, PacketRecord *record, DumpFrameTest isDump, int64_t nowSeconds);
// The same, into a frame that takes every packet the window holds whole (the
// record above keeps at most a slot's 1536 bytes).
int replayReaderReadFrame(ReplayReader *reader, ReplayFrame *frame, DumpFrameTest isDump, int64_t nowSeconds);

// At the end of the file: reports an error when the file held no dump frame
// of the wanted analyzer (a damaged file has been reported already) and
// answers the dump frames accepted.
uint64_t replayReaderFinish(ReplayReader *reader);

// File size minus read offset; 0 without a reader.
uint64_t replayReaderBytesLeft(const ReplayReader *reader);

// Closes the file and frees the reader; none is ignored.
void replayReaderClose(ReplayReader *reader);
