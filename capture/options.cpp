#include "options.h"

#include <getopt.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture_context.h"

namespace {

enum OptionId : int {
    kOptInterfaces = 1000,
    kOptDlts,
    kOptConfig,
    kOptCapture,
    kOptInterface,
    kOptFifo,
    kOptControlIn,
    kOptControlOut,
    kOptCaptureMode,
    kOptBufferSize,
    kOptHwNode,
    kOptPortConfig,
    kOptPostTrigger,
    kOptTrigger,
    kOptCaptureFile,
    kOptStandalone,
};

const struct option kLongOptions[] = {
    {"extcap-interfaces", no_argument, nullptr, kOptInterfaces},
    {"extcap-dlts", no_argument, nullptr, kOptDlts},
    {"extcap-config", no_argument, nullptr, kOptConfig},
    {"capture", no_argument, nullptr, kOptCapture},
    {"extcap-interface", required_argument, nullptr, kOptInterface},
    {"fifo", required_argument, nullptr, kOptFifo},
    {"extcap-control-in", required_argument, nullptr, kOptControlIn},
    {"extcap-control-out", required_argument, nullptr, kOptControlOut},
    {"capturemode", required_argument, nullptr, kOptCaptureMode},
    {"capturebuffersize", required_argument, nullptr, kOptBufferSize},
    {"ta5521hwnode", required_argument, nullptr, kOptHwNode},
    {"ta5521captureportconfig", required_argument, nullptr, kOptPortConfig},
    {"ta5521posttriggertime", required_argument, nullptr, kOptPostTrigger},
    {"ta5521capturetrigger", required_argument, nullptr, kOptTrigger},
    {"ta5521capturefile", required_argument, nullptr, kOptCaptureFile},
    {"standalone", no_argument, nullptr, kOptStandalone},
    {nullptr, 0, nullptr, 0},
};

// A text longer than its field is refused, not cut: a cut path would name a
// different file (the FIFO or a control pipe opened in the wrong place, a
// replay file that is not the one chosen). The field is emptied instead, so
// the step that uses it fails visibly (an empty path cannot be opened, an
// empty interface name matches no interface) rather than silently working on
// a default or a truncated name.
template <size_t N>
void copyText(char (&field)[N], const char *text, const char *optionName) {
    const size_t length = strnlen(text, N);
    if (length >= N) {
        std::fprintf(stderr, "sentra_extcap: argument of --%s is longer than %zu characters and was refused\n",
                     optionName, N - 1);
        field[0] = '\0';
        return;
    }
    std::memcpy(field, text, length + 1);
}

// Decimal value of the leading digits (after optional blanks and sign), as
// atoi reads it, but saturated instead of overflowing.
long long leadingDecimal(const char *text) {
    return std::strtoll(text, nullptr, 10);  // saturates at LLONG_MIN/LLONG_MAX on overflow
}

long long clamp(long long value, long long low, long long high) {
    return value < low ? low : (value > high ? high : value);
}

void applyOption(CaptureContext *context, int id, const char *argument) {
    TriggerSettings &trigger = context->trigger;
    switch (id) {
    case kOptInterfaces: context->queryInterfaces = true; break;
    case kOptDlts: context->queryDlts = true; break;
    case kOptConfig: context->queryConfig = true; break;
    case kOptCapture: context->capture = true; break;
    case kOptStandalone: context->standalone = true; break;
    case kOptInterface: copyText(context->interfaceName, argument, "extcap-interface"); break;
    case kOptFifo: copyText(context->fifoPath, argument, "fifo"); break;
    case kOptControlIn: copyText(context->controlInPath, argument, "extcap-control-in"); break;
    case kOptControlOut: copyText(context->controlOutPath, argument, "extcap-control-out"); break;
    case kOptCaptureFile: copyText(context->captureFile, argument, "ta5521capturefile"); break;
    case kOptCaptureMode:
        context->captureMode = std::strstr(argument, "singleshot") ? kCaptureSingleShot : kCaptureLive;
        break;
    case kOptBufferSize: {
        const long long size = clamp(leadingDecimal(argument), kBufferSizeMin, kBufferSizeMax);
        context->bufferSize = static_cast<uint32_t>(size) + kBufferHeadroom;
        break;
    }
    case kOptHwNode: {
        const long long node = leadingDecimal(argument);
        context->hwNode = node >= 0 && node <= kHwNodeMax ? static_cast<uint8_t>(node) : 0;
        break;
    }
    case kOptPortConfig:
        trigger.port01Enabled = 0;
        trigger.port02Enabled = 0;
        if (std::strstr(argument, "portx")) {
            trigger.port01Enabled = 1;
            trigger.port02Enabled = 1;
        } else {
            if (std::strstr(argument, "port0")) trigger.port01Enabled = 1;
            if (std::strstr(argument, "port1")) trigger.port02Enabled = 1;
        }
        break;
    case kOptPostTrigger: {
        const long long ms = clamp(leadingDecimal(argument), kPostTriggerMinMs, kPostTriggerMaxMs);
        trigger.postTriggerTimeNs = ms * 1000000LL;
        break;
    }
    case kOptTrigger: {
        // Flags only accumulate over repeated options.
        if (std::strstr(argument, "destroyedPkt")) trigger.destroyedPacket = 1;
        if (std::strstr(argument, "droppedPkt")) trigger.droppedPacket = 1;
        for (int i = 0; i < 4; ++i) {
            char keyword[8];
            std::snprintf(keyword, sizeof keyword, "di%d_pos", i);
            if (std::strstr(argument, keyword)) trigger.diPositive[i] = 1;
            std::snprintf(keyword, sizeof keyword, "di%d_neg", i);
            if (std::strstr(argument, keyword)) trigger.diNegative[i] = 1;
        }
        break;
    }
    default: break;  // '?' (unknown) and ':' (missing argument) are skipped
    }
}

}  // namespace

void parseOptions(CaptureContext *context, int argc, char **argv) {
    if (!context || argc < 1 || !argv) return;
    opterr = 0;
    optind = 0;  // 0 makes glibc start afresh (and re-read POSIXLY_CORRECT)
    int id;
    while ((id = getopt_long(argc, argv, ":", kLongOptions, nullptr)) != -1) {
        applyOption(context, id, optarg ? optarg : "");
    }
}
