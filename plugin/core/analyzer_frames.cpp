#include "analyzer_frames.h"

namespace lyk {

FrameKind frame_kind(uint16_t status, uint16_t length_word) {
    const bool sync = (length_word & kLengthSyncFrame) != 0;
    const bool in = (status & kStatusDirectionIn) != 0;
    if (sync) return in ? FrameKind::SyncIn : FrameKind::SyncOut;
    return in ? FrameKind::AsyncIn : FrameKind::AsyncOut;
}

const char *kind_abbreviation(FrameKind kind) {
    switch (kind) {
    case FrameKind::SyncOut: return "SO";
    case FrameKind::SyncIn: return "SI";
    case FrameKind::AsyncOut: return "AO";
    case FrameKind::AsyncIn: return "AI";
    }
    return "";
}

const char *kind_name(FrameKind kind) {
    switch (kind) {
    case FrameKind::SyncOut: return "Sync Frame Out";
    case FrameKind::SyncIn: return "Sync Frame In";
    case FrameKind::AsyncOut: return "Async Frame Out";
    case FrameKind::AsyncIn: return "Async Frame In";
    }
    return "";
}

int32_t frame_duration_us(uint32_t start_ticks, uint32_t stop_ticks) {
    const uint32_t us = (stop_ticks - start_ticks + 25u) / 50u - 1u;
    return static_cast<int32_t>(us);
}

}  // namespace lyk

namespace lanyxplus {

const char *protocol_column(FrameType type) {
    switch (type) {
    case Data: return "Lanyx+Data";
    case Pause: return "Lanyx+Pause";
    case Management: return "Lanyx+Mgmt";
    default: return "Unknown";
    }
}

const char *subtree_label(FrameType type) {
    switch (type) {
    case Data: return "Data Frame";
    case Pause: return "Pause Frame";
    case Management: return "Management Frame";
    default: return "Unknown";
    }
}

namespace {

struct CommandText {
    uint8_t value;
    const char *text;
};

// A response is its request's value with bit 7 set.
constexpr CommandText kPublicCommands[] = {
    {0, "PingREQU"},     {128, "PingRESP"},    {1, "IdentREQU"},     {129, "IdentRESP"}, {2, "StatusREQU"},
    {130, "StatusRESP"}, {126, "PLLShftREQU"}, {254, "PLLShftRESP"}, {127, "REBOOT"},
};
constexpr CommandText kTimingCommands[] = {
    {0, "OpenREQU"},
    {128, "OpenRESP"},
    {1, "ConfigRequ"},
    {129, "ConfigResp"},
};
constexpr CommandText kUpdateCommands[] = {
    {0, "OpenREQU"}, {128, "OpenRESP"}, {1, "WriteREQU"}, {129, "WriteRESP"}, {127, "CloseREQU"}, {255, "CloseRESP"},
};

template <std::size_t N>
const char *lookup(const CommandText (&table)[N], uint8_t value) {
    for (const CommandText &entry : table)
        if (entry.value == value) return entry.text;
    return "Unknown";
}

}  // namespace

const char *command_type_text(uint8_t type) {
    switch (type) {
    case 0: return "PUBLIC";
    case 1: return "TIMING";
    case 2: return "UPDATE";
    default: return "Unknown";
    }
}

const char *command_text(uint8_t type, uint8_t command) {
    switch (type) {
    case 0: return lookup(kPublicCommands, command);
    case 1: return lookup(kTimingCommands, command);
    case 2: return lookup(kUpdateCommands, command);
    default: return "Unknown";
    }
}

}  // namespace lanyxplus
