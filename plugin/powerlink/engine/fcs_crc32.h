// The IEEE 802.3 frame check sequence (CRC-32, reflected polynomial
// 0xEDB88320, initial value and final XOR all ones): the same value as zlib's
// crc32(0, data, length) and Wireshark's crc32_802_tvb. Every Ethernet frame
// of a capture is tested for a trailing FCS, so this runs once per frame and
// is built for speed: carry-less multiplication folding where the processor
// has it, slicing by eight bytes otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t flowlens_fcs_crc32(const uint8_t *data, size_t length);

// The portable table path alone (the reference the folding path is checked
// against; also what runs on processors without carry-less multiplication).
uint32_t flowlens_fcs_crc32_portable(const uint8_t *data, size_t length);

// Whether flowlens_fcs_crc32 uses the carry-less multiplication path here.
bool flowlens_fcs_crc32_accelerated(void);
