// Wire layout of the frames the flowlens engine reads, named once, and a
// bounded view over a captured frame: every read outside the captured bytes
// yields 0, so short or cut frames never read past their end.
#pragma once

#include <cstdint>
#include <cstring>

namespace flowlens_layout {

// Ethernet II
constexpr uint32_t ETH_DESTINATION = 0;
constexpr uint32_t ETH_SOURCE = 6;
constexpr uint32_t ETH_TYPE = 12;
constexpr uint32_t ETH_HEADER = 14;
constexpr uint32_t MAC_SIZE = 6;

constexpr uint16_t ETHERTYPE_IPV4 = 0x0800;
constexpr uint16_t ETHERTYPE_PLK_V1 = 0x3E3F;
constexpr uint16_t ETHERTYPE_PLK_V2 = 0x88AB;

// IPv4 (from the start of the IP header) and UDP
constexpr uint32_t IP_VERSION_IHL = 0;
constexpr uint32_t IP_PROTOCOL = 9;
constexpr uint32_t IP_SOURCE = 12;
constexpr uint32_t IP_DESTINATION = 16;
constexpr uint8_t IP_PROTOCOL_UDP = 17;
constexpr uint32_t UDP_SOURCE_PORT = 0;
constexpr uint32_t UDP_DESTINATION_PORT = 2;
constexpr uint32_t UDP_HEADER = 8;
constexpr uint16_t UDP_PORT_POWERLINK = 3819;
// Frame bytes of the IPv4 source address (header without options), used for
// the misplaced-frame detail of IPv4 frames.
constexpr uint32_t FRAME_IP_SOURCE = ETH_HEADER + IP_SOURCE;

// POWERLINK header, offsets from its first byte ("EPL offset")
constexpr uint32_t EPL_MESSAGE_TYPE = 0;  // low 7 bits
constexpr uint32_t EPL_DESTINATION = 1;
constexpr uint32_t EPL_SOURCE = 2;
constexpr uint32_t EPL_NMT_STATE = 3;  // SoC/PReq: reserved; PRes/SoA: NMT state
constexpr uint32_t EPL_ASND_SERVICE = 3;
constexpr uint32_t EPL_FLAGS = 4;  // 16-bit little-endian flag word
constexpr uint32_t EPL_MAPPING_VERSION = 6;
constexpr uint32_t EPL_PDO_SIZE = 8;  // PReq/PRes payload size
constexpr uint32_t EPL_SOA_REQUESTED_SERVICE = 6;
constexpr uint32_t EPL_SOA_TARGET = 7;
constexpr uint32_t EPL_SOA_BYTE9 = 9;
constexpr uint32_t EPL_SOA_SYNC_CONTROL = 13;   // bit 6 used with SYNC_REQUEST
constexpr uint32_t EPL_SOC_RELATIVE_TIME = 14;  // low 32 bits, microseconds
constexpr uint32_t EPL_V1_SOC_NETTIME = 6;
constexpr uint32_t EPL_IDENT_NMT_STATE = 6;
constexpr uint32_t EPL_IDENT_REVISION_WORD = 38;
constexpr uint32_t EPL_IDENT_VENDOR_ID = 30;
constexpr uint32_t EPL_IDENT_PRODUCT_CODE = 34;
constexpr uint32_t EPL_IDENT_EXTENSION_WORD = 46;

// Minimum captured frame lengths for the checks that need them
constexpr uint32_t MIN_CYCLE_FRAME = 18;
constexpr uint32_t MIN_V1_SOC_TIME = 24;
constexpr uint32_t MIN_V2_SOC_TIME = 32;
constexpr uint32_t MIN_PRES_SIZE = 34;
constexpr uint32_t MIN_INVITED_NODE = 22;
constexpr uint32_t MIN_MISPLACED_IP = 35;    // more than 34 bytes
constexpr uint32_t MIN_IDENT_IDENTITY = 38;  // EPL bytes
// EPL bytes: both sequence bytes. Sequence-layer-only SDO frames (8 bytes
// over UDP) open and close connections, so the tracking must see them
// (same value as SDO_MIN_TRACKED_LENGTH of the tracking).
constexpr uint32_t MIN_SDO_BYTES = 6;
constexpr uint32_t MIN_CLASSIFY_BYTES = 4;  // EPL bytes
constexpr uint32_t MIN_UDP_PAYLOAD_FRAME = 10;
constexpr uint16_t PRES_HEADER_AND_CRC = 24;  // frame length - 24 = PDO room
constexpr uint16_t STATUS_RESPONSE_MIN_LENGTH = 72;

// Message types
constexpr uint8_t MTYP_SOC = 1;
constexpr uint8_t MTYP_V1_END_CYCLIC = 2;
constexpr uint8_t MTYP_PREQ = 3;
constexpr uint8_t MTYP_PRES = 4;
constexpr uint8_t MTYP_SOA = 5;  // V1: AsyncInvite
constexpr uint8_t MTYP_ASND = 6;
constexpr uint8_t MTYP_AINV = 13;

// ASnd services
constexpr uint8_t SERVICE_IDENT_RESPONSE = 1;
constexpr uint8_t SERVICE_STATUS_RESPONSE = 2;
constexpr uint8_t SERVICE_SDO = 5;
constexpr uint8_t SERVICE_SYNC = 6;
constexpr uint8_t SERVICE_LANYX = 161;
constexpr uint8_t SERVICE_ANALYZER_DUMP = 163;

// SoA / AInv requested services
constexpr uint8_t REQUEST_NMT_INVITE = 3;
constexpr uint8_t REQUEST_SYNC = 6;
constexpr uint8_t REQUEST_UNSPEC_INVITE = 255;

// Flag bits
constexpr uint16_t PRES_FLAG_FLS = 0x4000;  // EPL bytes 4-5 little-endian: bit 14
constexpr uint16_t PRES_FLAG_SLS = 0x8000;  // bit 15
constexpr uint8_t FLAG_MULTIPLEXED = 0x20;  // EPL byte 4 bit 5 (PRes MS, PReq MS)
constexpr uint16_t REQUEST_FIELD = 0x0700;  // RS bits 8-10 of the flag word
constexpr uint8_t SYNC_CONTROL_BIT = 0x40;

// NMT states
constexpr uint8_t NMT_PRE_OPERATIONAL_1 = 0x1D;
constexpr uint8_t NMT_PRE_OPERATIONAL_2 = 0x5D;
constexpr uint8_t NMT_READY_TO_OPERATE = 0x6D;
constexpr uint8_t NMT_OPERATIONAL = 0xFD;

// Analyzer dump (ASnd 163), EPL offsets
constexpr uint32_t DUMP_FORMAT = 4;  // 0: records of variable length
constexpr uint32_t DUMP_COUNT = 6;   // records in this dump (byte)
constexpr uint32_t DUMP_TOTAL = 8;   // running record number (16-bit)
constexpr uint32_t DUMP_LOST = 10;   // frames lost by the analyzer (16-bit)
constexpr uint32_t DUMP_FIRST_RECORD = 22;
constexpr uint32_t DUMP_RECORD_HEADER = 8;
constexpr uint32_t DUMP_RECORD_SIZE = 4;
constexpr uint32_t DUMP_RECORD_STATUS = 6;
constexpr uint16_t DUMP_STATUS_TRIGGER = 0x0040;
constexpr uint8_t DUMP_MAX_SOURCE = 16;

// Destination multicast addresses
constexpr uint8_t MAC_SOC[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x01};
constexpr uint8_t MAC_PRES[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x02};
constexpr uint8_t MAC_SOA[6] = {0x01, 0x11, 0x1E, 0x00, 0x00, 0x03};

}  // namespace flowlens_layout

