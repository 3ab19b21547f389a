#include "replay_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "capture_buffer.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "file_layer.h"
#include "pcapng_format.h"

namespace {

using namespace pcapng;
using namespace replayfile;

constexpr uint32_t kChunkBytes = 256 * 1024;
constexpr char kDeviceName[] = "Q40TA5521";
constexpr char kWaitingFormat[] = "  Waiting for Q40TA5521 (%d) ....................";
constexpr int kWaitingShownChars = 30;  // the waiting text is cut after 30 + (dots mod 16) characters

uint64_t bytesLeft(const ReplayReader *reader) {
    return reader->readOffset < reader->fileSize ? reader->fileSize - reader->readOffset : 0;
}

// Makes `count` bytes at `offset` available from the read-ahead chunk and
// answers where they are; nullptr when the file cannot be read there.
const uint8_t *window(ReplayReader *reader, uint64_t offset, uint32_t count) {
    if (offset >= reader->chunkStart && offset + count <= reader->chunkStart + reader->chunkLength)
        return reader->chunk + (offset - reader->chunkStart);
    const uint64_t left = reader->fileSize > offset ? reader->fileSize - offset : 0;
    if (left < count) return nullptr;
    const uint32_t length = static_cast<uint32_t>(left < kChunkBytes ? left : kChunkBytes);
    reader->chunkLength = 0;
    if (fileReadAt(reader->file, offset, reader->chunk, length, 0) != 0) return nullptr;
    reader->chunkStart = offset;
    reader->chunkLength = length;
    return reader->chunk;
}

// The header-block test: at least 1024 bytes in the window, the wanted type,
// and a total length whose trailing copy lies inside the window and matches.
// Answers the length, or 0.
uint32_t headerBlockLength(const uint8_t *block, uint32_t windowBytes, uint32_t wantedType) {
    if (windowBytes < kMinimumStartWindow) return 0;
    if (readLe32(block + kBlockTypeOffset) != wantedType) return 0;
    const uint32_t length = readLe32(block + kBlockLengthOffset);
    // A longer header block than the window is refused rather than read beyond it.
    if (length < kMinimumBlockLength || length % 4 != 0 || length > windowBytes) return 0;
    if (readLe32(block + length - 4) != length) return 0;
    return length;
}

void reportDamage(ReplayReader *reader, const char *why) {
    char text[kMessageChars];
    std::snprintf(text, sizeof text, "Capture file [%.360s] is damaged at offset %llu (%s); the replay ends here.",
                  reader->path, static_cast<unsigned long long>(reader->readOffset), why);
    if (reader->control) {
        logMessage(reader->control, kLogError, text);
        sendStatus(reader->control, kStatusError, text);
    }
    // Nothing after a damaged block can be trusted to start a block: end the
    // replay like the end of the file.
    reader->readOffset = reader->fileSize;
    reader->damaged = true;
}

void fileOpenFailed(ControlChannel *control, const char *path, const char *reason) {
    if (control) sendStatusf(control, kStatusError, "File open failed! Given filename: [%s] (%s)", path, reason);
}

}  // namespace

ReplayReader *replayReaderCreate(const char *path, ControlChannel *control, uint8_t wantedNode, int64_t nowSeconds) {
    if (!path) path = "";
    const char *dot = std::strrchr(path, '.');
    if (!dot || std::strlen(path) >= sizeof(ReplayReader::path)) {
        fileOpenFailed(control, path, !dot ? "the name has no file extension" : std::strerror(ENAMETOOLONG));
        return nullptr;
    }
    FileHandle *file = fileOpen(path, kFileRead, kFileOpenExisting);
    if (!file) {
        fileOpenFailed(control, path, std::strerror(errno));
        return nullptr;
    }
    const uint64_t size = fileSize(file);
    if (size == 0) {
        fileClose(file);
        fileOpenFailed(control, path, "the file is empty");
        return nullptr;
    }
    if (!std::strstr(dot, "pcapng")) {
        fileClose(file);
        if (control)
            sendStatusf(control, kStatusError, "File type [%s] of given capture file [%s] not supported.", dot, path);
        return nullptr;
    }
    ReplayReader *reader = new (std::nothrow) ReplayReader{};
    uint8_t *chunk = new (std::nothrow) uint8_t[kChunkBytes];
    if (!reader || !chunk) {
        delete reader;
        delete[] chunk;
        fileClose(file);
        return nullptr;
    }
    std::snprintf(reader->path, sizeof reader->path, "%s", path);
    reader->type = kTypePcapng;
    reader->control = control;
    reader->wantedNode = wantedNode;
    reader->file = file;
    reader->fileSize = size;
    reader->lastAcceptedSeconds = nowSeconds;
    reader->chunk = chunk;
    return reader;
}

