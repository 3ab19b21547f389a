#include "dump_frame.h"

using namespace dumpframe;

bool isDumpFrame(const uint8_t *frame, uint32_t length, uint8_t *wantedNode) {
    if (frame == nullptr || wantedNode == nullptr || length < kMinimumFrameLength) return false;
    if (readBe16(frame + kEtherTypeOffset) != kEtherTypeIpv4) return false;
    if (readBe16(frame + kUdpSourcePortOffset) != kUdpPort) return false;
    if (readBe16(frame + kUdpDestPortOffset) != kUdpPort) return false;
    if (frame[kPlkMessageTypeOffset] != kPlkMessageTypeAsnd) return false;
    if (frame[kPlkDestinationOffset] != kPlkBroadcastNode) return false;
    if (frame[kAsndServiceOffset] != kAsndServiceDump) return false;
    const uint8_t node = frame[kIpSourceLastOctet];
    if (*wantedNode != 0 && *wantedNode != node) return false;
    // From now on only this analyzer's frames are taken.
    *wantedNode = node;
    return true;
}

int readDumpHeader(const uint8_t *frame, uint32_t length, DumpHeader *header) {
    if (frame == nullptr || header == nullptr || length < kHeaderOffset + kHeaderLength) return -1;
    header->dumpSize = readLe16(frame + kDumpSizeOffset);
    header->dumpCount = frame[kDumpCountOffset];
    header->captureId = frame[kCaptureIdOffset];
    header->dumpTotal = readLe16(frame + kDumpTotalOffset);
    header->dumpLost = readLe16(frame + kDumpLostOffset);
    header->uniqueId = readLe16(frame + kUniqueIdOffset);
    header->tsHigh = readLe32(frame + kTsHighOffset);
    header->phyInfo = frame[kPhyInfoOffset];
    header->protocolVersion = frame[kProtocolVersionOffset];
    header->reserved = readLe16(frame + kReservedOffset);
    return 0;
}

int readDumpRecord(const uint8_t *frame, uint32_t length, uint32_t offset, uint16_t dumpSize, DumpSizeReading reading,
                   DumpRecord *record) {
    if (frame == nullptr || record == nullptr) return -1;
    // The head must lie wholly inside the frame; written so it cannot overflow.
    if (offset >= length || length - offset <= kRecordHeadLength) return -1;
    const uint8_t *head = frame + offset;
    record->offset = offset;
    record->timestampLow = readLe32(head + kRecordTimestampOffset);
    record->size = readLe16(head + kRecordSizeOffset);
    record->flags = readLe16(head + kRecordFlagsOffset);
    record->data = head + kRecordHeadLength;
    record->available = length - offset - kRecordHeadLength;
    record->capacity = recordCapacity(dumpSize, record->size, reading);
    return 0;
}

uint32_t nextDumpRecordOffset(const DumpRecord &record, uint16_t dumpSize, DumpSizeReading reading) {
    return record.offset + recordSpan(dumpSize, record.size, reading);
}