// Bounded little/big-endian reads over a byte range.
struct flowlens_bytes {
    const uint8_t *data;
    uint32_t size;

    bool has(uint32_t offset, uint32_t width) const {
        return data != nullptr && offset <= size && width <= size - offset;
    }
    uint8_t u8(uint32_t offset) const { return has(offset, 1) ? data[offset] : 0; }
    uint16_t le16(uint32_t offset) const {
        return has(offset, 2) ? uint16_t(data[offset] | (data[offset + 1] << 8)) : 0;
    }
    uint32_t le32(uint32_t offset) const {
        return has(offset, 4) ? uint32_t(data[offset]) | (uint32_t(data[offset + 1]) << 8) |
                                    (uint32_t(data[offset + 2]) << 16) | (uint32_t(data[offset + 3]) << 24)
                              : 0;
    }
    uint16_t be16(uint32_t offset) const {
        return has(offset, 2) ? uint16_t((data[offset] << 8) | data[offset + 1]) : 0;
    }
    uint32_t be32(uint32_t offset) const {
        return has(offset, 4) ? (uint32_t(data[offset]) << 24) | (uint32_t(data[offset + 1]) << 16) |
                                    (uint32_t(data[offset + 2]) << 8) | uint32_t(data[offset + 3])
                              : 0;
    }
    bool equals(uint32_t offset, const uint8_t *other, uint32_t width) const {
        return has(offset, width) && std::memcmp(data + offset, other, width) == 0;
    }
    flowlens_bytes from(uint32_t offset) const {
        if (offset >= size || data == nullptr) return flowlens_bytes{nullptr, 0};
        return flowlens_bytes{data + offset, size - offset};
    }
};
