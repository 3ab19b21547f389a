#include "capture_loops.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <thread>

#include "capture_buffer.h"
#include "capture_context.h"
#include "control_channel.h"
#include "dump_processor.h"
#include "pcapng_writer.h"

struct CaptureThread {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool resumed = false;
    bool cancelled = false;
    std::atomic<pid_t> systemId{0};
    CaptureContext *context = nullptr;
    CaptureThreadBody body = nullptr;
};

namespace {

constexpr int32_t kLiveHoldBack = 32;
// Nice value of the capture thread: above the main thread, which only writes.
constexpr int kRaisedNice = -5;

// Records the main loop writes per pass while the capture thread runs.
constexpr uint32_t kRecordsPerPass = 16384;
// Records taken from the buffer under one lock, and the stream bytes
// collected before they are written (the block of the largest record fits
// many times over).
constexpr uint32_t kTakeBatch = 1024;
constexpr uint32_t kWriteBatchBytes = 256 * 1024;
constexpr uint32_t kPrefetchAhead = 4;  // records
// How long the main loop waits for a stopping capture thread before it ends
// the capture anyway.
constexpr auto kFinishWait = std::chrono::seconds(2);
// After a signal, the time the stream gets to take what is collected, and
// again to complete a block in progress: twice this plus the teardown stays
// well inside the signal's 500 ms grace.
constexpr int kStopWriteBudgetMs = 150;

bool singleShot(const CaptureContext *context) { return context->captureMode == kCaptureSingleShot; }

void threadMain(CaptureThread *thread) {
    thread->systemId.store(static_cast<pid_t>(syscall(SYS_gettid)));
    {
        std::unique_lock<std::mutex> lock(thread->mutex);
        thread->wake.wait(lock, [thread] { return thread->resumed || thread->cancelled; });
        if (thread->cancelled && !thread->resumed) {
            thread->context->run.captureThreadFinished.store(true);
            return;
        }
    }
    thread->body(thread->context);
}

// What the main loop's drain passes carry from one pass to the next.
struct DrainState {
    CaptureContext *context;
    bool singleShot;
    int32_t depth;                // records the single-shot trace keeps
    std::time_t lastTraceStatus;  // second of the last progress message
};

bool writeTaken(DrainState *state, PacketRecord *const *records, uint32_t count, int64_t waitingAfter) {
    CaptureContext *context = state->context;
    RunFlags &run = context->run;
    if (!run.writingEnabled.load()) return true;
    for (uint32_t i = 0; i < count; ++i) {
        // The records were filled on the other thread's core: ask for the next
        // ones early so their cache lines travel while this one is written.
        if (i + kPrefetchAhead < count) {
            const PacketRecord *next = records[i + kPrefetchAhead];
            __builtin_prefetch(next);
            __builtin_prefetch(reinterpret_cast<const uint8_t *>(next) + 64);
            __builtin_prefetch(next->data + 64);
        }
        // Records still waiting behind this one when it was taken.
        const int64_t behind = waitingAfter + static_cast<int64_t>(count - 1 - i);
        // Single shot writes the newest `depth` records only: what is older fell
        // out of the pre-trigger ring, even if it was still waiting when the
        // trigger came. (A depth of 0 or less keeps no ring: all is written.)
        const bool outOfRing = state->singleShot && state->depth > 0 && behind >= state->depth;
        if (!outOfRing && pcapngWritePacket(context->writer, records[i]) != 0) return false;
        // The status bar takes one message a second: compose one only when the second changes.
        const std::time_t second = run.traceGenerating.load() ? std::time(nullptr) : state->lastTraceStatus;
        if (second != state->lastTraceStatus) {
            state->lastTraceStatus = second;
            sendStatusf(context->control, kStatusBar, "[Trigger forced - Generating trace...] - Remaining packets: %d",
                        static_cast<int>(behind));
        }
    }
    return true;
}

// One drain pass of the main loop: takes the released records from the
// buffer a batch at a time (one lock per batch), writes or discards them,
// gives the slots back in one lock per batch and hands the pass's blocks to
// the stream with one flush. Answers false once a write or the flush failed:
// the capture is then over, and the records of the failed batch are lost
// with the stream. `full` tells whether records came in at least a whole
// batch or up to `limit`: more are likely waiting already.
bool drainPass(DrainState *state, uint32_t limit, bool *full) {
    CaptureBuffer *buffer = state->context->buffer;
    PacketRecord *taken[kTakeBatch];
    uint32_t done = 0;
    bool written = true;
    while (written && done < limit) {
        const uint32_t want = limit - done < kTakeBatch ? limit - done : kTakeBatch;
        int64_t waitingAfter = 0;
        const uint32_t count = captureBufferTakeReadyBatch(buffer, taken, want, &waitingAfter);
        if (count == 0) break;
        written = writeTaken(state, taken, count, waitingAfter);
        // The slots go back in every case.
        captureBufferGiveBackBatch(buffer, taken, count);
        done += count;
    }
    // A failed flush is a failed write: the reader has gone.
    if (pcapngWriterFlush(state->context->writer) != 0) written = false;
    *full = done >= limit || done >= kTakeBatch;
    return written;
}

// Standard input as the console: a terminal is switched to key-at-a-time
// input for the run; anything else (a pipe) is read as it comes.
struct ConsoleState {
    bool terminal = false;
    bool changed = false;
    bool ended = false;
    struct termios saved {};
};
ConsoleState g_console;

}  // namespace

