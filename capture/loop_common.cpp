#include "loop_common.h"

#include "capture_buffer.h"
#include "capture_context.h"
#include "control_channel.h"

namespace {

bool forceTriggerPressed(CaptureContext *context, ForceTriggerPoll *poll) {
    if (context->run.keyboardForceTrigger.load()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - poll->last < kForcePollInterval) return false;
    poll->last = now;
    return context->control && pollForceTrigger(context->control) == 0;
}

}  // namespace

void endCapture(CaptureContext *context, bool writeTrace) {
    if (writeTrace) {
        context->run.writingEnabled.store(true);
        context->run.traceGenerating.store(true);
    }
    captureBufferSetHoldBack(context->buffer, 0);
    context->run.stopCaptureThread.store(true);
}

bool handleForceTrigger(CaptureContext *context, ForceTriggerPoll *poll, ForceTriggerNotice notice) {
    if (context->run.stopCaptureThread.load() || !forceTriggerPressed(context, poll)) return false;
    logMessage(context->control, kLogInfo, "Trigger forced!");
    if (notice == ForceTriggerNotice::kAlways || captureBufferRemaining(context->buffer) > 0)
        sendStatus(context->control, kStatusInfo, "Trigger forced!\nPlease wait while trace is generated!");
    endCapture(context, true);
    return true;
}
