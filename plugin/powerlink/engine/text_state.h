// What the frame texts keep in the engine instance between frames: the text
// being built and the cells for deltas to earlier frames (ET2000 time, V1
// NetTime, the Modbus request ring). Only the frame texts change it.
#pragma once

#include <cstdint>

#include "text_writer.h"

#define FLOWLENS_MODBUS_REQUESTS 16

struct flowlens_modbus_request {
    uint16_t transaction_id;
    uint32_t ip_destination;
    uint16_t tcp_source_port;
    uint16_t start_address;
};

struct flowlens_text_state {
    flowlens_text_writer writer;
    uint64_t frame_number;  // of the frame whose text is being built
    uint64_t time;
    uint64_t last_frame;  // frame number of the last frame given a text
    uint64_t et2000_prev_frame;
    uint64_t et2000_prev_time;
    uint32_t v1_prev_nettime;
    uint8_t v1_nettime_valid;
    uint8_t modbus_index;
    flowlens_modbus_request modbus[FLOWLENS_MODBUS_REQUESTS];
};
