// Builds Q40TA5521 dump frames for the tests, byte by byte, independently of
// the engine's own reading code (offsets written out as the analyzer sends
// them, so a wrong constant in the engine cannot hide in both places).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

struct DumpRecordSpec {
    uint32_t timestampLow = 0;
    uint16_t size = 64;         // frame length on the wire
    uint16_t flags = 0;         // bit 0 = port 02
    std::vector<uint8_t> data;  // empty: `size` bytes of a counting pattern
};

class DumpBuilder {
public:
    uint16_t dumpSize = 0;
    uint8_t captureId = 1;
    uint16_t dumpTotal = 0;
    uint16_t dumpLost = 0;
    uint16_t uniqueId = 0x1234;
    uint32_t tsHigh = 0;
    uint8_t phyInfo = 0;
    uint8_t protocolVersion = 0;
    uint8_t node = 7;  // last octet of the IPv4 source address
    std::vector<DumpRecordSpec> records;
    int dumpCountOverride = -1;  // >= 0: written instead of records.size()

    DumpBuilder &add(uint32_t low, uint16_t size = 64, uint16_t flags = 0) {
        DumpRecordSpec r;
        r.timestampLow = low;
        r.size = size;
        r.flags = flags;
        records.push_back(r);
        return *this;
    }

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> f(64, 0);
        // Ethernet: broadcast destination, locally administered source.
        for (int i = 0; i < 6; ++i) f[i] = 0xFF;
        const uint8_t src[6] = {0x02, 0xD7, 0xA5, 0x00, 0x00, node};
        for (int i = 0; i < 6; ++i) f[6 + i] = src[i];
        f[12] = 0x08;
        f[13] = 0x00;
        // IPv4 header of 20 bytes: 192.168.100.<node> -> 255.255.255.255, UDP.
        f[14] = 0x45;
        f[22] = 64;
        f[23] = 17;
        f[26] = 192;
        f[27] = 168;
        f[28] = 100;
        f[29] = node;
        f[30] = f[31] = f[32] = f[33] = 255;
        put16be(f, 34, 3819);
        put16be(f, 36, 3819);
        // POWERLINK ASnd, service 163.
        f[42] = 0x06;
        f[43] = 0xFF;
        f[44] = 0xF0;
        f[45] = 0xA3;
        put16le(f, 46, dumpSize);
        f[48] = static_cast<uint8_t>(dumpCountOverride >= 0 ? dumpCountOverride : static_cast<int>(records.size()));
        f[49] = captureId;
        put16le(f, 50, dumpTotal);
        put16le(f, 52, dumpLost);
        put16le(f, 54, uniqueId);
        put32le(f, 56, tsHigh);
        f[60] = phyInfo;
        f[61] = protocolVersion;
        for (const DumpRecordSpec &r : records) appendRecord(f, r);
        const size_t ipLength = f.size() - 14;
        put16be(f, 16, static_cast<uint16_t>(ipLength));
        put16be(f, 38, static_cast<uint16_t>(ipLength - 20));
        return f;
    }

    static void put16le(std::vector<uint8_t> &f, size_t at, uint16_t v) {
        f[at] = static_cast<uint8_t>(v);
        f[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    static void put32le(std::vector<uint8_t> &f, size_t at, uint32_t v) {
        put16le(f, at, static_cast<uint16_t>(v));
        put16le(f, at + 2, static_cast<uint16_t>(v >> 16));
    }
    static void put16be(std::vector<uint8_t> &f, size_t at, uint16_t v) {
        f[at] = static_cast<uint8_t>(v >> 8);
        f[at + 1] = static_cast<uint8_t>(v);
    }

    // The pattern a record carries when no data is given: byte i = (i + seed).
    static std::vector<uint8_t> pattern(size_t length, uint8_t seed) {
        std::vector<uint8_t> d(length);
        for (size_t i = 0; i < length; ++i) d[i] = static_cast<uint8_t>(i + seed);
        return d;
    }

private:
    void appendRecord(std::vector<uint8_t> &f, const DumpRecordSpec &r) const {
        const size_t start = f.size();
        // Variable length: the whole frame, padded to 4. Fixed: dumpSize bytes
        // including the 8-byte head, the frame cut to fit.
        size_t dataBytes = r.size;
        size_t occupied = (8 + dataBytes + 3) & ~size_t{3};
        if (dumpSize != 0) {
            dataBytes = dumpSize > 8 ? std::min<size_t>(r.size, dumpSize - 8u) : 0;
            occupied = dumpSize;
        }
        f.resize(start + occupied, 0);
        put32le(f, start, r.timestampLow);
        put16le(f, start + 4, r.size);
        put16le(f, start + 6, r.flags);
        const std::vector<uint8_t> data =
            r.data.empty() ? pattern(dataBytes, static_cast<uint8_t>(r.timestampLow)) : r.data;
        for (size_t i = 0; i < dataBytes && i < data.size(); ++i) f[start + 8 + i] = data[i];
    }
};
