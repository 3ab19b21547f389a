// Ethernet frames with nanosecond time stamps and, per frame, the packet
// flags word as the capture engine writes it (pcapng epb_flags), so tshark
// sees the port and error bits exactly as in a capture of the analyzer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flowlens_ws {

struct flagged_frame {
    uint64_t time_ns = 0;
    std::vector<uint8_t> bytes;
    bool has_flags = false;
    uint32_t flags = 0;
};

// Throws std::runtime_error when the file cannot be written.
void write_flagged_pcapng(const std::string &path, const std::vector<flagged_frame> &frames);

// IEEE 802.3 frame check sequence of bytes, appended as it goes on the wire.
void append_fcs(std::vector<uint8_t> &bytes);

}  // namespace flowlens_ws
