// The analyzer reports the tests and the fuzzing start from: one frame per
// case worth checking, in a fixed order the tests refer to by number.
#pragma once

#include <vector>

#include "analyzer_frame_builder.h"

namespace zelbuild {

// Lanyx (ASnd 161 unless noted), frame numbers 1..
//  1 SI, L=16, 30 bytes captured, 3 bytes 0xF5 in the data area, start 0, stop 100
//  2 SI, L=100, 20 bytes captured: sliced at 66, 0xF5 three times in its 4 data bytes
//  3 AO, L=10, 30 bytes captured: data 16-25, CRC32 26-29 (ASnd 164)
//  4 AI with the CRC32 error bit
//  5 SO with the sync error bit only
//  6 AO with both error bits, equal start and stop (duration -1)
//  7 AO of 10 bytes: too short for its own words
//  8 AO, L=60 complete by credit, 18 bytes captured: data area shorter than a CRC32
std::vector<Packet> lanyx_samples();

// Q40TA5521 (ASnd 163 over UDP 3819):
//  1 dump count 0
//  2 dump size 0, subframes of 60, 61 and 10 bytes (at 18, 86, 158)
//  3 dump size 64, size fields 20 and 1514: 64 data bytes each, 72 apart
//  4 dump count 3 with room for two subframes
//  5 a dump header cut at 10 bytes
std::vector<Packet> packed_samples();

// Lanyx+ (ASnd 165):
//  1 pause frame, package length 64, 6 payload bytes
//  2 data frame 4 -> 5 on port 3: plain payload
//  3 the same frame on port 4: command interface
//  4 data frame on port 0, command 1 0 128 7 and 2 more bytes: PUBLIC PingRESP
//  5 management frame, info byte 0xC5, 4 payload bytes 0xFFFFFFFE
//  6 frame type 3
//  7 17 bytes only
//  8 command interface of type 5 (no command table)
//  9 management frame with 2 payload bytes: too short for its data word
// 10 data frame on port 8 with a 2-byte payload: too short for a command
std::vector<Packet> lanyxplus_samples();

// An ASnd frame of service 162, which the plug-in leaves alone.
std::vector<Packet> asnd162_samples();

// A Lanyx SI report whose data area holds an openSAFETY SNMT frame.
std::vector<Packet> opensafety_in_lanyx_samples();

}  // namespace zelbuild
