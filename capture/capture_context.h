// The capture engine's one process-wide context record and its trigger block.
#pragma once

#include <atomic>
#include <cstdint>

struct ControlChannel;
struct FileHandle;
struct CaptureBuffer;
struct PcapngWriter;
struct DumpProcessor;
struct AnalyzerLink;
struct ReplayReader;

constexpr int kPathChars = 260;         // 259 characters + terminator
constexpr int kCaptureFileChars = 512;  // 511 characters + terminator

constexpr uint32_t kBufferSizeMin = 262144;
constexpr uint32_t kBufferSizeMax = 4194304;
constexpr uint32_t kBufferHeadroom = 65536;  // stored size N = chosen size + headroom

constexpr int32_t kPostTriggerMinMs = 100;
constexpr int32_t kPostTriggerMaxMs = 5000;
// Without the option: the value the dialog shows as its default, since
// Wireshark does not pass an option the user left at its default.
constexpr int64_t kPostTriggerDefaultNs = 200000000;
constexpr uint8_t kHwNodeMax = 15;

// The two extcap interfaces the program offers, and its version as the
// three strings Wireshark is shown.
constexpr const char kInterfaceHardwareName[] = "sentra_ta5521_hwif";
constexpr const char kInterfaceFileName[] = "sentra_ta5521_file";
constexpr const char kEngineVersionMajor[] = "4";
constexpr const char kEngineVersionMinor[] = "2";
constexpr const char kEngineVersionMicro[] = "1";
constexpr const char kDeviceName[] = "Q40TA5521";

// Default files when Wireshark hands no paths (a run by hand).
constexpr const char kDefaultFifoPath[] = "sentra_capture.pcapng";
constexpr const char kDefaultControlInPath[] = "sentra_tbIn.txt";
constexpr const char kDefaultControlOutPath[] = "sentra_tbOut.txt";

enum CaptureMode : uint32_t { kCaptureLive = 0, kCaptureSingleShot = 1 };
enum InterfaceKind : uint32_t { kInterfaceHardware = 0, kInterfaceFile = 1 };

// Read by the dump processor and its trigger test; the field order is fixed.
struct TriggerSettings {
    int64_t postTriggerTimeNs;
    uint32_t port01Enabled;
    uint32_t port02Enabled;
    uint32_t diPositive[4];
    uint32_t diNegative[4];
    uint32_t destroyedPacket;
    uint32_t droppedPacket;
};

// Flags shared between the main thread and the capture thread; set once,
// polled without locks.
struct RunFlags {
    std::atomic<bool> stopMainLoop{false};
    std::atomic<bool> stopCaptureThread{false};
    std::atomic<bool> writingEnabled{false};
    std::atomic<bool> traceGenerating{false};
    std::atomic<bool> keyboardForceTrigger{false};
    std::atomic<bool> captureThreadFinished{false};
};

struct CaptureContext {
    char interfaceName[kPathChars];
    char fifoPath[kPathChars];
    char controlInPath[kPathChars];
    char controlOutPath[kPathChars];
    uint8_t loggerControlNumber;
    uint8_t statusControlNumber;
    uint8_t forceTriggerControlNumber;
    uint32_t captureMode;  // CaptureMode
    uint32_t bufferSize;   // N: record count including the headroom
    uint8_t hwNode;        // 0 = first analyzer detected
    TriggerSettings trigger;
    char captureFile[kCaptureFileChars];
    uint32_t interfaceKind;  // InterfaceKind, set at capture start
    char deviceName[32];

    bool queryInterfaces;
    bool queryDlts;
    bool queryConfig;
    bool capture;
    bool standalone;

    // Handles, owned by the context and released in teardown order.
    FileHandle *controlInFile;
    FileHandle *controlOutFile;
    ControlChannel *control;
    CaptureBuffer *buffer;
    PcapngWriter *writer;
    DumpProcessor *processor;
    AnalyzerLink *link;
    ReplayReader *replay;
    void *captureThread;  // owned std::thread, see the capture loops

    RunFlags run;
};

// Incremented by the signal handler, polled by the main loop.
extern std::atomic<int> g_signalCount;

// Fills every field with its value before the command line is read: the
// defaults of the options, empty capture file, no handles, all flags off.
void captureContextInit(CaptureContext *context);

// Interface kind of a --capture run: the name only has to contain one of the
// two interface names. Answers kInterfaceHardware, kInterfaceFile or -1.
int interfaceKindFromName(const char *interfaceName);
