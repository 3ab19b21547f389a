// Throughput of dump processing, presort and pcapng output on one core.
//
// Synthetic dump frames as the analyzer sends them at line rate: 20 records
// of 64-byte frames per dump (the most records a 1514-byte dump frame
// carries, so the worst case per record), 672 ns apart (minimum frames at
// 100 Mbit/s), port 01 and port 02 alternating and packed per port so the
// presort has to interleave them. One thread does what both threads of a
// live capture do: process a dump, then release and write what the
// hold-back of 32 lets go.
//
// Usage: capture_bench [output-path] [slot-count]
//   output-path  where the pcapng stream goes (default /dev/null)
//   slot-count   capture buffer slots (default 328704, a live capture's)
// Prints figures only; it asserts nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_dump.h"
#include "capture_buffer.h"
#include "dump_frame.h"
#include "dump_processor.h"
#include "pcapng_writer.h"

namespace {

constexpr int kRecordsPerDump = 20;
constexpr int kFrameBytes = 64;
constexpr uint32_t kTicksApart = 672 / 20 + 1;  // a little over 672 ns
constexpr int kDumps = 25000;                   // 500,000 records per pass
constexpr int kPasses = 6;

using benchdump::put16le;
using benchdump::put32le;

std::vector<std::vector<uint8_t>> buildDumps() {
    using namespace dumpframe;
    std::vector<std::vector<uint8_t>> dumps(kDumps);
    uint64_t ticks = (5ull << 32) - 1000000;  // the low counter wraps early on
    uint16_t total = 0;
    for (int d = 0; d < kDumps; ++d) {
        const uint32_t recordBytes = kRecordHeadLength + kFrameBytes;
        std::vector<uint8_t> &f = dumps[d];
        benchdump::startDump(&f, kFirstRecordOffset + kRecordsPerDump * recordBytes, kRecordsPerDump, total,
                             static_cast<uint32_t>(ticks >> 32));
        total = static_cast<uint16_t>(total + kRecordsPerDump);
        // Even records (port 01) first, then the odd ones (port 02).
        int slot = 0;
        for (int parity = 0; parity < 2; ++parity) {
            for (int i = parity; i < kRecordsPerDump; i += 2, ++slot) {
                uint8_t *r = &f[kFirstRecordOffset + slot * recordBytes];
                put32le(r + kRecordTimestampOffset,
                        static_cast<uint32_t>(ticks + static_cast<uint64_t>(i) * kTicksApart));
                put16le(r + kRecordSizeOffset, kFrameBytes);
                put16le(r + kRecordFlagsOffset, static_cast<uint16_t>(parity | (d % 100 == 0 ? kRecordCrcError : 0)));
                std::memset(r + kRecordHeadLength, 0x5A, kFrameBytes);
            }
        }
        ticks += static_cast<uint64_t>(kRecordsPerDump) * kTicksApart;
    }
    return dumps;
}

struct PassResult {
    double seconds;
    uint64_t records;
    uint64_t bytes;
};

enum class Output { kNone, kBlockPerWrite, kBatchPerPass };

PassResult runPass(const std::vector<std::vector<uint8_t>> &dumps, CaptureBuffer *buffer, const char *output,
                   Output mode) {
    const bool write = mode != Output::kNone;
    TriggerSettings settings{};
    settings.port01Enabled = settings.port02Enabled = 1;
    DumpProcessor *processor = dumpProcessorCreate(&settings, kCaptureLive, buffer, nullptr);
    PcapngWriter *writer = write ? pcapngWriterCreate(output, nullptr) : nullptr;
    if (processor == nullptr ||
        (write && (writer == nullptr || pcapngWriteHeader(writer, kPcapngInterfaceName) != 0))) {
        std::fprintf(stderr, "set-up failed\n");
        std::exit(1);
    }
    if (mode == Output::kBatchPerPass && pcapngWriterSetBatching(writer, 65536) != 0) {
        std::fprintf(stderr, "batching refused\n");
        std::exit(1);
    }
    captureBufferSetHoldBack(buffer, kInitialHoldBack);
    uint64_t records = 0;
    // The batched mode releases as the main loop does: a batch of records
    // under one lock, written, given back under one lock.
    PacketRecord *taken[1024];
    auto release = [&] {
        if (mode == Output::kBatchPerPass) {
            while (uint32_t n = captureBufferTakeReadyBatch(buffer, taken, 1024, nullptr)) {
                for (uint32_t i = 0; i < n; ++i) {
                    if (pcapngWritePacket(writer, taken[i]) != 0) {
                        std::fprintf(stderr, "write failed\n");
                        std::exit(1);
                    }
                }
                records += n;
                captureBufferGiveBackBatch(buffer, taken, n);
            }
        }
        while (PacketRecord *r = captureBufferTakeReady(buffer)) {
            if (writer != nullptr && pcapngWritePacket(writer, r) != 0) {
                std::fprintf(stderr, "write failed\n");
                std::exit(1);
            }
            ++records;
            captureBufferGiveBack(buffer, r);
        }
        if (writer != nullptr && pcapngWriterFlush(writer) != 0) {
            std::fprintf(stderr, "write failed\n");
            std::exit(1);
        }
    };
    const auto start = std::chrono::steady_clock::now();
    for (const auto &dump : dumps) {
        if (processDump(processor, dump.data(), static_cast<uint32_t>(dump.size())) != 0) {
            std::fprintf(stderr, "dump refused\n");
            std::exit(1);
        }
        release();
    }
    captureBufferSetHoldBack(buffer, 0);
    release();
    const auto stop = std::chrono::steady_clock::now();
    const uint64_t bytes = writer != nullptr ? writer->bytesWritten : 0;  // all flushed by now
    pcapngWriterClose(writer);
    dumpProcessorFree(processor);
    return {std::chrono::duration<double>(stop - start).count(), records, bytes};
}

void report(const char *what, const std::vector<PassResult> &passes) {
    double best = 0;
    double seconds = 0;
    uint64_t records = 0;
    uint64_t bytes = 0;
    for (const PassResult &p : passes) {
        seconds += p.seconds;
        records += p.records;
        bytes += p.bytes;
        best = std::max(best, p.records / p.seconds);
    }
    std::printf("%-44s %10.0f records/s (best pass %10.0f)", what, records / seconds, best);
    if (bytes != 0) std::printf("  %7.1f MB/s pcapng", bytes / seconds / 1e6);
    std::printf("\n");
}

}  // namespace

int main(int argc, char **argv) {
    const char *output = argc > 1 ? argv[1] : "/dev/null";
    const uint32_t slots = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 327680 + 1024;
    const auto dumps = buildDumps();
    CaptureBuffer *buffer = captureBufferCreate(slots, kInitialHoldBack);
    if (buffer == nullptr) return 1;
    std::printf("capture_bench: %d dumps x %d records of %d bytes per pass, %d passes, %u slots, output %s\n", kDumps,
                kRecordsPerDump, kFrameBytes, kPasses, slots, output);
    std::printf("dump frame bytes per pass: %.1f MB\n", static_cast<double>(kDumps) * dumps[0].size() / 1e6);
    struct Mode {
        Output output;
        const char *name;
    };
    const Mode modes[] = {
        {Output::kNone, "processDump + presort + release"},
        {Output::kBlockPerWrite, "  + pcapng, one write per block"},
        {Output::kBatchPerPass, "  + pcapng, batched release, one write/pass"},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Mode &mode : modes) {
            std::vector<PassResult> passes;
            for (int i = 0; i < kPasses; ++i) passes.push_back(runPass(dumps, buffer, output, mode.output));
            report(mode.name, passes);
        }
    }
    captureBufferDestroy(buffer);
    return 0;
}
