/* Adapter from Wireshark's openSAFETY tap record to the collection, and the
 * openSAFETY statistics tree. */
#include "osa_tap.h"

#include <epan/packet.h>
#include <epan/stats_tree.h>
#include <epan/tap.h>
#include <epan/dissectors/packet-opensafety.h>

#include <cstdio>
#include <cstring>

namespace {

/* Frames are at most 2 * 255 + 13 bytes; the copy is bounded by the buffer. */
uint8_t g_frame_copy[1024];
int g_tap_marker;  // identity of our listener for Wireshark

void fill_record(const opensafety_packet_info *pkt, const packet_info *pinfo, osa_frame_record *rec) {
    /* The tap record says "malformed" where newer records name a message kind. */
    rec->kind = pkt->frame.malformed ? 1 : 0;
    rec->subframe2 = pkt->frame.subframe2;
    rec->frame_len = pkt->frame.length;
    rec->frame = nullptr;
    rec->frame_avail = 0;
    if (pkt->frame.frame_tvb) {
        guint avail = tvb_captured_length(pkt->frame.frame_tvb);
        if (avail > sizeof g_frame_copy) avail = sizeof g_frame_copy;
        tvb_memcpy(pkt->frame.frame_tvb, g_frame_copy, 0, avail);
        rec->frame = g_frame_copy;
        rec->frame_avail = avail;
    }
    rec->sender = pkt->sender;
    rec->sdn = pkt->sdn;
    rec->is_request = pkt->is_request != FALSE;
    rec->msg_id = pkt->msg_id;
    rec->msg_type = pkt->msg_type;
    std::memcpy(rec->scm_udid, pkt->scm_udid, sizeof rec->scm_udid);
    rec->udid_valid = pkt->scm_udid_valid == TRUE;
    rec->frame_number = pinfo ? pinfo->num : 0;

    rec->has_payload = false;
    if (pkt->msg_type == OPENSAFETY_SNMT_MESSAGE_TYPE && pkt->payload.snmt) {
        rec->has_payload = true;
        rec->snmt_ext_id = pkt->payload.snmt->ext_msg_id;
    } else if (pkt->msg_type == OPENSAFETY_SPDO_MESSAGE_TYPE && pkt->payload.spdo) {
        const opensafety_packet_spdo *spdo = pkt->payload.spdo;
        rec->has_payload = true;
        rec->spdo_partner = spdo->timerequest;
        rec->spdo_conn_valid = spdo->conn_valid != FALSE;
        /* This dissector reports a 40-bit counter through its feature flags. */
        rec->spdo_40bit = spdo->counter_40bit || spdo->flags.enabled40bit;
        rec->spdo_counter16 = spdo->counter.b16;
        rec->spdo_counter40 = rec->spdo_40bit ? spdo->counter.b40 : spdo->counter.b16;
    }
}

void tap_reset(void *) { osa_tap_reset(); }

tap_packet_status tap_packet(void *, packet_info *pinfo, epan_dissect_t *, const void *data, tap_flags_t) {
    const auto *pkt = static_cast<const opensafety_packet_info *>(data);
    if (!pkt) {
        g_log(nullptr, G_LOG_LEVEL_DEBUG, "openSAFETY tap: record missing");
        return TAP_PACKET_DONT_REDRAW;
    }
    osa_frame_record rec;
    fill_record(pkt, pinfo, &rec);
    /* A record without sender is skipped, not failed: a failed packet makes
     * Wireshark stop calling the listener for the rest of the file. */
    osa_tap_packet(&rec);
    return TAP_PACKET_DONT_REDRAW;
}

void tap_draw(void *) { osa_tap_draw(); }

/* ---- statistics tree ---- */

int g_root_node = -1;
char g_name[osa_stats_name_size];
const char g_root_name[] = "openSAFETY Nodes";

void osa_stats_tree_init(stats_tree *st) {
    g_root_node = stats_tree_create_node(st, g_root_name, 0, STAT_DT_INT, TRUE);
}

tap_packet_status osa_stats_tree_packet(stats_tree *st, packet_info *, epan_dissect_t *, const void *data,
                                        tap_flags_t) {
    const auto *pkt = static_cast<const opensafety_packet_info *>(data);
    if (!pkt) return TAP_PACKET_FAILED;

    tick_stat_node(st, g_root_name, 0, TRUE);
    std::snprintf(g_name, sizeof g_name, "SN: %02d", pkt->sender);
    const int sn_node = tick_stat_node(st, g_name, g_root_node, TRUE);

    switch (pkt->msg_type) {
    case OPENSAFETY_SPDO_MESSAGE_TYPE: {
        std::snprintf(g_name, sizeof g_name, "SPDO [Producer: %d]", pkt->sender);
        const int spdo_node = tick_stat_node(st, g_name, sn_node, TRUE);
        const unsigned partner = pkt->payload.spdo ? pkt->payload.spdo->timerequest : 0;
        if (pkt->msg_id == OPENSAFETY_MSG_SPDO_DATA_WITH_TIME_REQUEST)
            std::snprintf(g_name, sizeof g_name, "Time Request to [Producer: %u]", partner);
        else if (pkt->msg_id == OPENSAFETY_MSG_SPDO_DATA_WITH_TIME_RESPONSE)
            std::snprintf(g_name, sizeof g_name, "Time Response to [Consumer: %u]", partner);
        else
            std::snprintf(g_name, sizeof g_name, "Data Only");
        tick_stat_node(st, g_name, spdo_node, FALSE);
        break;
    }
    case OPENSAFETY_SNMT_MESSAGE_TYPE: tick_stat_node(st, "SNMT", sn_node, FALSE); break;
    case OPENSAFETY_SSDO_MESSAGE_TYPE:
    case OPENSAFETY_SLIM_SSDO_MESSAGE_TYPE: tick_stat_node(st, "SSDO", sn_node, FALSE); break;
    default: tick_stat_node(st, "UNKOWN", sn_node, FALSE); break;
    }
    return TAP_PACKET_DONT_REDRAW;
}

}  // namespace

int osa_register_opensafety(void) {
    int rc = 0;
    GString *err =
        register_tap_listener("opensafety", &g_tap_marker, nullptr, 0, tap_reset, tap_packet, tap_draw, nullptr);
    if (err) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "openSAFETY collection not registered: %s", err->str);
        g_string_free(err, TRUE);
        rc = -1;
    }
    stats_tree_register_plugin("opensafety", "openSAFETY", "Zelmar/openSAFETY", TL_REQUIRES_PROTO_TREE,
                               osa_stats_tree_packet, osa_stats_tree_init, nullptr);
    return rc;
}
