// Cost of dump frames whose records are stamped before everything the
// capture buffer holds: the case a spoofed dump frame or a crafted replay
// file can create at will.
//
// Single shot with the pre-trigger ring full (N records waiting, the oldest
// discarded as new ones arrive, as the main loop does), fed first with dump
// frames in time order and then with hostile ones: 180 records each, every
// record stamped earlier than all stored ones (and each dump earlier than the
// one before). Prints the worst and the mean processDump time per dump frame
// of both kinds, and the timestamp comparisons per record.
//
// The wall-clock worst includes whatever else the machine runs meanwhile; the
// thread's CPU time per dump frame does not.
//
// Usage: presort_hostile_bench [N] [hostile-dumps]   (default 327680 200)
// Prints figures only; it asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "bench_dump.h"
#include "capture_buffer.h"
#include "dump_frame.h"
#include "dump_processor.h"

namespace {

constexpr int kRecordsPerDump = 180;  // 8-byte heads of empty frames and 4 bytes of padding: 1508 bytes

// One dump of `kRecordsPerDump` empty frames of port 01, the first stamped
// `high:low` and each next one 50 ticks later.
std::vector<uint8_t> buildDump(uint16_t total, uint32_t high, uint32_t low) {
    using namespace dumpframe;
    std::vector<uint8_t> f;
    benchdump::startDump(&f, kFirstRecordOffset + kRecordsPerDump * kRecordHeadLength + 4, kRecordsPerDump, total,
                         high);
    for (int i = 0; i < kRecordsPerDump; ++i) {
        uint8_t *r = &f[kFirstRecordOffset + i * kRecordHeadLength];
        benchdump::put32le(r + kRecordTimestampOffset, low + 50u * static_cast<uint32_t>(i));
    }
    return f;
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Figures {
    double worstMs = 0;
    double worstCpuMs = 0;
    double totalMs = 0;
    int dumps = 0;
    uint64_t comparisons = 0;
    uint64_t records = 0;
};

void report(const char *what, const Figures &f) {
    std::printf("%-40s worst %8.3f ms (CPU %8.3f ms)  mean %7.3f ms per dump frame  %6.1f comparisons per record\n",
                what, f.worstMs, f.worstCpuMs, f.totalMs / f.dumps,
                static_cast<double>(f.comparisons) / static_cast<double>(f.records));
}

}  // namespace

int main(int argc, char **argv) {
    const uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 327680;
    const int hostileDumps = argc > 2 ? std::atoi(argv[2]) : 200;
    CaptureBuffer *buffer = captureBufferCreate(n + kExtraSlots, static_cast<int32_t>(n));
    TriggerSettings settings{};
    settings.port01Enabled = settings.port02Enabled = 1;
    DumpProcessor *processor =
        buffer != nullptr ? dumpProcessorCreate(&settings, kCaptureSingleShot, buffer, nullptr) : nullptr;
    if (processor == nullptr) return 1;

    uint16_t total = 0;
    PacketRecord *taken[1024];
    // The main loop's part: discard what the ring lets go.
    auto discard = [&] {
        while (uint32_t k = captureBufferTakeReadyBatch(buffer, taken, 1024, nullptr)) {
            captureBufferGiveBackBatch(buffer, taken, k);
        }
    };
    auto run = [&](const std::vector<uint8_t> &dump, Figures *f) {
        const uint64_t before = captureBufferPresortComparisons(buffer);
        const double cpuStart = threadCpuMs();
        const auto start = std::chrono::steady_clock::now();
        if (processDump(processor, dump.data(), static_cast<uint32_t>(dump.size())) != 0) {
            std::fprintf(stderr, "dump refused\n");
            std::exit(1);
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        f->worstMs = std::max(f->worstMs, ms);
        f->worstCpuMs = std::max(f->worstCpuMs, threadCpuMs() - cpuStart);
        f->totalMs += ms;
        f->dumps += 1;
        f->comparisons += captureBufferPresortComparisons(buffer) - before;
        f->records += kRecordsPerDump;
        discard();
        total = static_cast<uint16_t>(total + kRecordsPerDump);
    };

    // Fill the ring in time order (high part 1000), then as much again.
    Figures inOrder;
    const uint32_t dumpsToFill = 2 * (n / kRecordsPerDump + 1);
    uint32_t low = 0;
    for (uint32_t d = 0; d < dumpsToFill; ++d, low += 50u * kRecordsPerDump) run(buildDump(total, 1000, low), &inOrder);
    std::printf("presort_hostile_bench: N = %u, ring level %d, %d records per dump frame\n", n,
                captureBufferRemaining(buffer), kRecordsPerDump);
    report("dumps in time order", inOrder);

    // Hostile: every dump stamped before all stored records and before the
    // previous hostile dump (high part 999, 998, ...).
    Figures hostile;
    for (int d = 0; d < hostileDumps; ++d) run(buildDump(total, 999 - static_cast<uint32_t>(d), 0), &hostile);
    report("dumps stamped before everything stored", hostile);

    dumpProcessorFree(processor);
    captureBufferDestroy(buffer);
    return 0;
}
