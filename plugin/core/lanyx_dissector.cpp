// "lyk_analyzer": Lanyx link analyzer reports (ASnd 161 and 164). Shows the
// analyzer's status and timing words and the captured Lanyx frame, hands the
// frame's data area to Wireshark's openSAFETY dissector and queues one
// lyk_tap_info per report for the "Zelmar/Lanyx" statistics.
//
// Columns are written whether or not Wireshark asks for a tree, so the
// packet list reads the same with and without a protocol tree; the tree
// calls are no-ops without one. Every read goes through the tvb accessors:
// a report shorter than its fields ends in Wireshark's bounds exception
// (a malformed packet), never in a read outside the buffer.
#include <epan/tap.h>
#include <epan/wmem_scopes.h>

#include <cstring>

#include "analyzer_frames.h"
#include "fields.h"
#include "lanyx_tap.h"
#include "protocol.h"
#include "zelanalyzer.h"

namespace {

dissector_handle_t payload_dissector = NULL;

uint16_t count_f5_bytes(tvbuff_t *tvb, int offset, int length) {
    // Throws when the bytes are not all there.
    const guint8 *data = tvb_get_ptr(tvb, offset, length);
    uint16_t count = 0;
    for (int i = 0; i < length; ++i)
        if (data[i] == 0xF5) ++count;
    return count;
}

// The openSAFETY dissector claims every data area it is given: without a
// safety frame in it, it takes it for openSAFETY-over-UDP transport and
// resets both columns. The info column is fenced so the report's own text
// stays and the safety frames found follow it, separated by a blank. Only
// when no safety frame was found (nothing follows the fence) does the
// report's protocol name come back; a safety frame names its own protocol.
// Without the info text to compare (columns not built) the protocol column
// stays locked throughout.
void call_payload_dissector(tvbuff_t *data_tvb, packet_info *pinfo, proto_tree *tree) {
    if (pinfo->cinfo == NULL) {
        call_dissector(payload_dissector, data_tvb, pinfo, tree);
        return;
    }
    const gchar *own_info = col_get_text(pinfo->cinfo, COL_INFO);
    const gboolean protocol_writable = col_get_writable(pinfo->cinfo, COL_PROTOCOL);
    if (own_info == NULL) {
        col_set_fence(pinfo->cinfo, COL_INFO);
        col_set_writable(pinfo->cinfo, COL_PROTOCOL, FALSE);
        call_dissector(payload_dissector, data_tvb, pinfo, tree);
        col_set_writable(pinfo->cinfo, COL_PROTOCOL, protocol_writable);
        return;
    }
    const gchar *own_text = wmem_strdup(pinfo->pool, own_info);
    const gchar *own_protocol = wmem_strdup(pinfo->pool, col_get_text(pinfo->cinfo, COL_PROTOCOL));
    col_set_fence(pinfo->cinfo, COL_INFO);
    call_dissector(payload_dissector, data_tvb, pinfo, tree);

    const gchar *info = col_get_text(pinfo->cinfo, COL_INFO);
    const size_t own_length = strlen(own_text);
    const gboolean frame_found = info != NULL && strlen(info) > own_length && strncmp(info, own_text, own_length) == 0;
    if (!frame_found) {
        if (protocol_writable && own_protocol != NULL) col_add_str(pinfo->cinfo, COL_PROTOCOL, own_protocol);
        return;
    }
    if (info[own_length] != ' ') {
        const gchar *safety_text = wmem_strdup(pinfo->pool, info + own_length);
        col_clear_fence(pinfo->cinfo, COL_INFO);
        col_add_fstr(pinfo->cinfo, COL_INFO, "%s %s", own_text, safety_text);
    }
}

proto_tree *add_status_word(proto_tree *tree, tvbuff_t *tvb) {
    proto_item *item = proto_tree_add_item(tree, hf_lyk_status, tvb, lyk::kStatusOffset, 2, ENC_BIG_ENDIAN);
    proto_tree *status_tree = proto_item_add_subtree(item, ett_lyk_status);
    proto_tree_add_item(status_tree, hf_lyk_status_dir, tvb, lyk::kStatusOffset, 2, ENC_BIG_ENDIAN);
    proto_tree_add_item(status_tree, hf_lyk_status_crc_error, tvb, lyk::kStatusOffset, 2, ENC_BIG_ENDIAN);
    proto_tree_add_item(status_tree, hf_lyk_status_sync_error, tvb, lyk::kStatusOffset, 2, ENC_BIG_ENDIAN);
    return status_tree;
}

}  // namespace

void lyk_analyzer_resolve_payload_dissector(void) {
    // Wireshark has registered the openSAFETY dissector for safety frames
    // carried as plain payload under more than one name over its versions.
    payload_dissector = find_dissector("opensafety_udpdata");
    if (payload_dissector == NULL) payload_dissector = find_dissector("opensafety_udp");
    if (payload_dissector == NULL) payload_dissector = find_dissector("data");
}

