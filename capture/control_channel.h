// Log lines, status messages and the Force Trigger button over Wireshark's
// extcap control pipes (or the console when started by hand).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

struct ControlChannel;
struct FileHandle;

enum LogLevel : int { kLogStatus = 0, kLogInfo = 1, kLogWarning = 2, kLogError = 3 };
enum StatusKind : int { kStatusBar = 0, kStatusInfo = 1, kStatusWarning = 2, kStatusError = 3 };

// Wireshark's extcap control message: sync byte, 3-byte big-endian length
// (payload length + 2), control number, command, payload.
struct ControlFrameLayout {
    static constexpr int kSync = 0;
    static constexpr int kLength = 1;  // 3 bytes, big-endian
    static constexpr int kControl = 4;
    static constexpr int kCommand = 5;
    static constexpr int kPayload = 6;
};
constexpr int kControlHeaderBytes = 6;
constexpr uint8_t kControlSyncByte = 'T';
constexpr uint32_t kControlMaxPayload = 65535;

enum ControlCommand : uint8_t {
    kCommandSet = 1,
    kCommandAdd = 2,
    kCommandStatusBar = 6,
    kCommandInformation = 7,
    kCommandWarning = 8,
    kCommandError = 9,
};

// Longest text either sending operation accepts.
constexpr int kControlMaxText = 65407;
// Messages are composed into buffers of this size (511 characters + terminator).
constexpr int kMessageChars = 512;

ControlChannel *controlChannelCreate(FileHandle *controlIn, FileHandle *controlOut, uint8_t loggerNumber,
                                     uint8_t statusNumber, uint8_t forceTriggerNumber, int standalone);
int controlChannelSetFilter(ControlChannel *channel, int level, int32_t limit, int32_t windowSeconds);
int logMessage(ControlChannel *channel, int level, const char *text);
int sendStatus(ControlChannel *channel, int kind, const char *text);
int pollForceTrigger(ControlChannel *channel);
void controlChannelFree(ControlChannel *channel);

// The text of the first error message (kStatusError) sent so far, copied into
// `out`; false when none was sent.
bool controlChannelFirstError(ControlChannel *channel, char *out, size_t size);

// Replaces the wall clock (seconds since 1970) that stamps log lines and
// paces the status bar and the filters; nullptr restores the system clock.
// Restarts the status bar's one-second clock.
void controlChannelSetClock(ControlChannel *channel, std::time_t (*now)());

// printf-style conveniences that compose at most kMessageChars - 1 characters.
int logMessagef(ControlChannel *channel, int level, const char *format, ...) __attribute__((format(printf, 3, 4)));
int sendStatusf(ControlChannel *channel, int kind, const char *format, ...) __attribute__((format(printf, 3, 4)));
