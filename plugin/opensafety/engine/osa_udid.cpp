/* Recovery of the SCM UDID and SDN from scrambled openSAFETY frames.
 *
 * Sub-frame 2 repeats the header of sub-frame 1 with the SDN folded into the
 * address and its first six bytes XORed with the SCM UDID. UDID bytes 0-2
 * are the vendor prefix (our OUI); bytes 3-5 and the SDN are recovered by
 * assuming the plain values of a few header bytes and letting the CRC of
 * sub-frame 2 decide the one byte that cannot be assumed.
 *
 * Frame classes:
 *  - SPDOs with a 40-bit counter (sub-frame 2's ID byte carries counter
 *    bits): the domain is searched, the header bytes are fixed.
 *  - Other SPDOs and SSDOs longer than 11 bytes: the SDN follows from the
 *    address bytes, UDID byte 4 from a zero TR byte, UDID byte 5 from the
 *    repeated first data byte, and the plain target-address byte (byte 3)
 *    is searched.
 *  - 11-byte frames (no data): UDID byte 5 only scrambles the CRC, so one
 *    byte too many is unknown. Such frames are checked against the UDID
 *    tails already learned from longer frames: each tail decodes all six
 *    bytes, and it is taken when the ID byte repeats sub-frame 1's and the
 *    decoded CRC-8 matches. Only the frame's own 11 bytes are used.
 *
 * A single-byte search against a CRC-8 or CRC-16 of the sub-frame has
 * exactly one solution (both polynomials detect every error burst of up to 8
 * bits), so a match is never ambiguous; but it is also found when one of the
 * assumed bytes was wrong. The checks that can reject a frame are the ID
 * byte (which must unscramble to sub-frame 1's ID with our prefix), the
 * frame geometry and, for 11-byte frames, the CRC against the learned tails.
 * Data-only SPDOs first try a zero target address, which needs no search.
 */
#include "osa_udid.h"

#include "osa_frame.h"

#include <algorithm>
#include <cstring>

using namespace osa_frame;

namespace {

constexpr std::size_t max_frame = 1024;
bool g_last_counter40 = false;
bool g_last_from_tail = false;

struct detect_ctx {
    uint8_t raw[max_frame];
    uint8_t dec[max_frame];
    std::size_t len = 0;    // frame length
    std::size_t f2 = 0;     // sub-frame 2 offset
    std::size_t body2 = 0;  // sub-frame 2 bytes covered by its CRC
    std::size_t crc_bytes = 0;

    uint16_t expected_crc() const {
        if (crc_bytes == 2) return static_cast<uint16_t>(raw[len - 1] << 8 | raw[len - 2]);
        return raw[len - 1];
    }
    uint16_t crc() const { return crc_bytes == 2 ? crc16_0x755b(dec + f2, body2) : crc8_0x2f(dec + f2, body2); }
};

uint16_t sdn_from_decoded(const detect_ctx &c) {
    const unsigned lo = c.dec[c.f2 + f2_adr] ^ c.raw[pos_adr];
    const unsigned hi = (c.dec[c.f2 + f2_id] ^ c.raw[pos_id]) & 0x03;
    return static_cast<uint16_t>(hi << 8 | lo);
}

void store_sdn(osa_node *node, uint16_t sdn) {
    if (!node->sdn_known || node->sdn == 0) node->sdn = sdn;
}

/* SPDO whose sub-frame 2 ID byte does not repeat sub-frame 1's: a 40-bit
 * counter occupies ID and address bytes, the header is fixed (counter bits
 * 32-39 zero, TR = both 40-bit flags) and the domain is searched. */
int detect_spdo40(detect_ctx &c, uint8_t udid[6], uint16_t *sdn) {
    if (c.len <= min_frame) return -1;
    const std::size_t f2 = c.f2;
    std::memcpy(c.dec, c.raw, c.len);
    udid[3] = c.raw[f2 + f2_tadr];
    udid[4] = static_cast<uint8_t>(c.raw[f2 + f2_tr] ^ (tr_40bit_available | tr_40bit_used));
    udid[5] = static_cast<uint8_t>(c.raw[pos_data] ^ c.raw[f2 + f2_data]);
    c.dec[f2 + f2_id] = c.raw[pos_id];
    c.dec[f2 + f2_ct_hi] = static_cast<uint8_t>(c.raw[f2 + f2_ct_hi] ^ osa_udid_prefix[2]);
    c.dec[f2 + f2_tadr] = 0;
    c.dec[f2 + f2_tr] = tr_40bit_available | tr_40bit_used;
    c.dec[f2 + f2_data] = c.raw[pos_data];

    const uint16_t expected = c.expected_crc();
    for (unsigned s = 0; s < 255; ++s) {
        c.dec[f2 + f2_adr] = static_cast<uint8_t>(s ^ c.dec[pos_adr]);
        if (c.crc() == expected) {
            /* Larger matches are taken as the default domain: safety domains
             * in practice are small numbers. */
            *sdn = static_cast<uint16_t>(s <= 50 ? s : 1);
            return 0;
        }
    }
    return -1;
}

/* SPDOs with 16-bit counter and SSDOs longer than 11 bytes. */
int detect_plain(detect_ctx &c, uint8_t udid[6], uint16_t *sdn) {
    const std::size_t f2 = c.f2;
    const bool ssdo = (c.raw[pos_id] & type_ssdo) == type_ssdo;
    for (std::size_t i = 0; i < c.len - f2; ++i) {
        const std::size_t p = f2 + i;
        if (i < 3)
            c.dec[p] = static_cast<uint8_t>(c.raw[p] ^ osa_udid_prefix[i]);
        else if (i == f2_tadr)
            c.dec[p] = ssdo ? c.raw[pos_ct] : 0x00;  // first guess, the search decides
        else if (i == f2_tr) {
            udid[4] = c.raw[p];
            c.dec[p] = 0;
        } else if (i == f2_data) {
            udid[5] = static_cast<uint8_t>(c.raw[p] ^ c.raw[pos_data]);
            c.dec[p] = c.raw[pos_data];
        } else
            c.dec[p] = c.raw[p];
    }
    if ((c.dec[f2 + f2_id] & 0xFC) != (c.raw[pos_id] & 0xFC))
        return -1;  // prefix does not unscramble the ID: another vendor's SCM
    *sdn = sdn_from_decoded(c);

    const uint16_t expected = c.expected_crc();
    if (c.crc() != expected) {
        const uint8_t guess = c.dec[f2 + f2_tadr];
        unsigned v = 0;
        for (; v < 256; ++v) {
            if (v == guess) continue;
            c.dec[f2 + f2_tadr] = static_cast<uint8_t>(v);
            if (c.crc() == expected) break;
        }
        if (v == 256) return -1;
    }
    udid[3] = static_cast<uint8_t>(c.dec[f2 + f2_tadr] ^ c.raw[f2 + f2_tadr]);
    return 0;
}

/* 11-byte frames: try the learned tails. */
int detect_short(detect_ctx &c, const std::vector<uint32_t> &tails, uint8_t udid[6], uint16_t *sdn) {
    const std::size_t f2 = c.f2;
    for (uint32_t tail : tails) {
        const uint8_t t[3] = {static_cast<uint8_t>(tail >> 16), static_cast<uint8_t>(tail >> 8),
                              static_cast<uint8_t>(tail)};
        for (std::size_t i = 0; i < f2_header; ++i)
            c.dec[f2 + i] = static_cast<uint8_t>(c.raw[f2 + i] ^ (i < 3 ? osa_udid_prefix[i] : t[i - 3]));
        if ((c.dec[f2 + f2_id] & 0xFC) != (c.raw[pos_id] & 0xFC)) continue;
        const uint8_t expected = static_cast<uint8_t>(c.raw[f2 + f2_header] ^ t[2]);
        if (crc8_0x2f(c.dec + f2, f2_header) != expected) continue;
        udid[3] = t[0];
        udid[4] = t[1];
        udid[5] = t[2];
        *sdn = sdn_from_decoded(c);
        return 0;
    }
    return -1;
}

}  // namespace

