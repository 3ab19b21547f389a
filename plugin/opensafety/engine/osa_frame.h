/* openSAFETY frame layout and checksums.
 *
 * A frame is two sub-frames. Sub-frame 1 carries the plain header
 * (ADR, ID, LEN, CT low byte), LEN data bytes and its CRC; sub-frame 2
 * repeats the header with the safety domain number folded into the
 * address and, except for SNMT, its first six bytes scrambled with the
 * SCM UDID. Both CRCs are CRC-8 (poly 0x2F) for up to 8 data bytes and
 * CRC-16 (poly 0x755B, stored low byte first) above.
 *
 * Header-only so the traffic generator can use the same definitions
 * without linking the collection.
 */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace osa_frame {

/* Positions inside a sub-frame header. */
constexpr std::size_t pos_adr = 0;   // address bits 0-7
constexpr std::size_t pos_id = 1;    // message ID (bits 2-7) | address bits 8-9
constexpr std::size_t pos_len = 2;   // sub-frame 1 only: data length
constexpr std::size_t pos_ct = 3;    // sub-frame 1: CT low byte
constexpr std::size_t pos_data = 4;  // sub-frame 1: first data byte

/* Sub-frame 2 header positions. */
constexpr std::size_t f2_adr = 0;     // ADR xor SDN (low byte)
constexpr std::size_t f2_id = 1;      // ID | (ADR xor SDN) bits 8-9
constexpr std::size_t f2_ct_hi = 2;   // CT high byte
constexpr std::size_t f2_tadr = 3;    // target / time-sync address low byte
constexpr std::size_t f2_tr = 4;      // TR (bits 2-7) | target address bits 8-9
constexpr std::size_t f2_data = 5;    // first data byte
constexpr std::size_t f2_header = 5;  // header bytes of sub-frame 2
constexpr std::size_t udid_len = 6;   // bytes of sub-frame 2 scrambled with the UDID

constexpr std::size_t min_frame = 11;     // LEN 0 with CRC-8
constexpr unsigned max_crc8_payload = 8;  // longer payloads use CRC-16

/* Message types (ID & 0xE0, slim SSDO & 0xE8) and IDs. */
constexpr uint8_t type_snmt = 0xA0;
constexpr uint8_t type_spdo = 0xC0;
constexpr uint8_t type_ssdo = 0xE0;
constexpr uint8_t type_slim_ssdo = 0xE8;

constexpr uint8_t spdo_data_only = 0xC0;
constexpr uint8_t spdo_time_request = 0xC8;
constexpr uint8_t spdo_time_response = 0xD0;
constexpr uint8_t spdo_reserved = 0xD8;
constexpr uint8_t spdo_conn_valid = 0x04;  // bit in the ID byte of SPDOs

/* SPDO feature flags in the TR byte of sub-frame 2 (after decoding). */
constexpr uint8_t tr_40bit_available = 0x80;
constexpr uint8_t tr_40bit_used = 0x40;

constexpr uint8_t snmt_request_udid = 0xA0;
constexpr uint8_t snmt_response_udid = 0xA4;
constexpr uint8_t snmt_assign_sadr = 0xA8;
constexpr uint8_t snmt_sadr_assigned = 0xAC;
constexpr uint8_t snmt_service_request = 0xB0;
constexpr uint8_t snmt_service_response = 0xB4;

constexpr uint8_t snmt_ext_set_to_pre_op = 0x00;
constexpr uint8_t snmt_ext_set_to_op = 0x02;
constexpr uint8_t snmt_ext_status_pre_op = 0x01;
constexpr uint8_t snmt_ext_status_op = 0x03;
constexpr uint8_t snmt_ext_assign_udid_scm = 0x0E;
constexpr uint8_t snmt_ext_assigned_udid_scm = 0x0F;

constexpr uint8_t ssdo_request = 0xE0;
constexpr uint8_t ssdo_response = 0xE4;
constexpr uint8_t slim_ssdo_request = 0xE8;
constexpr uint8_t slim_ssdo_response = 0xEC;

constexpr uint16_t max_sadr = 1023;

inline std::size_t crc_len(unsigned payload_len) { return payload_len > max_crc8_payload ? 2 : 1; }

/* Offset of sub-frame 2 in a frame whose sub-frame 1 has payload_len bytes. */
inline std::size_t subframe2_offset(unsigned payload_len) { return pos_data + payload_len + crc_len(payload_len); }

namespace detail {
constexpr std::array<uint8_t, 256> make_crc8_table(uint8_t poly) {
    std::array<uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint8_t c = static_cast<uint8_t>(i);
        for (int b = 0; b < 8; ++b) c = static_cast<uint8_t>((c & 0x80) ? (c << 1) ^ poly : (c << 1));
        t[i] = c;
    }
    return t;
}
constexpr std::array<uint16_t, 256> make_crc16_table(uint16_t poly) {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i << 8);
        for (int b = 0; b < 8; ++b) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ poly : (c << 1));
        t[i] = c;
    }
    return t;
}
inline constexpr auto crc8_table = make_crc8_table(0x2F);
inline constexpr auto crc16_table = make_crc16_table(0x755B);
}  // namespace detail

/* Non-reflected CRCs with start value `seed`, no final xor: the same
 * results as libwsutil's crc8_0x2F / crc16_0x755B. */
inline uint8_t crc8_0x2f(const uint8_t *buf, std::size_t len, uint8_t seed = 0) {
    uint8_t crc = seed;
    for (std::size_t i = 0; i < len; ++i) crc = detail::crc8_table[static_cast<uint8_t>(crc ^ buf[i])];
    return crc;
}

inline uint16_t crc16_0x755b(const uint8_t *buf, std::size_t len, uint16_t seed = 0) {
    uint16_t crc = seed;
    for (std::size_t i = 0; i < len; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ detail::crc16_table[static_cast<uint8_t>((crc >> 8) ^ buf[i])]);
    return crc;
}

/* CRC of a sub-frame body: CRC-8 or CRC-16 as the payload length demands. */
inline uint16_t subframe_crc(const uint8_t *buf, std::size_t len, unsigned payload_len) {
    return payload_len > max_crc8_payload ? crc16_0x755b(buf, len) : crc8_0x2f(buf, len);
}

}  // namespace osa_frame
