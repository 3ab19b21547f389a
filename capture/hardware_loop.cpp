#include "hardware_loop.h"

#include <pcap/pcap.h>

#include "analyzer_link.h"
#include "capture_buffer.h"
#include "capture_context.h"
#include "capture_loops.h"
#include "dump_frame.h"
#include "dump_processor.h"
#include "loop_common.h"

void hardwareLoop(CaptureContext *context) {
    const bool live = context->captureMode != kCaptureSingleShot;
    const int32_t holdBack = captureHoldBackDepth(context);
    if (live) context->run.writingEnabled.store(true);
    ForceTriggerPoll forcePoll;

    while (!context->run.stopCaptureThread.load()) {
        const std::time_t now = std::time(nullptr);
        const pcap_pkthdr *header = nullptr;
        const uint8_t *frame = nullptr;
        if (analyzerLinkReceive(context->link, &header, &frame, isDumpFrame, now) == 0) {
            captureBufferSetHoldBack(context->buffer, holdBack);
            const int result = processDump(context->processor, frame, header->caplen);
            if (result == -1) {
                endCapture(context, false);
            } else if (result == kDumpTraceComplete) {
                endCapture(context, true);
            }
        } else if (analyzerLinkFailed(context->link)) {
            // No card left to read from (the error message is out): a live
            // capture writes what it holds, single shot keeps its rule.
            endCapture(context, false);
        } else if (live && now - analyzerLinkLastDumpTime(context->link) > kLiveIdleFlushSeconds) {
            // The analyzer fell silent: what it sent last must not wait in the
            // buffer for records that may never come. The next frame restores it.
            captureBufferSetHoldBack(context->buffer, 0);
        }

        handleForceTrigger(context, &forcePoll, ForceTriggerNotice::kWhenRecordsWait);
    }
    context->run.captureThreadFinished.store(true);
}
