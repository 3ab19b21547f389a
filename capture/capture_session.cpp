#include "capture_session.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "analyzer_link.h"
#include "capture_buffer.h"
#include "capture_context.h"
#include "capture_loops.h"
#include "control_channel.h"
#include "dump_processor.h"
#include "file_layer.h"
#include "file_loop.h"
#include "hardware_loop.h"
#include "message_sink.h"
#include "pcapng_writer.h"
#include "replay_reader.h"

namespace {

constexpr uint32_t kLiveBufferSize = 262144 + kBufferHeadroom;
constexpr int kWarningLimit = 10;
constexpr int kWarningWindowSeconds = 10;
// How long teardown waits for the capture thread to finish by itself.
constexpr int kThreadStopTimeoutMs = 3000;
// Exit status of a run that failed: any non-zero status makes Wireshark
// show standard error.
constexpr int kFailureExitStatus = 1;

// The objects of a run that have no handle in the context.
struct SessionParts {
    ControlChannelSink *sink = nullptr;
    CaptureThread *thread = nullptr;
    bool reasonGiven = false;  // a failed set-up step said why on standard error
};

// The teardown order. Each item only if it exists.
void teardown(CaptureContext *context, SessionParts *parts) {
    if (parts->thread) {
        if (!captureThreadStop(parts->thread, context, kThreadStopTimeoutMs)) {
            // A capture thread that does not stop still uses the buffer, the
            // processor and the reader: none of them may be freed under it. What
            // was written is complete block by block, so the process ends here.
            logMessage(context->control, kLogError, "Capture thread did not stop; the capture process ends now.");
            pcapngWriterClose(context->writer);
            _exit(0);
        }
        captureThreadFree(parts->thread);
        parts->thread = nullptr;
        context->captureThread = nullptr;
    }
    if (context->link) {
        analyzerLinkClose(context->link);
        context->link = nullptr;
    }
    if (context->replay) {
        replayReaderClose(context->replay);
        context->replay = nullptr;
    }
    if (context->processor) {
        dumpProcessorFree(context->processor);
        context->processor = nullptr;
    }
    delete parts->sink;
    parts->sink = nullptr;
    if (context->writer) {
        pcapngWriterClose(context->writer);
        context->writer = nullptr;
    }
    if (context->buffer) {
        captureBufferDestroy(context->buffer);
        context->buffer = nullptr;
    }
    if (context->control) {
        controlChannelFree(context->control);
        context->control = nullptr;
    }
    if (context->controlInFile) {
        fileClose(context->controlInFile);
        context->controlInFile = nullptr;
    }
    if (context->controlOutFile) {
        fileClose(context->controlOutFile);
        context->controlOutFile = nullptr;
    }
}

// The start-up once the buffer size and the interface kind are settled:
// control pipes, log, pcapng writer, buffer, capture source, dump processor
// and capture thread; false at the first failure (what failed has already
// reported itself).
bool startUp(CaptureContext *context, SessionParts *parts, bool reduced) {
    context->controlInFile = fileOpen(context->controlInPath, kFileReadWrite, kFileCreateTruncate);
    if (!context->controlInFile) return false;
    context->controlOutFile = fileOpen(context->controlOutPath, kFileReadWrite, kFileCreateTruncate);
    if (!context->controlOutFile) return false;

    context->control = controlChannelCreate(context->controlInFile, context->controlOutFile,
                                            context->loggerControlNumber, context->statusControlNumber,
                                            context->forceTriggerControlNumber, context->standalone ? 1 : 0);
    if (!context->control) return false;
    controlChannelSetFilter(context->control, kLogWarning, kWarningLimit, kWarningWindowSeconds);

    if (logMessagef(context->control, kLogInfo, "Zelmar %s sentra extcap egine V%s.%s.%s", kDeviceName,
                    kEngineVersionMajor, kEngineVersionMinor, kEngineVersionMicro) != 0)
        return false;

    context->writer = pcapngWriterCreate(context->fifoPath, context->control);
    if (!context->writer || pcapngWriteHeader(context->writer, context->deviceName) != 0) return false;

    context->buffer = captureBufferCreate(context->bufferSize + kExtraSlots, kInitialHoldBack);
    parts->reasonGiven = context->buffer == nullptr;
    if (!context->buffer) return false;
    // The analyzer cannot wait for page faults; a file can.
    if (context->interfaceKind == kInterfaceHardware) (void)captureBufferPrefaultStart(context->buffer);

    if (reduced)
        sendStatus(context->control, kStatusWarning,
                   "The configured capturebuffer size is too big for the used system.\nThe buffersize is automatically "
                   "halved until it fits!");

    if (context->interfaceKind == kInterfaceFile) {
        context->replay = replayReaderCreate(context->captureFile, context->control, context->hwNode,
                                             static_cast<int64_t>(std::time(nullptr)));
        if (!context->replay) return false;
        if (replayReaderCheckStart(context->replay) != 0) {
            // The log stays silent here; the user still learns why nothing came.
            std::fprintf(stderr,
                         "sentra_extcap: capture file [%s] does not start with a pcapng section header and interface "
                         "description\n",
                         context->captureFile);
            parts->reasonGiven = true;
            return false;
        }
    } else {
        context->link = analyzerLinkCreate(context->control, context->hwNode, context->deviceName);
        if (!context->link || analyzerLinkOpenAll(context->link) != 0) return false;
    }

    parts->sink = new (std::nothrow) ControlChannelSink(context->control);
    if (!parts->sink) return false;
    context->processor = dumpProcessorCreate(&context->trigger, context->captureMode, context->buffer, parts->sink);
    if (!context->processor) return false;

    parts->thread = captureThreadCreate(context, context->interfaceKind == kInterfaceFile ? fileLoop : hardwareLoop);
    context->captureThread = parts->thread;
    return parts->thread != nullptr;
}

// A run failed when its set-up failed or an error message ended it; a
// capture that a trigger ended also sent an error message (the trigger
// text), and is a success. The reason goes to standard error as well as to
// the log: Wireshark shows an extcap's standard error when it fails, and
// tshark shows nothing else. Answers whether the run failed.
bool reportFailure(CaptureContext *context, const SessionParts &parts, bool started) {
    char reason[kMessageChars];
    const bool errorSent = controlChannelFirstError(context->control, reason, sizeof reason);
    if (started && (!errorSent || context->run.traceGenerating.load())) return false;
    // Set-up steps that report only on the console (a file that cannot be
    // created, the buffer's memory) have put their reason on standard error.
    if (errorSent)
        std::fprintf(stderr, "sentra_extcap: %s\n", reason);
    else if (!parts.reasonGiven && context->control)
        std::fputs("sentra_extcap: the capture could not be started\n", stderr);
    std::fflush(stderr);
    return true;
}

}  // namespace