int replayReaderCheckStart(ReplayReader *reader) {
    if (!reader || reader->type != kTypePcapng || reader->started || reader->readOffset != 0) return -1;
    uint32_t w = static_cast<uint32_t>(reader->fileSize < kWindowBytes ? reader->fileSize : kWindowBytes);
    const uint8_t *block = window(reader, 0, w);
    if (!block) return -1;
    const uint32_t sectionLength = headerBlockLength(block, w, kSectionHeaderType);
    // A big-endian section would be misread field by field: refuse it here.
    if (sectionLength == 0 || sectionLength < kByteOrderMagicOffset + 8 ||
        readLe32(block + kByteOrderMagicOffset) != kByteOrderMagic)
        return -1;
    reader->readOffset = sectionLength;

    const uint64_t left = bytesLeft(reader);
    w = static_cast<uint32_t>(left < kWindowBytes ? left : kWindowBytes);
    block = window(reader, reader->readOffset, w);
    if (!block) return -1;
    const uint32_t interfaceLength = headerBlockLength(block, w, kInterfaceDescriptionType);
    if (interfaceLength == 0) return -1;
    reader->readOffset += interfaceLength;
    reader->started = true;

    if (reader->control) {
        logMessagef(reader->control, kLogStatus, "File open succeeded! Given filename: [%s]", reader->path);
        sendStatusf(reader->control, kStatusBar, "File open succeeded! Given filename: [%s]", reader->path);
    }
    return 0;
}

