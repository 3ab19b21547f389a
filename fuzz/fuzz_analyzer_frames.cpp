// The analyzer-frame layouts on any ASnd payload, read the way the
// dissectors read them: the dump's record walk stays inside the captured
// bytes and always moves forward, and every Lanyx and Lanyx+ field maps to a
// name or a number without failing.
//
// Input: selector byte (0 Lanyx, 1 dump, 2 Lanyx+), then the payload.
#include <cstring>
#include <vector>

#include "analyzer_frames.h"
#include "fuzz_input.h"

namespace {

uint16_t le16(const std::vector<uint8_t> &b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint16_t be16(const std::vector<uint8_t> &b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }
uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
    return le16(b, at) | (static_cast<uint32_t>(le16(b, at + 2)) << 16);
}
uint32_t be32(const std::vector<uint8_t> &b, size_t at) {
    return (static_cast<uint32_t>(be16(b, at)) << 16) | be16(b, at + 2);
}

void lanyx(const std::vector<uint8_t> &b) {
    if (b.size() < static_cast<size_t>(lyk::kDataOffset)) return;
    const uint16_t status = be16(b, lyk::kStatusOffset);
    const uint16_t lengthWord = le16(b, lyk::kLengthWordOffset);
    const lyk::FrameKind kind = lyk::frame_kind(status, lengthWord);
    FUZZ_CHECK(std::strlen(lyk::kind_abbreviation(kind)) == 2);
    FUZZ_CHECK(*lyk::kind_name(kind) != '\0');
    FUZZ_CHECK(lyk::frame_length(lengthWord) <= lyk::kLengthMask);
    // Any span, a wrapped counter's too, is computed without overflow.
    (void)lyk::frame_duration_us(le32(b, lyk::kStartTimeOffset), le32(b, lyk::kStopTimeOffset));
    (void)lyk::credited_bytes(static_cast<uint32_t>(b.size()));
}

void dump(const std::vector<uint8_t> &b) {
    namespace df = dumpframe;
    constexpr auto kDissector = df::DumpSizeReading::kDissector;
    if (b.size() < static_cast<size_t>(df::kHeaderLength)) return;
    const uint16_t dumpSize = le16(b, df::payloadOffset(df::kDumpSizeOffset));
    const uint8_t count = b[df::payloadOffset(df::kDumpCountOffset)];
    uint32_t offset = df::payloadOffset(df::kFirstRecordOffset);
    for (unsigned number = 1; number <= count; ++number) {
        if (offset + df::kRecordHeadLength > b.size()) break;
        const uint16_t sizeField = le16(b, offset + df::kRecordSizeOffset);
        (void)le32(b, offset + df::kRecordTimestampOffset);
        (void)le16(b, offset + df::kRecordFlagsOffset);
        const uint32_t dataLength = df::recordCapacity(dumpSize, sizeField, kDissector);
        if (offset + dataLength + df::kRecordHeadLength > b.size()) break;
        if (dataLength > 0) (void)b.at(offset + df::kRecordHeadLength + dataLength - 1);
        const uint32_t next = offset + df::recordSpan(dumpSize, sizeField, kDissector);
        FUZZ_CHECK(next > offset && next % 2 == offset % 2);
        offset = next;
    }
}

void lanyxPlus(const std::vector<uint8_t> &b) {
    if (b.size() < static_cast<size_t>(lanyxplus::kMinimumLength)) return;
    const uint32_t flags = be32(b, lanyxplus::kFlagsOffset);
    const lanyxplus::FrameType type = lanyxplus::frame_type(flags);
    FUZZ_CHECK(lanyxplus::protocol_column(type) != nullptr);
    FUZZ_CHECK(lanyxplus::subtree_label(type) != nullptr);
    FUZZ_CHECK(lanyxplus::resulting_frame_size(flags) >= -lanyxplus::kPackageFraming);
    const uint32_t header = be32(b, lanyxplus::kHeaderOffset);
    FUZZ_CHECK(lanyxplus::destination(header) <= 0xFFF && lanyxplus::source(header) <= 0xFFF);
    if (lanyxplus::has_command_interface(lanyxplus::port(header)) &&
        b.size() > static_cast<size_t>(lanyxplus::kCmdCommandOffset)) {
        const uint8_t commandType = b[lanyxplus::kCmdTypeOffset];
        FUZZ_CHECK(lanyxplus::command_type_text(commandType) != nullptr);
        FUZZ_CHECK(lanyxplus::command_text(commandType, b[lanyxplus::kCmdCommandOffset]) != nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t selector = in.u8() % 3;
    size_t length = 0;
    const uint8_t *bytes = in.chunk(size, &length);
    const std::vector<uint8_t> payload(bytes, bytes + length);  // exact size
    if (selector == 0)
        lanyx(payload);
    else if (selector == 1)
        dump(payload);
    else
        lanyxPlus(payload);
    return 0;
}