int64_t readMemAvailableBytes(const char *meminfoPath) {
    FILE *file = std::fopen(meminfoPath, "r");
    if (!file) return -1;
    char line[256];
    int64_t bytes = -1;
    while (std::fgets(line, sizeof line, file)) {
        long long kib = 0;
        char unit[8] = {0};
        if (std::sscanf(line, "MemAvailable: %lld %7s", &kib, unit) == 2 && kib >= 0 && std::strcmp(unit, "kB") == 0) {
            bytes = static_cast<int64_t>(kib) * 1024;
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

uint32_t fitBufferToMemory(uint32_t n, int64_t availableBytes, bool *reduced) {
    if (reduced) *reduced = false;
    if (availableBytes < 0) return n;
    // Signed: with less free memory than the reserve nothing fits, and the
    // halving stops at the smallest size instead of running on at 0.
    const int64_t usable = availableBytes - kMemoryReserveBytes;
    while (n > kSmallestBufferSize &&
           static_cast<int64_t>(n + kExtraSlots) * static_cast<int64_t>(sizeof(PacketRecord)) > usable) {
        n >>= 1;
        if (reduced) *reduced = true;
    }
    if (n < kSmallestBufferSize) n = kSmallestBufferSize;
    return n;
}

int runCapture(CaptureContext *context) {
    if (!context) return 0;
    // Live capture always uses the smallest buffer: it only holds 32 back.
    if (context->captureMode == kCaptureLive) context->bufferSize = kLiveBufferSize;
    // The pool must fit the free physical memory, less a reserve.
    bool reduced = false;
    int64_t available = readMemAvailableBytes("/proc/meminfo");
    // The cards' kernel buffers during discovery come out of the same memory.
    if (available >= 0 && interfaceKindFromName(context->interfaceName) == kInterfaceHardware) {
        const int64_t kernel = analyzerLinkDiscoveryKernelBytes();
        available = available > kernel ? available - kernel : 0;
    }
    context->bufferSize = fitBufferToMemory(context->bufferSize, available, &reduced);
    // The interface kind, by substring.
    const int kind = interfaceKindFromName(context->interfaceName);
    if (kind < 0) return -1;
    context->interfaceKind = static_cast<uint32_t>(kind);

    SessionParts parts;
    const bool started = startUp(context, &parts, reduced);
    if (started) mainLoop(context, parts.thread);
    const bool failed = reportFailure(context, parts, started);
    teardown(context, &parts);
    return failed ? kFailureExitStatus : 0;
}
