// Dump frames through the analyzer test and the dump processing, into a real
// capture buffer that is drained the way the main loop drains it.
//
// Input: mode byte (bit 0 single shot, bits 1-3 ring size, bit 4 few spare
// slots), trigger bytes
// (ports, destroyed and dropped packets, digital-input edges, post-trigger
// time), wanted analyzer node, then frames as 16-bit length + bytes.
#include <cstring>
#include <vector>

#include "capture_buffer.h"
#include "dump_frame.h"
#include "dump_processor.h"
#include "fuzz_input.h"

namespace {

struct Drain {
    int64_t lastStamp = INT64_MIN;
    uint64_t released = 0;
};

// Takes what the hold-back lets go, as the main loop does, and gives it
// back (written or discarded: the buffer does not care). A batch comes out
// in stamp order.
void drain(CaptureBuffer *buffer, Drain *d) {
    PacketRecord *taken[64];
    while (uint32_t n = captureBufferTakeReadyBatch(buffer, taken, 64, nullptr)) {
        for (uint32_t i = 0; i < n; ++i) {
            const PacketRecord *r = taken[i];
            FUZZ_CHECK(r->capturedLength <= kRecordDataCapacity);
            FUZZ_CHECK(r->capturedLength <= r->frameLength || (r->flags & packetflags::kFrameCut) == 0);
            if (i > 0) FUZZ_CHECK(taken[i - 1]->timestamp <= r->timestamp);
        }
        d->released += n;
        FUZZ_CHECK(captureBufferGiveBackBatch(buffer, taken, n) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.u8();
    const bool single = (mode & 1) != 0;
    const uint32_t ring = 8u << ((mode >> 1) & 7);  // 8 .. 1024 records
    const uint8_t t = in.u8();
    const uint8_t edges = in.u8();
    TriggerSettings settings{};
    settings.port01Enabled = (t & 1) ? 0 : 1;
    settings.port02Enabled = (t & 2) ? 0 : 1;
    settings.destroyedPacket = (t >> 2) & 1;
    settings.droppedPacket = (t >> 3) & 1;
    for (unsigned i = 0; i < 4; ++i) {
        settings.diPositive[i] = (edges >> i) & 1;
        settings.diNegative[i] = (edges >> (4 + i)) & 1;
    }
    settings.postTriggerTimeNs = static_cast<int64_t>(t >> 4) * 1000000;
    uint8_t wantedNode = in.u8() & 3;  // 0 = the first analyzer seen

    // One buffer for all inputs (every input leaves it drained); slots beyond
    // this input's ring and spare slots are held out of it meanwhile. Bit 4:
    // few spare slots, so a dump can find the buffer full.
    constexpr uint32_t kSlots = 1024 + kExtraSlots;
    // As on the live path, the pool's pages are faulted in behind the capture.
    static CaptureBuffer *buffer = [] {
        CaptureBuffer *made = captureBufferCreate(kSlots, kInitialHoldBack);
        if (made != nullptr) captureBufferPrefaultStart(made);
        return made;
    }();
    FUZZ_CHECK(buffer != nullptr);
    const uint32_t usable = ring + ((mode & 0x10) ? 64 : kExtraSlots);
    static PacketRecord *held[kSlots];
    const uint32_t heldCount = captureBufferTakeFreeBatch(buffer, held, kSlots - usable);
    FUZZ_CHECK(heldCount == kSlots - usable);
    const uint64_t insertedBefore = buffer->inserted.load();
    DumpProcessor *processor =
        dumpProcessorCreate(&settings, single ? kCaptureSingleShot : kCaptureLive, buffer, nullptr);
    FUZZ_CHECK(processor != nullptr);
    const int32_t holdBack = single ? static_cast<int32_t>(ring) : kInitialHoldBack;
    captureBufferSetHoldBack(buffer, holdBack);

    Drain d;
    std::vector<uint8_t> frame;
    while (!in.empty()) {
        size_t length = 0;
        const uint8_t *bytes = in.sizedChunk(&length);
        frame.assign(bytes, bytes + length);  // exact size, so reads past it are caught
        if (!isDumpFrame(frame.data(), static_cast<uint32_t>(frame.size()), &wantedNode)) continue;
        const uint64_t packetsBefore = processor->packetCount;
        const int result = processDump(processor, frame.data(), static_cast<uint32_t>(frame.size()));
        FUZZ_CHECK(result == 0 || result == -1 || result == kDumpTraceComplete);
        FUZZ_CHECK(processor->packetCount - packetsBefore <= kMaxRecordsPerDump);
        // Slot accounting: every slot is free or waiting, none is lost or twice.
        FUZZ_CHECK(captureBufferFreeCount(buffer) + captureBufferRemaining(buffer) == static_cast<int64_t>(usable));
        FUZZ_CHECK(captureBufferRemaining(buffer) <= holdBack + static_cast<int32_t>(kMaxRecordsPerDump));
        drain(buffer, &d);
        if (result != 0) break;  // the capture ends: a trace to write or a fault
    }
    // The end writes out whatever is still held.
    captureBufferSetHoldBack(buffer, 0);
    drain(buffer, &d);
    FUZZ_CHECK(captureBufferRemaining(buffer) == 0);
    FUZZ_CHECK(captureBufferFreeCount(buffer) == static_cast<int64_t>(usable));
    FUZZ_CHECK(d.released == buffer->inserted.load() - insertedBefore);
    FUZZ_CHECK(captureBufferGiveBackBatch(buffer, held, heldCount) == 0);
    dumpProcessorFree(processor);
    return 0;
}
