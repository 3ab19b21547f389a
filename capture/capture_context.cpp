#include "capture_context.h"

#include <cstring>

std::atomic<int> g_signalCount{0};

namespace {
template <size_t N>
void setText(char (&field)[N], const char *text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}
}  // namespace

void captureContextInit(CaptureContext *context) {
    if (!context) return;
    setText(context->interfaceName, kInterfaceHardwareName);
    setText(context->fifoPath, kDefaultFifoPath);
    setText(context->controlInPath, kDefaultControlInPath);
    setText(context->controlOutPath, kDefaultControlOutPath);
    context->loggerControlNumber = 1;
    context->statusControlNumber = 0;
    context->forceTriggerControlNumber = 0;
    context->captureMode = kCaptureLive;
    context->bufferSize = kBufferSizeMin + kBufferHeadroom;
    context->hwNode = 0;

    TriggerSettings &trigger = context->trigger;
    trigger.postTriggerTimeNs = kPostTriggerDefaultNs;
    trigger.port01Enabled = 1;
    trigger.port02Enabled = 1;
    for (int i = 0; i < 4; ++i) {
        trigger.diPositive[i] = 0;
        trigger.diNegative[i] = 0;
    }
    trigger.destroyedPacket = 0;
    trigger.droppedPacket = 0;

    context->captureFile[0] = '\0';
    context->interfaceKind = kInterfaceHardware;
    setText(context->deviceName, kDeviceName);

    context->queryInterfaces = false;
    context->queryDlts = false;
    context->queryConfig = false;
    context->capture = false;
    context->standalone = false;

    context->controlInFile = nullptr;
    context->controlOutFile = nullptr;
    context->control = nullptr;
    context->buffer = nullptr;
    context->writer = nullptr;
    context->processor = nullptr;
    context->link = nullptr;
    context->replay = nullptr;
    context->captureThread = nullptr;

    context->run.stopMainLoop = false;
    context->run.stopCaptureThread = false;
    context->run.writingEnabled = false;
    context->run.traceGenerating = false;
    context->run.keyboardForceTrigger = false;
    context->run.captureThreadFinished = false;
}

int interfaceKindFromName(const char *interfaceName) {
    if (!interfaceName) return -1;
    if (std::strstr(interfaceName, kInterfaceHardwareName)) return kInterfaceHardware;
    if (std::strstr(interfaceName, kInterfaceFileName)) return kInterfaceFile;
    return -1;
}