int dissect_lyk_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *) {
    lyk_tap_info *info = wmem_new0(pinfo->pool, lyk_tap_info);

    col_set_str(pinfo->cinfo, COL_PROTOCOL, "Zelmar Lanyx Analyzer");
    col_clear(pinfo->cinfo, COL_INFO);
    col_append_str(pinfo->cinfo, COL_INFO, "EPL ASnd(Lanyx Analyzer) ");

    const guint captured = tvb_captured_length(tvb);
    if (proto_zelanalyzer == -1) return captured;

    const uint16_t credited = lyk::credited_bytes(captured);
    const int remaining = captured > static_cast<guint>(lyk::kDataOffset) ? captured - lyk::kDataOffset : 0;
    const uint16_t status = tvb_get_ntohs(tvb, lyk::kStatusOffset);
    const uint32_t start = tvb_get_letohl(tvb, lyk::kStartTimeOffset);
    const uint32_t stop = tvb_get_letohl(tvb, lyk::kStopTimeOffset);
    const uint16_t length_word = tvb_get_letohs(tvb, lyk::kLengthWordOffset);
    const uint16_t frame_length = lyk::frame_length(length_word);
    const int32_t duration = lyk::frame_duration_us(start, stop);
    const lyk::FrameKind kind = lyk::frame_kind(status, length_word);

    info->sync_frame = (length_word & lyk::kLengthSyncFrame) ? 1 : 0;
    info->inbound = (status & lyk::kStatusDirectionIn) ? 1 : 0;
    info->crc_error = (status & lyk::kStatusCrcError) ? 1 : 0;
    info->sync_error = (status & lyk::kStatusSyncError) ? 1 : 0;

    proto_item *frame_item = proto_tree_add_item(tree, proto_zelanalyzer, tvb, 0, -1, ENC_NA);
    proto_item_append_text(frame_item, ": %s", "Lanyx");
    proto_tree *frame_tree = proto_item_add_subtree(frame_item, ett_lyk_frame);

    add_status_word(frame_tree, tvb);
    proto_tree_add_item(frame_tree, hf_lyk_framecnt, tvb, lyk::kFrameCntOffset, 1, ENC_NA);
    proto_tree_add_item(frame_tree, hf_lyk_localios, tvb, lyk::kLocalIosOffset, 1, ENC_NA);
    proto_tree_add_item(frame_tree, hf_lyk_starttime, tvb, lyk::kStartTimeOffset, 4, ENC_LITTLE_ENDIAN);
    proto_item *stop_item =
        proto_tree_add_item(frame_tree, hf_lyk_stoptime, tvb, lyk::kStopTimeOffset, 4, ENC_LITTLE_ENDIAN);
    proto_item_append_text(stop_item, " (Frameduration: %d us)", duration);

    col_append_fstr(pinfo->cinfo, COL_INFO, "%s (%4d byte, %4d us)", lyk::kind_abbreviation(kind), frame_length,
                    duration);

    // A report with the CRC32 error bit carries no usable frame: only the
    // analyzer words are shown, and it counts with no bytes.
    if (!info->crc_error) {
        // The "FT" item spans the length word and the frame, as far as captured:
        // a sliced frame has fewer bytes than its length says.
        const int ft_wanted = frame_length + 2;
        const int ft_available = static_cast<int>(captured) - lyk::kLengthWordOffset;
        proto_item *ft_item =
            proto_tree_add_string(frame_tree, hf_lyk_frame_dir_and_type, tvb, lyk::kLengthWordOffset,
                                  ft_wanted < ft_available ? ft_wanted : ft_available, lyk::kind_name(kind));
        proto_tree *payload_tree = proto_item_add_subtree(ft_item, ett_lyk_payload);
        proto_item *length_item =
            proto_tree_add_uint(payload_tree, hf_lyk_payload_framelen, tvb, lyk::kLengthWordOffset, 2, frame_length);
        proto_item_append_text(length_item, " bytes");
        proto_tree_add_item(payload_tree, hf_lyk_payload_cyclecnt, tvb, lyk::kCycleCntOffset, 2, ENC_LITTLE_ENDIAN);
        info->bytes_total = frame_length;
        info->bytes_captured = credited;

        int data_length;
        if (credited < frame_length) {
            // The analyzer cut the frame: no CRC32 at its end.
            proto_item *sliced = proto_tree_add_boolean(payload_tree, hf_lyk_payload_sliced, tvb, 0, 0, TRUE);
            proto_item_append_text(sliced, " (Sliced at byte %d)", credited);
            data_length = remaining;
        } else {
            // The data area ends in the frame's CRC32 (shown, not verified). A data
            // area too short for it is a malformed report.
            data_length = static_cast<uint16_t>(remaining - lyk::kCrc32Length);
            tvb_ensure_bytes_exist(tvb, lyk::kDataOffset, data_length + lyk::kCrc32Length);
            proto_tree_add_item(payload_tree, hf_lyk_payload_dataarea, tvb, lyk::kDataOffset, data_length, ENC_NA);
            proto_tree_add_item(payload_tree, hf_lyk_payload_crc32, tvb, lyk::kDataOffset + data_length,
                                lyk::kCrc32Length, ENC_LITTLE_ENDIAN);
        }

        if (kind == lyk::FrameKind::SyncIn) {
            const uint16_t f5 = count_f5_bytes(tvb, lyk::kDataOffset, data_length);
            proto_tree_add_uint(payload_tree, hf_lyk_payload_f5, tvb, 0, 0, f5);
            col_append_fstr(pinfo->cinfo, COL_INFO, " (F5 x %d)", f5);
        }

        // openSAFETY frames ride in the data area; show them beside ours, at the
        // level of the POWERLINK frame.
        tvbuff_t *data_tvb = tvb_new_subset_remaining(tvb, lyk::kDataOffset);
        proto_tree *parent = (tree != NULL && tree->parent != NULL) ? tree->parent : tree;
        if (payload_dissector != NULL) call_payload_dissector(data_tvb, pinfo, parent);
    }

    tap_queue_packet(zelanalyzer_lyk_tap, pinfo, info);
    return captured;
}
