#include "extcap_queries.h"

#include <cstring>

#include "capture_context.h"

namespace {

constexpr int kForceTriggerControl = 0;
constexpr int kLoggerControl = 1;
constexpr int kDltNumber = 147;  // DLT_USER0; the stream itself declares Ethernet
constexpr const char kDltName[] = "USER0";

struct SelectorValue {
    const char *value;
    const char *display;
    bool isDefault;
};

void printValues(std::FILE *out, int argNumber, const SelectorValue *values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::fprintf(out, "value {arg=%d}{value=%s}{display=%s}{enabled=t}{default=%s}\n", argNumber, values[i].value,
                     values[i].display, values[i].isDefault ? "true" : "false");
    }
}

void printCaptureFileArg(std::FILE *out, int n) {
    std::fprintf(out,
                 "arg {number=%d}{call=--ta5521capturefile}{display=Capture file}"
                 "{tooltip=Select capture file which includes raw-frames from Q40TA5521.}"
                 "{type=fileselect}{mustexist=true}\n",
                 n);
}

void printHwNodeArg(std::FILE *out, int n) {
    std::fprintf(out,
                 "arg {number=%d}{call=--ta5521hwnode}{display=HW node number}"
                 "{tooltip=Specifies the set node number. Set to 0 for 1st-detected Q40TA5521.}"
                 "{type=integer}{range=0,15}{default=0}\n",
                 n);
}

void printCaptureModeArg(std::FILE *out, int n) {
    static const SelectorValue kModes[] = {
        {"singleshot", "Single Shot", true},
        {"livecapture", "Live Capture", false},
    };
    std::fprintf(out,
                 "arg {number=%d}{call=--capturemode}{display=Capture mode}{type=selector}"
                 "{tooltip=Definition of capture mode.}\n",
                 n);
    printValues(out, n, kModes, sizeof kModes / sizeof kModes[0]);
}

void printBufferSizeArg(std::FILE *out, int n) {
    static const SelectorValue kSizes[] = {
        {"262144", "250.000 packets", true},     {"524288", "500.000 packets", false},
        {"1048576", "1.000.000 packets", false}, {"2097152", "2.000.000 packets", false},
        {"4194304", "4.000.000 packets", false},
    };
    std::fprintf(out,
                 "arg {number=%d}{call=--capturebuffersize}{display=Capture buffersize}{type=selector}"
                 "{tooltip=Size of internal capture buffer.}\n",
                 n);
    printValues(out, n, kSizes, sizeof kSizes / sizeof kSizes[0]);
}

void printPortConfigArg(std::FILE *out, int n) {
    static const SelectorValue kPorts[] = {
        {"portx", "All Ports", true},
        {"port0", "Port 01", false},
        {"port1", "Port 02", false},
    };
    std::fprintf(out,
                 "arg {number=%d}{call=--ta5521captureportconfig}{display=Capture configuration}{type=selector}"
                 "{tooltip=Capture configuration parameters.}\n",
                 n);
    printValues(out, n, kPorts, sizeof kPorts / sizeof kPorts[0]);
}

void printPostTriggerArg(std::FILE *out, int n) {
    std::fprintf(out,
                 "arg {number=%d}{call=--ta5521posttriggertime}{display=Capture time after trigger [ms]}"
                 "{tooltip=Specifies the post-trigger time after a deteced trigger event.}"
                 "{type=integer}{range=100,5000}{default=200}{enabled=t}\n",
                 n);
}

void printTriggerArg(std::FILE *out, int n) {
    static const SelectorValue kTriggers[] = {
        {"destroyedPkt", "Destroyed packet", false},        {"droppedPkt", "Dropped packet", false},
        {"di0_pos", "Digital input 01 (pos. edge)", false}, {"di1_pos", "Digital input 02 (pos. edge)", false},
        {"di2_pos", "Digital input 03 (pos. edge)", false}, {"di3_pos", "Digital input 04 (pos. edge)", false},
        {"di0_neg", "Digital input 01 (neg. edge)", false}, {"di1_neg", "Digital input 02 (neg. edge)", false},
        {"di2_neg", "Digital input 03 (neg. edge)", false}, {"di3_neg", "Digital input 04 (neg. edge)", false},
    };
    std::fprintf(out,
                 "arg {number=%d}{call=--ta5521capturetrigger}{display=Capture trigger}{type=multicheck}"
                 "{tooltip=Trigger events for stopping capture process.}\n",
                 n);
    printValues(out, n, kTriggers, sizeof kTriggers / sizeof kTriggers[0]);
}

}  // namespace

void printExtcapInterfaces(std::FILE *out) {
    std::fprintf(out, "extcap {version=%s.%s.%s}\n", kEngineVersionMajor, kEngineVersionMinor, kEngineVersionMicro);
    std::fprintf(out, "interface {value=%s}{display=Q40TA5521 on auto - detect NIC}\n", kInterfaceHardwareName);
    std::fprintf(out, "interface {value=%s}{display=Q40TA5521 on previous captured file}\n", kInterfaceFileName);
    std::fprintf(out,
                 "control {number=%d}{type=button}{role=control}{display=Force Trigger}"
                 "{tooltip=Force trigger during a running capture.}\n",
                 kForceTriggerControl);
    std::fprintf(out,
                 "control {number=%d}{type=button}{role=logger}{display=Sentra Log}"
                 "{tooltip=Log messages directly from sentra extcap capture engine.}\n",
                 kLoggerControl);
}

// Wireshark's extcap parser only takes a "dlt" sentence whose keyword is
// followed by a blank and that carries a {name=...}; without them it reports
// "Extcap returned no DLTs" (and tshark 4.0 -L even crashes on it). The
// number and display text stay what they always were; no line end follows.
void printExtcapDlts(std::FILE *out) {
    std::fprintf(out, "dlt {number=%d}{name=%s}{display=%s}", kDltNumber, kDltName, "DLT Description");
}

void printExtcapConfig(std::FILE *out, const char *interfaceName) {
    if (!interfaceName) return;
    int n = 1;
    if (std::strcmp(interfaceName, kInterfaceFileName) == 0) {
        printCaptureFileArg(out, n++);
    } else if (std::strcmp(interfaceName, kInterfaceHardwareName) != 0) {
        return;
    }
    printHwNodeArg(out, n++);
    printCaptureModeArg(out, n++);
    printBufferSizeArg(out, n++);
    printPortConfigArg(out, n++);
    printPostTriggerArg(out, n++);
    printTriggerArg(out, n++);
}