int replayReaderReadFrame(ReplayReader *reader, ReplayFrame *record, DumpFrameTest isDump, int64_t nowSeconds) {
    if (!reader || !record || reader->type != kTypePcapng) return -1;
    const uint64_t left = bytesLeft(reader);
    if (left == 0) return -1;
    const uint32_t w = static_cast<uint32_t>(left < kPacketWindowBytes ? left : kPacketWindowBytes);
    if (w < kMinimumBlockLength) {
        reportDamage(reader, "trailing bytes that hold no block");
        return -1;
    }
    const uint8_t *block = window(reader, reader->readOffset, w);
    if (!block) {
        reportDamage(reader, "read failed");
        return -1;
    }
    const uint32_t type = readLe32(block + kBlockTypeOffset);
    const uint32_t length = readLe32(block + kBlockLengthOffset);
    if (length < kMinimumBlockLength || length % 4 != 0 || length > left) {
        reportDamage(reader, "bad block length");
        return -1;
    }
    if (length > w) {
        // Longer than the window: skipped whole when its trailing length confirms
        // where it ends (a jumbo packet or a large comment is no dump frame of ours).
        const uint8_t *tail = window(reader, reader->readOffset + length - 4, 4);
        if (!tail || readLe32(tail) != length) {
            reportDamage(reader, "trailing block length does not match");
            return -1;
        }
        if (reader->control)
            logMessagef(reader->control, kLogWarning,
                        "Block of %u bytes at offset %llu of [%s] skipped: longer than %u bytes.", length,
                        static_cast<unsigned long long>(reader->readOffset), reader->path, kPacketWindowBytes);
        reader->readOffset += length;
        return -1;
    }
    if (readLe32(block + length - 4) != length) {
        reportDamage(reader, "trailing block length does not match");
        return -1;
    }

    if (type == kEnhancedPacketType && length >= kEpbMinimumLength) {
        const uint64_t high = readLe32(block + kEpbTimestampHighOffset);
        const uint64_t low = readLe32(block + kEpbTimestampLowOffset);
        record->timestamp = static_cast<int64_t>((high << 32) | low);
        // The data can be no longer than the block holds; the block fits the
        // window, and so does the frame.
        uint32_t captured = readLe32(block + kEpbCapturedLengthOffset);
        const uint32_t room = length - kEpbMinimumLength;
        if (captured > room) captured = room;
        record->capturedLength = captured;
        record->frameLength = readLe32(block + kEpbPacketLengthOffset);
        std::memcpy(record->data, block + kEpbDataOffset, captured);
    }
    reader->readOffset += length;

    if (isDump && isDump(record->data, record->capturedLength, &reader->wantedNode)) {
        reader->lastAcceptedSeconds = nowSeconds;
        if (++reader->acceptedFrames == 1 && reader->control) {
            logMessagef(reader->control, kLogStatus, "%s deteced successfully! HW node number: %d.", kDeviceName,
                        reader->wantedNode);
            sendStatusf(reader->control, kStatusBar, "%s deteced successfully! HW node number: %d.", kDeviceName,
                        reader->wantedNode);
        }
        return 0;
    }
    if (nowSeconds - reader->lastAcceptedSeconds <= static_cast<int64_t>(kWaitingAfterSeconds)) return -1;
    char text[kMessageChars];
    std::snprintf(text, sizeof text, kWaitingFormat, reader->wantedNode);
    // Two's-complement remainder, so the dots keep cycling after a wrap.
    const int shown = kWaitingShownChars + static_cast<int>(static_cast<uint32_t>(reader->dotCounter) % 16);
    if (shown < static_cast<int>(sizeof text)) text[shown] = '\0';
    if (reader->control && sendStatus(reader->control, kStatusBar, text) == 0) ++reader->dotCounter;
    return -1;
}

int replayReaderReadNext(ReplayReader *reader, PacketRecord *record, DumpFrameTest isDump, int64_t nowSeconds) {
    if (!reader || !record) return -1;
    ReplayFrame whole;
    ReplayFrame *frame = &whole;
    frame->timestamp = record->timestamp;
    frame->frameLength = record->frameLength;
    frame->capturedLength = record->capturedLength;
    const uint32_t kept = record->capturedLength < kRecordDataCapacity ? record->capturedLength : kRecordDataCapacity;
    std::memcpy(frame->data, record->data, kept);
    const int result = replayReaderReadFrame(reader, frame, isDump, nowSeconds);
    // A slot holds 1536 bytes: anything beyond is cut (the dump processing then
    // sees a shorter frame).
    const uint32_t captured = frame->capturedLength < kRecordDataCapacity ? frame->capturedLength : kRecordDataCapacity;
    record->timestamp = frame->timestamp;
    record->frameLength = static_cast<uint16_t>(frame->frameLength);
    record->capturedLength = static_cast<uint16_t>(captured);
    std::memcpy(record->data, frame->data, captured);
    return result;
}

uint64_t replayReaderFinish(ReplayReader *reader) {
    if (!reader) return 0;
    // A plain capture picked by mistake would otherwise end as an empty
    // capture with no word why.
    if (reader->acceptedFrames == 0 && !reader->damaged && reader->control && bytesLeft(reader) == 0) {
        char text[kMessageChars];
        std::snprintf(text, sizeof text, "Capture file [%.360s] holds no %s dump frames%s; nothing was captured.",
                      reader->path, kDeviceName, reader->wantedNode != 0 ? " of the chosen HW node" : "");
        logMessage(reader->control, kLogError, text);
        sendStatus(reader->control, kStatusError, text);
    }
    return reader->acceptedFrames;
}

uint64_t replayReaderBytesLeft(const ReplayReader *reader) { return reader ? bytesLeft(reader) : 0; }

void replayReaderClose(ReplayReader *reader) {
    if (!reader) return;
    fileClose(reader->file);
    delete[] reader->chunk;
    delete reader;
}
