#include "capture_session.h"

#include <cstdio>

#include "capture_context.h"

// Placeholder until the capture start-up and loops are in this build.
int runCapture(CaptureContext* context) {
  (void)context;
  std::fprintf(stderr, "capture not available in this build\n");
  return 0;
}
