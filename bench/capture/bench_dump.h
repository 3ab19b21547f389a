// Dump frames for the capture benchmarks: the header of a Q40TA5521 dump
// frame as the analyzer sends it, records written by the caller.
#pragma once

#include <cstdint>
#include <vector>

#include "dump_frame.h"

namespace benchdump {

inline void put16le(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32le(uint8_t *p, uint32_t v) {
    put16le(p, static_cast<uint16_t>(v));
    put16le(p + 2, static_cast<uint16_t>(v >> 16));
}

// A zeroed frame of `bytes` bytes with the UDP/POWERLINK/dump header of
// analyzer 7 (unique id 0x4242) filled in.
inline void startDump(std::vector<uint8_t> *frame, size_t bytes, uint8_t records, uint16_t total, uint32_t high) {
    using namespace dumpframe;
    std::vector<uint8_t> &f = *frame;
    f.assign(bytes, 0);
    f[kEtherTypeOffset] = 0x08;
    f[kIpSourceLastOctet] = 7;
    f[kUdpSourcePortOffset] = f[kUdpDestPortOffset] = kUdpPort >> 8;
    f[kUdpSourcePortOffset + 1] = f[kUdpDestPortOffset + 1] = kUdpPort & 0xFF;
    f[kPlkMessageTypeOffset] = kPlkMessageTypeAsnd;
    f[kPlkDestinationOffset] = kPlkBroadcastNode;
    f[kAsndServiceOffset] = kAsndServiceDump;
    f[kDumpCountOffset] = records;
    put16le(&f[kDumpTotalOffset], total);
    put16le(&f[kUniqueIdOffset], 0x4242);
    put32le(&f[kTsHighOffset], high);
}

}  // namespace benchdump
