// Capture start-up, run and teardown of one --capture run.
#pragma once

#include <cstdint>

struct CaptureContext;

// Runs the capture described by the parsed context and tears it down again.
// Answers the process exit status: 0 after a capture that ran (also one a
// trigger ended), 1 when the set-up failed or an error ended the capture
// (with the reason on standard error), -1 for an interface name that names
// neither interface.
int runCapture(CaptureContext *context);

// Free physical memory in bytes, from the MemAvailable line of a
// /proc/meminfo-style file; -1 when the figure cannot be read.
int64_t readMemAvailableBytes(const char *meminfoPath);

// Halves N until its pool, (N + 1024) slots of 1576 bytes, fits the free
// memory less a reserve of 1 GiB; sets *reduced when N was halved. When even
// the smallest pool does not fit, N stops at kSmallestBufferSize and the
// buffer's own allocation decides. Unknown free memory (-1) keeps N.
constexpr uint32_t kSmallestBufferSize = 1024;
constexpr int64_t kMemoryReserveBytes = 1073741824;
uint32_t fitBufferToMemory(uint32_t n, int64_t availableBytes, bool *reduced);
