// The record the Lanyx dissector queues on the "zellyk" tap for every report;
// the "Zelmar/Lanyx" statistics tree counts them.
#pragma once

#include <cstdint>

struct lyk_tap_info {
    uint32_t sync_frame;      // 1 if the synchronous-frame flag is set
    uint32_t inbound;         // direction bit (1 = input)
    uint32_t crc_error;       // CRC32 error bit
    uint32_t sync_error;      // sync error bit
    uint16_t bytes_captured;  // credited bytes; 0 for a report with the CRC32 error bit
    uint16_t bytes_total;     // 13-bit frame length; 0 for a report with the CRC32 error bit
};
