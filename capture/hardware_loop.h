// The capture thread's loop for the hardware interface: reads the analyzer's
// dump frames through the AnalyzerLink and hands them to the dump processing.
#pragma once

#include <cstdint>
#include <ctime>

struct CaptureContext;

// Seconds without a dump frame after which a live capture releases every
// buffered record, although fewer than the hold-back of newer ones follow.
constexpr std::time_t kLiveIdleFlushSeconds = 1;

// Capture-thread body for the hardware interface (pass it to
// captureThreadCreate). Runs until stop-capture-thread is set: by a complete
// trigger, a fatal dump frame, Force Trigger (button or console key), or the
// main thread. Sets capture-thread-finished as its last action.
void hardwareLoop(CaptureContext *context);
