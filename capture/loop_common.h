// What the capture thread's two loops share (hardware_loop.cpp and
// file_loop.cpp): ending the capture and serving Force Trigger.
#pragma once

#include <chrono>

struct CaptureContext;

// Ends the capture from the capture thread. With a trace to write, writing is
// enabled before the hold-back drops to 0, so the main thread cannot discard
// records released by the new hold-back before it sees that they are wanted.
void endCapture(CaptureContext *context, bool writeTrace);

// Force Trigger is a poll on the control-in pipe, a system call: at the
// analyzer's full rate it is asked at most this often, not once per frame.
constexpr auto kForcePollInterval = std::chrono::microseconds(200);

// When the control-in pipe was last asked; the first check asks at once.
struct ForceTriggerPoll {
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now() - kForcePollInterval;
};

// Whether the user is told "Please wait while trace is generated!" on a press.
// The two sources have always differed here and both are kept: the analyzer
// source says it only while records wait in the presort list (with none
// there, no trace is coming that could be waited for), the file source says
// it on every press.
enum class ForceTriggerNotice { kWhenRecordsWait, kAlways };

// A press of Force Trigger (button or console key) while the capture runs
// ends it with a trace: logs "Trigger forced!", sends the notice as the
// source asks, and answers whether it did.
bool handleForceTrigger(CaptureContext *context, ForceTriggerPoll *poll, ForceTriggerNotice notice);
