// Capture start-up, run and teardown of one --capture run.
#pragma once

struct CaptureContext;

// Runs the capture described by the parsed context and tears it down again.
// Answers the process exit status.
int runCapture(CaptureContext* context);
