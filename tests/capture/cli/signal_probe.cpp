// Stands in for a sentra_extcap run that is interrupted: installs the signal
// guard, says "ready" and then either keeps working ("busy") or, like the
// capture's main loop, finishes as soon as it sees the signal ("prompt").
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "capture_context.h"
#include "signal_guard.h"

int main(int argc, char **argv) {
    const bool prompt = argc > 1 && std::strcmp(argv[1], "prompt") == 0;
    if (installSignalGuard() != 0) return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 0; i < 10000; ++i) {  // at most 10 s
        if (prompt && g_signalCount.load() > 0) return 0;
        usleep(1000);
    }
    return 4;
}
