// Reads a capture file (pcap or pcapng, gzip-compressed or not) into memory
// through libpcap, as flowlens_packet_info records ready for the engine.
#ifndef FLOWLENS_TEST_CAPTURE_FRAMES_H
#define FLOWLENS_TEST_CAPTURE_FRAMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "flowlens.h"

struct captured_frame {
    uint64_t time_ns;
    uint32_t wire_length;
    std::vector<uint8_t> bytes;
};

struct capture_file {
    std::vector<captured_frame> frames;
    std::string error;  // empty on success
};

// A .gz file is unpacked into a temporary file first (libpcap reads no gzip).
capture_file read_capture(const std::string &path);

// The engine record of frame i (frame number i + 1); port 0, no packet flags.
flowlens_packet_info packet_of(const capture_file &capture, size_t i);

// Folder of the shared real captures, or empty when it is not there.
std::string shared_captures_dir();

#endif
