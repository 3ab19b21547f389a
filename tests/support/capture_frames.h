// Reads a capture file (pcap or pcapng, gzip-compressed or not) into memory
// through libpcap, as flowlens_packet_info records ready for the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flowlens.h"

struct captured_frame {
    uint64_t time_ns;
    uint32_t wire_length;
    uint32_t packet_flags;  // pcapng epb_flags (0 when absent)
    std::vector<uint8_t> bytes;
};

struct capture_file {
    std::vector<captured_frame> frames;
    std::string error;  // empty on success
};

// A .gz file is unpacked into a temporary file first (libpcap reads no gzip).
capture_file read_capture(const std::string &path);

// The epb_flags option of every packet block of a pcapng file, in file order
// (0 for a block without it); empty for a pcap file or an unreadable one.
std::vector<uint32_t> read_pcapng_packet_flags(const std::string &path);

// The engine record of frame i (frame number i + 1): the port from the flags'
// direction bits (2 = port 1, anything else port 0), as the plug-in does.
flowlens_packet_info packet_of(const capture_file &capture, size_t i);

// Folder of the shared real captures, or empty when it is not there.
std::string shared_captures_dir();
