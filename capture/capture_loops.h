// The two threads of a running capture: the capture thread, whose body feeds
// dump frames to the dump processing (hardware_loop.h, file_loop.h), and the
// main thread's loop that writes released records into the pcapng stream and
// decides when the capture is over.
#pragma once

#include <cstdint>

struct CaptureContext;
struct CaptureThread;

// Hold-back of the presort list while the capture waits: 32 in live capture;
// in single shot the pre-trigger depth, N from a replayed file and N - 65536
// from the analyzer (the 65536 spare records absorb the analyzer's peaks).
int32_t captureHoldBackDepth(const CaptureContext *context);

// The capture thread, created suspended: its body runs only once resumed.
using CaptureThreadBody = void (*)(CaptureContext *);
CaptureThread *captureThreadCreate(CaptureContext *context, CaptureThreadBody body);
// Raises the thread above normal priority where the system allows it (a
// refusal is ignored: the capture then runs at normal priority).
void captureThreadRaisePriority(CaptureThread *thread);
void captureThreadResume(CaptureThread *thread);
// Sets stop-capture-thread and waits up to `timeoutMs` for the thread to
// finish. Answers true once it has finished and was joined (also when it was
// never resumed); false when it is still running.
bool captureThreadStop(CaptureThread *thread, CaptureContext *context, int timeoutMs);
// Frees a stopped thread object; a thread still running is never freed.
void captureThreadFree(CaptureThread *thread);

// Main-thread loop of a capture: start messages, resume the capture thread,
// then every millisecond write (or discard) released records until the
// capture has stopped. Polls the console for the key t in standalone runs.
void mainLoop(CaptureContext *context, CaptureThread *thread);

// The console key check of a standalone run: answers the next key waiting on
// standard input without blocking, or -1. consoleKeysBegin puts a terminal
// into unbuffered, unechoed input; consoleKeysEnd restores it.
void consoleKeysBegin();
int consoleKeyWaiting();
void consoleKeysEnd();
