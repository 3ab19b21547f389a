/* The records the openSAFETY collection and the UDID recovery share: a node
 * and one decoded frame. */
#pragma once

#include <cstdint>

/* SCM UDID bytes 0 to 2 assumed by the UDID recovery: Zelmar's OUI. */
constexpr uint8_t osa_udid_prefix[3] = {0x02, 0xD7, 0xA5};

struct osa_node {
    uint32_t sadr = 0;
    uint16_t sdn = 0;
    uint32_t sdn_known = 0;
    uint32_t snmt_count = 0;
    uint32_t ssdo_count = 0;
    uint32_t spdo_count = 0;
    uint8_t scm_udid[6] = {0, 0, 0, 0, 0, 0};
    uint32_t udid_valid = 0;
    uint32_t operational = 0;
    osa_node *partner = nullptr;
    uint32_t is_virtual = 0;
};

/* One decoded openSAFETY frame as the dissector reports it. */
struct osa_frame_record {
    uint32_t kind = 0;               // 1 = malformed: never used for UDID recovery
    uint16_t subframe2 = 0;          // offset of sub-frame 2 in `frame`
    uint32_t frame_len = 0;          // total length of both sub-frames
    const uint8_t *frame = nullptr;  // the openSAFETY frame (may be shorter than frame_len)
    uint32_t frame_avail = 0;        // bytes readable at `frame`
    uint16_t sender = 0;             // sender SADR; 0 = no node
    uint16_t sdn = 0;                // sender SDN; 0 = unknown
    bool is_request = false;
    uint8_t msg_id = 0;
    uint8_t msg_type = 0;
    uint8_t scm_udid[6] = {0, 0, 0, 0, 0, 0};
    bool udid_valid = false;
    uint32_t frame_number = 0;  // number of the packet in the capture

    bool has_payload = false;
    uint8_t snmt_ext_id = 0;    // SNMT: extended service ID
    uint16_t spdo_partner = 0;  // SPDO: time-sync partner address
    bool spdo_conn_valid = false;
    bool spdo_40bit = false;
    uint16_t spdo_counter16 = 0;
    uint64_t spdo_counter40 = 0;
};
