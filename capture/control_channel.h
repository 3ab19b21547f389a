// Log lines, status messages and the Force Trigger button over Wireshark's
// extcap control pipes (or the console when started by hand).
#pragma once

#include <cstdint>

struct ControlChannel;
struct FileHandle;

enum LogLevel : int { kLogStatus = 0, kLogInfo = 1, kLogWarning = 2, kLogError = 3 };
enum StatusKind : int { kStatusBar = 0, kStatusInfo = 1, kStatusWarning = 2, kStatusError = 3 };

// Longest text either sending operation accepts.
constexpr int kControlMaxText = 65407;
// Messages are composed into buffers of this size (511 characters + terminator).
constexpr int kMessageChars = 512;

ControlChannel* controlChannelCreate(FileHandle* controlIn, FileHandle* controlOut, uint8_t loggerNumber,
                                     uint8_t statusNumber, uint8_t forceTriggerNumber, int standalone);
int controlChannelSetFilter(ControlChannel* channel, int level, int32_t limit, int32_t windowSeconds);
int logMessage(ControlChannel* channel, int level, const char* text);
int sendStatus(ControlChannel* channel, int kind, const char* text);
int pollForceTrigger(ControlChannel* channel);
void controlChannelFree(ControlChannel* channel);

// printf-style conveniences that compose at most kMessageChars - 1 characters.
int logMessagef(ControlChannel* channel, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int sendStatusf(ControlChannel* channel, int kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
