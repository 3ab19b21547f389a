#include "control_channel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "file_layer.h"

namespace {

constexpr int kLevelCount = 4;
constexpr const char *kLevelNames[kLevelCount] = {" STATUS", "   INFO", "WARNING", "  ERROR"};
constexpr const char kFilterLevelName[] = " FILTER";
constexpr const char kFilterActivatedText[] = "Logging filter activated for message type: ";
// Clears an ANSI/VT100 console and homes the cursor: what a standalone run
// shows before each status message.
constexpr const char kClearConsole[] = "\033[H\033[2J";

// Per level: at most `limit` lines, then one FILTER line, then one line per
// `windowSeconds` (followed by up to limit - 1 more).
struct MessageFilter {
    bool active;
    int32_t count;
    int32_t limit;  // -1 = no limit
    int32_t windowSeconds;
    std::time_t lastWritten;
};

std::time_t systemNow() { return std::time(nullptr); }

// Seconds since `then`. A wall clock that was set back makes this negative;
// that counts as "long ago", or the status bar and a filtered level would
// stay silent until the clock caught up again.
bool lessThanSecondsAgo(std::time_t now, std::time_t then, std::time_t seconds) {
    const std::time_t elapsed = now - then;
    return elapsed >= 0 && elapsed < seconds;
}

void putLength(uint8_t *header, uint32_t length) {
    header[ControlFrameLayout::kLength] = static_cast<uint8_t>(length >> 16);
    header[ControlFrameLayout::kLength + 1] = static_cast<uint8_t>(length >> 8);
    header[ControlFrameLayout::kLength + 2] = static_cast<uint8_t>(length);
}

uint32_t getLength(const uint8_t *header) {
    return (uint32_t{header[ControlFrameLayout::kLength]} << 16) |
           (uint32_t{header[ControlFrameLayout::kLength + 1]} << 8) | header[ControlFrameLayout::kLength + 2];
}

bool textAcceptable(const char *text) {
    return text && strnlen(text, kControlMaxText + 1) <= static_cast<size_t>(kControlMaxText);
}

}  // namespace

struct ControlChannel {
    FileHandle *controlIn;
    FileHandle *controlOut;
    uint8_t loggerNumber;
    uint8_t statusNumber;
    uint8_t forceTriggerNumber;
    int standalone;
    uint32_t logLinesSent;
    std::time_t lastStatusBar;
    MessageFilter filters[kLevelCount];
    std::time_t (*now)();

    // Both threads send: the outgoing area, the status-bar clock, the filters
    // and the counter are only touched under this lock, so lines never mix.
    std::mutex sendLock;
    uint8_t outgoing[kControlHeaderBytes + kControlMaxPayload];

    // Incoming message being assembled. Bytes are taken only as far as they are
    // waiting in the pipe, and a partly arrived message stays here until the
    // next poll, so a payload still in flight can never be mistaken for a header.
    uint8_t incoming[kControlHeaderBytes + kControlMaxPayload];
    uint32_t incomingHave;
    uint32_t skipRemaining;  // payload bytes of an oversize message still to discard

    // The first error pop-up of the run, kept under sendLock: the reason the
    // process gives on standard error when the capture failed.
    char firstError[kMessageChars];
};

ControlChannel *controlChannelCreate(FileHandle *controlIn, FileHandle *controlOut, uint8_t loggerNumber,
                                     uint8_t statusNumber, uint8_t forceTriggerNumber, int standalone) {
    if (standalone != 0 && standalone != 1) return nullptr;
    if (!controlOut) return nullptr;
    ControlChannel *channel = new (std::nothrow) ControlChannel();
    if (!channel) return nullptr;
    channel->controlIn = controlIn;
    channel->controlOut = controlOut;
    channel->loggerNumber = loggerNumber;
    channel->statusNumber = statusNumber;
    channel->forceTriggerNumber = forceTriggerNumber;
    channel->standalone = standalone;
    channel->now = systemNow;
    channel->lastStatusBar = channel->now();
    for (MessageFilter &filter : channel->filters) filter = MessageFilter{false, 0, -1, -1, 0};
    return channel;
}

