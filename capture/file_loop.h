// The capture thread's loop for the file interface: replays the dump frames
// of a captured raw file through the ReplayReader into the dump processing.
#pragma once

struct CaptureContext;

// Capture-thread body for the file interface (pass it to
// captureThreadCreate): replays the ReplayReader's dump frames through
// processDump until the file ends, the capture is complete or stopped, or the
// trigger is forced. Sets capture-thread-finished as its last action.
void fileLoop(CaptureContext *context);
