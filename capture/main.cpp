// sentra_extcap: Wireshark's extcap program for the Q40TA5521 analyzer.
// Answers the extcap queries and, with --capture, runs one capture.
#include <csignal>
#include <cstdio>

#include "capture_context.h"
#include "capture_session.h"
#include "extcap_queries.h"
#include "options.h"
#include "signal_guard.h"

namespace {
// One process-wide context; the capture thread gets a pointer to it.
CaptureContext g_context;
}  // namespace

int main(int argc, char **argv) {
    installSignalGuard();
    // A FIFO or control pipe whose reader went away makes writes fail instead
    // of ending the process.
    std::signal(SIGPIPE, SIG_IGN);

    CaptureContext *context = &g_context;
    captureContextInit(context);
    parseOptions(context, argc, argv);

    if (context->queryInterfaces) printExtcapInterfaces(stdout);
    if (context->queryDlts) printExtcapDlts(stdout);
    if (context->queryConfig) printExtcapConfig(stdout, context->interfaceName);
    std::fflush(stdout);

    if (!context->capture) return 0;

    // --capture needs one of our two interfaces (by substring: Wireshark may
    // decorate the name); anything else ends the run with -1 and no message.
    const int kind = interfaceKindFromName(context->interfaceName);
    if (kind < 0) return -1;
    context->interfaceKind = static_cast<uint32_t>(kind);

    const int result = runCapture(context);
    std::fflush(stdout);
    return result;
}