void controlChannelSetClock(ControlChannel *channel, std::time_t (*now)()) {
    if (!channel) return;
    std::lock_guard<std::mutex> guard(channel->sendLock);
    channel->now = now ? now : systemNow;
    channel->lastStatusBar = channel->now();
}

int controlChannelSetFilter(ControlChannel *channel, int level, int32_t limit, int32_t windowSeconds) {
    if (!channel || level < 0 || level >= kLevelCount) return -1;
    std::lock_guard<std::mutex> guard(channel->sendLock);
    MessageFilter &filter = channel->filters[level];
    filter.limit = limit;
    filter.windowSeconds = windowSeconds;
    return 0;
}

int logMessage(ControlChannel *channel, int level, const char *text) {
    if (!channel || level < 0 || level >= kLevelCount || !textAcceptable(text)) return -1;
    std::lock_guard<std::mutex> guard(channel->sendLock);

    const std::time_t now = channel->now();
    std::tm local{};
    localtime_r(&now, &local);

    // Decide on a copy of the filter: a failed write changes no state.
    MessageFilter filter = channel->filters[level];
    bool filterLine = false;
    if (filter.count != filter.limit) {
        if (filter.limit != -1) ++filter.count;  // unlimited levels need no count
    } else if (!filter.active) {
        filterLine = true;
        filter.active = true;
    } else if (lessThanSecondsAgo(now, filter.lastWritten, filter.windowSeconds)) {
        return 0;  // dropped by the filter
    } else {
        filter.count = 1;
    }
    filter.lastWritten = now;

    char *line = reinterpret_cast<char *>(channel->outgoing + kControlHeaderBytes);
    int length;
    if (filterLine) {
        length = std::snprintf(line, kControlMaxPayload, "%s: - %02d.%02d.%04d - %02d:%02d:%02d - %s%s\n",
                               kFilterLevelName, local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour,
                               local.tm_min, local.tm_sec, kFilterActivatedText, kLevelNames[level]);
    } else {
        length = std::snprintf(line, kControlMaxPayload, "%s: - %02d.%02d.%04d - %02d:%02d:%02d - %s\n",
                               kLevelNames[level], local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour,
                               local.tm_min, local.tm_sec, text);
    }
    if (length < 0 || length >= static_cast<int>(kControlMaxPayload) - 2) return -1;

    int result;
    if (channel->standalone) {
        result = fileWrite(channel->controlOut, line, static_cast<uint32_t>(length));
    } else {
        uint8_t *header = channel->outgoing;
        header[ControlFrameLayout::kSync] = kControlSyncByte;
        putLength(header, static_cast<uint32_t>(length) + 2);
        header[ControlFrameLayout::kControl] = channel->loggerNumber;
        header[ControlFrameLayout::kCommand] = channel->logLinesSent == 0 ? kCommandSet : kCommandAdd;
        result = fileWrite(channel->controlOut, header, kControlHeaderBytes + static_cast<uint32_t>(length));
    }
    if (result != 0) return -1;
    channel->filters[level] = filter;
    ++channel->logLinesSent;
    return 0;
}

int sendStatus(ControlChannel *channel, int kind, const char *text) {
    static constexpr uint8_t kCommands[] = {kCommandStatusBar, kCommandInformation, kCommandWarning, kCommandError};
    if (!channel || kind < 0 || kind > kStatusError || !textAcceptable(text)) return -1;
    std::lock_guard<std::mutex> guard(channel->sendLock);

    if (kind == kStatusError && channel->firstError[0] == '\0')
        std::snprintf(channel->firstError, sizeof channel->firstError, "%s", text);
    const std::time_t now = channel->now();
    // The status bar takes at most one message per wall-clock second; the
    // pop-up kinds are never dropped.
    if (kind == kStatusBar && lessThanSecondsAgo(now, channel->lastStatusBar, 1)) return -1;

    const size_t textLength = std::strlen(text);
    int result;
    if (channel->standalone) {
        // A run by hand shows the newest status alone on a cleared console.
        result = std::fputs(kClearConsole, stdout) >= 0 && std::fputs(text, stdout) >= 0 &&
                         std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0
                     ? 0
                     : -1;
    } else {
        uint8_t *header = channel->outgoing;
        std::memcpy(header + kControlHeaderBytes, text, textLength);
        header[kControlHeaderBytes + textLength] = '\n';
        const uint32_t areaLength = static_cast<uint32_t>(textLength) + 1;
        header[ControlFrameLayout::kSync] = kControlSyncByte;
        putLength(header, areaLength + 2);
        header[ControlFrameLayout::kControl] = channel->statusNumber;
        header[ControlFrameLayout::kCommand] = kCommands[kind];
        result = fileWrite(channel->controlOut, header, kControlHeaderBytes + areaLength);
    }
    if (result != 0) return -1;
    if (kind == kStatusBar) channel->lastStatusBar = now;
    return 0;
}

