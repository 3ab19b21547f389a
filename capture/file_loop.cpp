#include "file_loop.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <new>
#include <thread>

#include "capture_buffer.h"
#include "capture_context.h"
#include "capture_loops.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "dump_processor.h"
#include "loop_common.h"
#include "replay_reader.h"

namespace {

// The replay waits for the main thread while fewer slots than this are free:
// a dump carries at most 255 records.
constexpr int64_t kReplayFreeSlotsNeeded = 256 + 8;
// How far a live replay runs ahead of the main thread, in records: several
// of the main thread's batches, and still few enough to stay in the cache.
constexpr int64_t kLiveReplayLead = 8192;
// A press of Force Trigger during a replay always tells the user to wait
// for the trace (see ForceTriggerNotice).
constexpr ForceTriggerNotice kFileNotice = ForceTriggerNotice::kAlways;

// The replay is paced by the buffer: it never takes the last free slots, so
// a file is replayed as fast as the main thread drains, never faster (the
// analyzer cannot wait, a file can). In live mode it also stays at most
// `maxWaiting` records ahead of the writer: the records then are still in
// the processor's cache when the main thread writes them, instead of
// filling the whole pool and being fetched back from memory one by one.
// Force Trigger is still served meanwhile.
void waitForRoom(CaptureContext *context, int64_t maxWaiting, ForceTriggerPoll *forcePoll) {
    CaptureBuffer *buffer = context->buffer;
    while (!context->run.stopCaptureThread.load()) {
        // The free list itself: the main thread may hold a batch of slots
        // between taking and giving them back.
        if (captureBufferFreeCount(buffer) >= kReplayFreeSlotsNeeded && captureBufferRemaining(buffer) <= maxWaiting)
            return;
        if (handleForceTrigger(context, forcePoll, kFileNotice)) return;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// The end of the file ends the capture. In single shot without a trigger
// nothing is written; the user is told so, and how to get the frames.
void endOfFile(CaptureContext *context) {
    const bool anyDump = replayReaderFinish(context->replay) > 0;
    if (anyDump && context->captureMode == kCaptureSingleShot) {
        const char *text =
            "End of capture file reached in Single Shot mode without a trigger: nothing was written. Use Live Capture, "
            "a trigger, or Force Trigger.";
        logMessage(context->control, kLogWarning, text);
        sendStatus(context->control, kStatusWarning, text);
    }
    endCapture(context, false);
}

}  // namespace

void fileLoop(CaptureContext *context) {
    const bool singleShot = context->captureMode == kCaptureSingleShot;
    const int32_t holdBack = captureHoldBackDepth(context);
    if (!singleShot) context->run.writingEnabled.store(true);
    // Single shot must fill its pre-trigger ring; live replay runs only a
    // little ahead of the writer.
    const int64_t maxWaiting = singleShot ? INT64_MAX : holdBack + kLiveReplayLead;
    // What the reader fills: a whole dump frame as the file holds it, which
    // may be longer than a capture slot.
    ReplayFrame *frame = new (std::nothrow) ReplayFrame;
    if (!frame) {
        endCapture(context, false);
        context->run.captureThreadFinished.store(true);
        return;
    }
    ForceTriggerPoll forcePoll;
    while (!context->run.stopCaptureThread.load()) {
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        frame->timestamp = 0;
        frame->frameLength = 0;
        frame->capturedLength = 0;
        if (replayReaderReadFrame(context->replay, frame, isDumpFrame, now) == 0) {
            waitForRoom(context, maxWaiting, &forcePoll);
            if (context->run.stopCaptureThread.load()) break;
            captureBufferSetHoldBack(context->buffer, holdBack);
            const int result = processDump(context->processor, frame->data, frame->capturedLength);
            if (result == -1) {
                endCapture(context, false);
            } else if (result == kDumpTraceComplete) {
                endCapture(context, true);
            }
        } else if (replayReaderBytesLeft(context->replay) == 0) {
            endOfFile(context);
        }
        handleForceTrigger(context, &forcePoll, kFileNotice);
    }
    delete frame;
    context->run.captureThreadFinished.store(true);
}