int32_t captureHoldBackDepth(const CaptureContext *context) {
    if (!singleShot(context)) return kLiveHoldBack;
    if (context->interfaceKind == kInterfaceFile) return static_cast<int32_t>(context->bufferSize);
    return static_cast<int32_t>(context->bufferSize) - static_cast<int32_t>(kBufferHeadroom);
}

CaptureThread *captureThreadCreate(CaptureContext *context, CaptureThreadBody body) {
    if (!context || !body) return nullptr;
    CaptureThread *thread = new (std::nothrow) CaptureThread;
    if (!thread) return nullptr;
    thread->context = context;
    thread->body = body;
    try {
        thread->thread = std::thread(threadMain, thread);
    } catch (...) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void captureThreadRaisePriority(CaptureThread *thread) {
    if (!thread) return;
    // The id is known once the thread runs; it waits at its gate right after.
    for (int i = 0; i < 1000 && thread->systemId.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const pid_t id = thread->systemId.load();
    if (id != 0) (void)setpriority(PRIO_PROCESS, static_cast<id_t>(id), kRaisedNice);
}

void captureThreadResume(CaptureThread *thread) {
    if (!thread) return;
    std::lock_guard<std::mutex> lock(thread->mutex);
    thread->resumed = true;
    thread->wake.notify_all();
}

bool captureThreadStop(CaptureThread *thread, CaptureContext *context, int timeoutMs) {
    if (!thread) return true;
    context->run.stopCaptureThread.store(true);
    {
        std::lock_guard<std::mutex> lock(thread->mutex);
        thread->cancelled = true;
        thread->wake.notify_all();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!context->run.captureThreadFinished.load()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (thread->thread.joinable()) thread->thread.join();
    return true;
}

void captureThreadFree(CaptureThread *thread) {
    if (!thread || thread->thread.joinable()) return;
    delete thread;
}

void mainLoop(CaptureContext *context, CaptureThread *thread) {
    const bool single = singleShot(context);
    const int32_t depth = captureHoldBackDepth(context);
    const TriggerSettings &t = context->trigger;
    logMessagef(context->control, kLogInfo, "Capture mode=%s; Capturebuffer size=%d",
                single ? "Single Shot" : "Live Capture", static_cast<int>(context->bufferSize));
    logMessagef(context->control, kLogInfo,
                "Capture ports: Port01=%d, Port02=%d, Trigger: Posttrigger time=%lldms, Destroyed packet=%d, Dropped "
                "packet=%d, DI01-04(pos)={%d,%d,%d,%d}, DI01-04(neg)={%d,%d,%d,%d}",
                static_cast<int>(t.port01Enabled), static_cast<int>(t.port02Enabled),
                static_cast<long long>(t.postTriggerTimeNs / 1000000), static_cast<int>(t.destroyedPacket),
                static_cast<int>(t.droppedPacket), static_cast<int>(t.diPositive[0]), static_cast<int>(t.diPositive[1]),
                static_cast<int>(t.diPositive[2]), static_cast<int>(t.diPositive[3]), static_cast<int>(t.diNegative[0]),
                static_cast<int>(t.diNegative[1]), static_cast<int>(t.diNegative[2]),
                static_cast<int>(t.diNegative[3]));
    logMessage(context->control, kLogStatus, "Capture started");
    if (single)
        sendStatus(context->control, kStatusWarning,
                   "Single Shot mode active!\n Use 'Force Trigger' to stop the capture!");
    if (context->standalone) consoleKeysBegin();
    captureThreadRaisePriority(thread);
    captureThreadResume(thread);

    RunFlags &run = context->run;
    int stopCountdown = 0;
    bool writeFailed = false;
    bool stopSeen = false;
    std::chrono::steady_clock::time_point stopSeenAt;
    // Packet blocks are collected and written once per pass (a write per
    // block costs a system call per packet); should the memory for that be
    // missing, every block is written on its own, which is slower but the same.
    (void)pcapngWriterSetBatching(context->writer, kWriteBatchBytes);
    // A signal ends the process after its grace time: the stream must be
    // left at a block boundary well before that, however slowly it is read.
    pcapngWriterSetStopSignal(context->writer, &g_signalCount, kStopWriteBudgetMs);
    DrainState drain{context, single, depth, 0};
    bool passWasFull = false;
    while (!run.stopMainLoop.load()) {
        // The pause lets records gather between passes; after a full pass more
        // records are already waiting, and pausing would only let the buffer
        // fill up (a slow trickle still gets the pause, so an idle capture does
        // not spin).
        if (!passWasFull) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // A replay refills the buffer as fast as it drains, so a pass is bounded
        // to keep signals, keys and stop checks served; once the capture thread
        // has finished, nothing new comes and the pass drains everything.
        const bool producerDone = run.captureThreadFinished.load();
        writeFailed = !drainPass(&drain, producerDone ? UINT32_MAX : kRecordsPerPass, &passWasFull);
        if (writeFailed || stopCountdown > 0) {
            if (context->writer->packetsDropped > 0)
                logMessagef(context->control, kLogWarning,
                            "%llu packets not written: the reader did not take them in time.",
                            static_cast<unsigned long long>(context->writer->packetsDropped));
            logMessage(context->control, kLogStatus, "Capture stopped");
            run.stopCaptureThread.store(true);
            run.stopMainLoop.store(true);
        } else if (g_signalCount.load() > 0) {
            run.stopCaptureThread.store(true);
            stopCountdown = 1;
        } else if (run.stopCaptureThread.load()) {
            // Once the capture thread has finished, what it released is final: one
            // more pass writes it. Until then it may still be releasing; a thread
            // that does not finish is left to the teardown.
            if (!stopSeen) {
                stopSeen = true;
                stopSeenAt = std::chrono::steady_clock::now();
            }
            if (run.captureThreadFinished.load() || std::chrono::steady_clock::now() - stopSeenAt > kFinishWait)
                stopCountdown = 1;
        }
        // Only a run by hand has a console to type on; under Wireshark standard
        // input is not the user's and is left alone.
        if (context->standalone && consoleKeyWaiting() == 't') run.keyboardForceTrigger.store(true);
    }
    if (context->standalone) consoleKeysEnd();
}

void consoleKeysBegin() {
    g_console = ConsoleState{};
    g_console.terminal = isatty(STDIN_FILENO) == 1;
    if (g_console.terminal && tcgetattr(STDIN_FILENO, &g_console.saved) == 0) {
        struct termios raw = g_console.saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        g_console.changed = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
}

int consoleKeyWaiting() {
    if (g_console.ended) return -1;
    struct pollfd input {
        STDIN_FILENO, POLLIN, 0
    };
    if (poll(&input, 1, 0) != 1 || !(input.revents & (POLLIN | POLLHUP))) return -1;
    unsigned char key = 0;
    const ssize_t got = read(STDIN_FILENO, &key, 1);
    if (got == 1) return key;
    // End of input (closed pipe, /dev/null): nothing will ever be typed.
    if (got == 0) g_console.ended = true;
    return -1;
}

void consoleKeysEnd() {
    if (g_console.changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_console.saved);
    g_console.changed = false;
}