int pollForceTrigger(ControlChannel *channel) {
    if (!channel || !channel->controlIn) return -1;
    int64_t waiting = fileBytesWaiting(channel->controlIn);
    uint8_t *message = channel->incoming;

    while (waiting > 0) {
        if (channel->skipRemaining > 0) {
            // An oversize payload: discard it by count, in chunks through the
            // payload area, then it counts as one consumed (ignored) message.
            uint32_t chunk = channel->skipRemaining;
            if (chunk > kControlMaxPayload) chunk = kControlMaxPayload;
            if (static_cast<int64_t>(chunk) > waiting) chunk = static_cast<uint32_t>(waiting);
            if (fileReadAt(channel->controlIn, 0, message + kControlHeaderBytes, chunk, 1) != 0) return -1;
            channel->skipRemaining -= chunk;
            waiting -= chunk;
            if (channel->skipRemaining == 0) return -1;
            continue;
        }

        if (channel->incomingHave < kControlHeaderBytes) {
            uint32_t need = kControlHeaderBytes - channel->incomingHave;
            if (static_cast<int64_t>(need) > waiting) need = static_cast<uint32_t>(waiting);
            if (fileReadAt(channel->controlIn, 0, message + channel->incomingHave, need, 1) != 0) return -1;
            channel->incomingHave += need;
            waiting -= need;

            // Resynchronise on the sync byte: whatever precedes it is not a message.
            uint32_t start = 0;
            while (start < channel->incomingHave && message[start] != kControlSyncByte) ++start;
            if (start > 0) {
                std::memmove(message, message + start, channel->incomingHave - start);
                channel->incomingHave -= start;
            }
            if (channel->incomingHave < kControlHeaderBytes) continue;

            const uint32_t length = getLength(message);
            if (length < 2) {
                // Impossible length: this "T" was not a message start; look further.
                std::memmove(message, message + 1, channel->incomingHave - 1);
                channel->incomingHave -= 1;
                continue;
            }
            if (length - 2 > kControlMaxPayload) {
                channel->skipRemaining = length - 2;
                channel->incomingHave = 0;
                continue;
            }
        }

        const uint32_t total = kControlHeaderBytes + (getLength(message) - 2);
        if (channel->incomingHave < total) {
            uint32_t need = total - channel->incomingHave;
            if (static_cast<int64_t>(need) > waiting) need = static_cast<uint32_t>(waiting);
            if (fileReadAt(channel->controlIn, 0, message + channel->incomingHave, need, 1) != 0) return -1;
            channel->incomingHave += need;
            waiting -= need;
        }
        if (channel->incomingHave == total) {
            channel->incomingHave = 0;
            return message[ControlFrameLayout::kControl] == channel->forceTriggerNumber &&
                           message[ControlFrameLayout::kCommand] == kCommandSet
                       ? 0
                       : -1;
        }
    }
    return -1;
}

void controlChannelFree(ControlChannel *channel) { delete channel; }

int logMessagef(ControlChannel *channel, int level, const char *format, ...) {
    char text[kMessageChars];  // per call: two threads never share a composition buffer
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    if (length < 0) return -1;
    return logMessage(channel, level, text);
}

bool controlChannelFirstError(ControlChannel *channel, char *out, size_t size) {
    if (!channel || !out || size == 0) return false;
    std::lock_guard<std::mutex> guard(channel->sendLock);
    if (channel->firstError[0] == '\0') return false;
    std::snprintf(out, size, "%s", channel->firstError);
    return true;
}

int sendStatusf(ControlChannel *channel, int kind, const char *format, ...) {
    char text[kMessageChars];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    if (length < 0) return -1;
    return sendStatus(channel, kind, text);
}
