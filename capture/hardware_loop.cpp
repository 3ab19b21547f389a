#include "hardware_loop.h"

#include <pcap/pcap.h>

#include <chrono>

#include "analyzer_link.h"
#include "capture_buffer.h"
#include "capture_context.h"
#include "capture_loops.h"
#include "control_channel.h"
#include "dump_frame.h"
#include "dump_processor.h"

namespace {

// Force Trigger is a poll on the control-in pipe, a system call: at the
// analyzer's full rate it is asked at most this often, not once per frame.
constexpr auto kForcePollInterval = std::chrono::microseconds(200);

// Ends the capture. Writing is enabled before the hold-back drops to 0, so
// the main thread never discards a record it was meant to write.
void endCapture(CaptureContext* context, bool writeTrace) {
  if (writeTrace) {
    context->run.writingEnabled.store(true);
    context->run.traceGenerating.store(true);
  }
  captureBufferSetHoldBack(context->buffer, 0);
  context->run.stopCaptureThread.store(true);
}

bool forceTriggerPressed(CaptureContext* context, std::chrono::steady_clock::time_point* lastPoll) {
  if (context->run.keyboardForceTrigger.load()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now - *lastPoll < kForcePollInterval) return false;
  *lastPoll = now;
  return context->control && pollForceTrigger(context->control) == 0;
}

}  // namespace

void hardwareLoop(CaptureContext* context) {
  const bool live = context->captureMode != kCaptureSingleShot;
  const int32_t holdBack = captureHoldBackDepth(context);
  if (live) context->run.writingEnabled.store(true);
  auto lastPoll = std::chrono::steady_clock::now() - kForcePollInterval;

  while (!context->run.stopCaptureThread.load()) {
    const std::time_t now = std::time(nullptr);
    const pcap_pkthdr* header = nullptr;
    const uint8_t* frame = nullptr;
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

    if (!context->run.stopCaptureThread.load() && forceTriggerPressed(context, &lastPoll)) {
      logMessage(context->control, kLogInfo, "Trigger forced!");
      if (captureBufferRemaining(context->buffer) > 0)
        sendStatus(context->control, kStatusInfo, "Trigger forced!\nPlease wait while trace is generated!");
      endCapture(context, true);
    }
  }
  context->run.captureThreadFinished.store(true);
}