int osa_recover_udid(osa_node *node, const osa_frame_record *rec, const std::vector<uint32_t> &tails, uint32_t *tail) {
    if (!node || !rec || !rec->frame) return -1;
    static detect_ctx c;  // one thread; keeps 2 KiB off the stack and the heap
    c.len = rec->frame_len;
    c.f2 = rec->subframe2;
    if (c.len < min_frame || c.len > max_frame || c.len > rec->frame_avail) return -1;
    if (c.f2 < pos_data + 1 || c.f2 + f2_header + 1 > c.len) return -1;
    std::memcpy(c.raw, rec->frame, c.len);
    std::memset(c.dec, 0, c.len);

    const uint8_t id = c.raw[pos_id];
    /* Time request/response and reserved SPDOs carry a target address that
     * cannot be assumed; slim SSDOs carry no data in sub-frame 2. */
    if ((id & spdo_time_request) == spdo_time_request || (id & spdo_time_response) == spdo_time_response) return -1;

    c.crc_bytes = crc_len(c.raw[pos_len]);
    if (c.len - c.f2 < f2_header + c.crc_bytes) return -1;
    c.body2 = c.len - c.f2 - c.crc_bytes;
    std::memcpy(c.dec, c.raw, c.f2);

    uint8_t udid[6] = {osa_udid_prefix[0], osa_udid_prefix[1], osa_udid_prefix[2], 0, 0, 0};
    uint16_t sdn = 0;
    int rc;
    const bool spdo = (id & 0xF0) == type_spdo;
    /* Only the ID bits tell a 40-bit counter: the two address bits differ
     * whenever the SDN is above 255. */
    const bool spdo40 = spdo && ((~id) & (c.raw[c.f2 + f2_id] ^ osa_udid_prefix[1]) & 0xFC) != 0;
    if (spdo40) {
        rc = detect_spdo40(c, udid, &sdn);
        if (rc == 0 && !node->sdn_known) node->sdn = sdn;
    } else if (c.len == min_frame) {
        rc = detect_short(c, tails, udid, &sdn);
        if (rc == 0) store_sdn(node, sdn);
    } else {
        rc = detect_plain(c, udid, &sdn);
        if (rc == 0) store_sdn(node, sdn);
    }
    if (rc != 0) return -1;

    g_last_counter40 = spdo40;
    g_last_from_tail = !spdo40 && c.len == min_frame;
    std::memcpy(node->scm_udid, udid, sizeof udid);
    node->udid_valid = 1;
    if (tail) *tail = static_cast<uint32_t>(udid[3]) << 16 | static_cast<uint32_t>(udid[4]) << 8 | udid[5];
    return 0;
}

bool osa_last_detection_counter40() { return g_last_counter40; }

bool osa_last_detection_from_tail() { return g_last_from_tail; }
