#include "message_sink.h"

#include "control_channel.h"

void ControlChannelSink::log(int level, const char *text) {
    if (channel_ != nullptr) logMessage(channel_, level, text);
}

void ControlChannelSink::status(int kind, const char *text) {
    if (channel_ != nullptr) sendStatus(channel_, kind, text);
}
