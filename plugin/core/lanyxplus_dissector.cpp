// "lanyxplus_analyzer": Lanyx+ analyzer reports (ASnd 165): the analyzer's
// flags and transfer time, the Lanyx+ header, and the payload by frame type
// (data frames on ports 0, 4, 8 and 12 carry a command interface).
//
// As with the other analyzer frames, columns do not depend on whether a tree
// is built, and a payload shorter than a field it must hold (management data
// word, command interface) ends in Wireshark's bounds exception.
#include "analyzer_frames.h"
#include "fields.h"
#include "protocol.h"
#include "ws_compat.h"
#include "zelanalyzer.h"

namespace {

void add_flags_word(proto_tree *tree, tvbuff_t *tvb, uint32_t flags) {
    proto_item *item = proto_tree_add_item(tree, hf_lanyxplus_flags, tvb, lanyxplus::kFlagsOffset, 4, ENC_BIG_ENDIAN);
    proto_tree *flags_tree = proto_item_add_subtree(item, ett_lanyxplus_flags);
    const int bits[] = {hf_lanyxplus_flags_post_trigger, hf_lanyxplus_flags_trigger, hf_lanyxplus_flags_filter,
                        hf_lanyxplus_flags_drop,         hf_lanyxplus_flags_lineidx, hf_lanyxplus_flags_frametype};
    for (int hf : bits) proto_tree_add_item(flags_tree, hf, tvb, lanyxplus::kFlagsOffset, 4, ENC_BIG_ENDIAN);
    proto_item *length_item =
        proto_tree_add_item(flags_tree, hf_lanyxplus_flags_pkglen, tvb, lanyxplus::kFlagsOffset, 4, ENC_BIG_ENDIAN);
    proto_item_append_text(length_item, " (Resulting Lanyx+ frame size: %d)", lanyxplus::resulting_frame_size(flags));
}

void add_header_word(proto_tree *tree, tvbuff_t *tvb) {
    proto_item *item = proto_tree_add_item(tree, hf_lanyxplus_hdr, tvb, lanyxplus::kHeaderOffset, 4, ENC_BIG_ENDIAN);
    proto_tree *header_tree = proto_item_add_subtree(item, ett_lanyxplus_hdr);
    proto_tree_add_item(header_tree, hf_lanyxplus_dst, tvb, lanyxplus::kHeaderOffset, 4, ENC_BIG_ENDIAN);
    proto_tree_add_item(header_tree, hf_lanyxplus_src, tvb, lanyxplus::kHeaderOffset, 4, ENC_BIG_ENDIAN);
    proto_tree_add_item(header_tree, hf_lanyxplus_port, tvb, lanyxplus::kHeaderOffset, 4, ENC_BIG_ENDIAN);
}

void add_sized_payload(proto_tree *tree, int hf, tvbuff_t *tvb, int offset, int length) {
    proto_item *item = proto_tree_add_item(tree, hf, tvb, offset, length, ENC_NA);
    proto_item_append_text(item, " (Size: %d)", length);
}

void dissect_management(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, int payload_length) {
    proto_item *item = proto_tree_add_item(tree, hf_lanyxplus_mgmt_info, tvb, lanyxplus::kMgmtInfoOffset, 1, ENC_NA);
    proto_tree *info_tree = proto_item_add_subtree(item, ett_lanyxplus_mgmt_info);
    proto_tree_add_item(info_tree, hf_lanyxplus_mgmt_info_link, tvb, lanyxplus::kMgmtInfoOffset, 1, ENC_NA);
    proto_tree_add_item(info_tree, hf_lanyxplus_mgmt_info_pause, tvb, lanyxplus::kMgmtInfoOffset, 1, ENC_NA);
    proto_tree_add_item(info_tree, hf_lanyxplus_mgmt_info_service, tvb, lanyxplus::kMgmtInfoOffset, 1, ENC_NA);

    const uint8_t info = zel_tvb_get_uint8(tvb, lanyxplus::kMgmtInfoOffset);
    const uint32_t data_word = tvb_get_ntohl(tvb, lanyxplus::kPayloadOffset);
    col_append_fstr(pinfo->cinfo, COL_INFO, " Cycle: 0x%02X; Link: %d; Pause: %d; Data: 0x%08X",
                    info & lanyxplus::kMgmtCycle, (info & lanyxplus::kMgmtLink) ? 1 : 0,
                    (info & lanyxplus::kMgmtPause) ? 1 : 0, data_word);

    proto_item *payload;
    if (payload_length == 4)
        payload =
            proto_tree_add_item(tree, hf_lanyxplus_mgmt_payload, tvb, lanyxplus::kPayloadOffset, 4, ENC_BIG_ENDIAN);
    else
        payload = proto_tree_add_item(tree, hf_lanyxplus_mgmt_payloadraw, tvb, lanyxplus::kPayloadOffset,
                                      payload_length, ENC_NA);
    proto_item_append_text(payload, " (Size: %d)", payload_length);
}

}  // namespace

proto_tree *dissect_lanyxplus_cmdif(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, int offset, int payload_length,
                                    uint32_t port) {
    if (!lanyxplus::has_command_interface(port)) {
        add_sized_payload(tree, hf_lanyxplus_data_payload, tvb, offset, payload_length);
        return tree;
    }
    proto_tree *cmdif_tree = proto_tree_add_subtree_format(tree, tvb, offset, lanyxplus::kCmdHeaderLength,
                                                           ett_lanyxplus_frame, NULL, "%s", "Command Interface");
    const uint8_t ack_port = zel_tvb_get_uint8(tvb, lanyxplus::kCmdAckPortOffset);
    const uint8_t type = zel_tvb_get_uint8(tvb, lanyxplus::kCmdTypeOffset);
    const uint8_t command = zel_tvb_get_uint8(tvb, lanyxplus::kCmdCommandOffset);
    const uint8_t info = zel_tvb_get_uint8(tvb, lanyxplus::kCmdInfoOffset);

    proto_tree_add_item(cmdif_tree, hf_lanyxplus_cmdif_ackport, tvb, lanyxplus::kCmdAckPortOffset, 1, ENC_NA);
    proto_tree_add_item(cmdif_tree, hf_lanyxplus_cmdif_type, tvb, lanyxplus::kCmdTypeOffset, 1, ENC_NA);
    proto_tree_add_item(cmdif_tree, hf_lanyxplus_cmdif_cmd, tvb, lanyxplus::kCmdCommandOffset, 1, ENC_NA);
    proto_tree_add_item(cmdif_tree, hf_lanyxplus_cmdif_info, tvb, lanyxplus::kCmdInfoOffset, 1, ENC_NA);

    col_append_fstr(pinfo->cinfo, COL_INFO, " AckPort: %3d, Type: %6s, Command: %10s, Info: %3d", ack_port,
                    lanyxplus::command_type_text(type), lanyxplus::command_text(type, command), info);

    add_sized_payload(cmdif_tree, hf_lanyxplus_data_payload, tvb, lanyxplus::kCmdPayloadOffset,
                      payload_length - lanyxplus::kCmdHeaderLength);
    return cmdif_tree;
}

int dissect_lanyxplus_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *) {
    const guint captured = tvb_captured_length(tvb);
    if (proto_zelanalyzer == -1) return captured;
    if (captured < static_cast<guint>(lanyxplus::kMinimumLength)) return captured;

    proto_item *frame_item = proto_tree_add_item(tree, proto_zelanalyzer, tvb, 0, -1, ENC_NA);
    proto_item_append_text(frame_item, ": %s", "Lanyx+ Analyzer");
    proto_tree *frame_tree = proto_item_add_subtree(frame_item, ett_lanyxplus_frame);

    const uint32_t flags = tvb_get_ntohl(tvb, lanyxplus::kFlagsOffset);
    const uint32_t transfer_time = tvb_get_ntohl(tvb, lanyxplus::kTransferTimeOffset);
    const uint32_t header = tvb_get_ntohl(tvb, lanyxplus::kHeaderOffset);
    const lanyxplus::FrameType type = lanyxplus::frame_type(flags);
    const int payload_length = static_cast<int>(captured) - lanyxplus::kPayloadOffset;

    col_set_str(pinfo->cinfo, COL_PROTOCOL, lanyxplus::protocol_column(type));
    col_clear(pinfo->cinfo, COL_INFO);

    proto_tree *type_tree = proto_tree_add_subtree_format(frame_tree, tvb, 0, -1, ett_lanyxplus_frame, NULL, "%s",
                                                          lanyxplus::subtree_label(type));

    // Hidden marker of the frame type, for display filters only.
    int marker = -1;
    if (type == lanyxplus::Data) marker = hf_lanyxplus_data;
    if (type == lanyxplus::Pause) marker = hf_lanyxplus_pause;
    if (type == lanyxplus::Management) marker = hf_lanyxplus_mgmt;
    if (marker != -1) {
        proto_item *item = proto_tree_add_boolean(type_tree, marker, tvb, captured - 1, 1, FALSE);
        proto_item_set_hidden(item);
    }

    add_flags_word(type_tree, tvb, flags);
    proto_item *time_item = proto_tree_add_item(type_tree, hf_lanyxplus_transfertime, tvb,
                                                lanyxplus::kTransferTimeOffset, 4, ENC_BIG_ENDIAN);
    proto_item_append_text(time_item, "%s", "ns");
    add_header_word(type_tree, tvb);

    // The transfer time is unsigned; %u shows it right beyond 2^31 ns.
    col_append_fstr(pinfo->cinfo, COL_INFO, "%4d->%4d:%3d (%3d Byte, %4u ns)", lanyxplus::source(header),
                    lanyxplus::destination(header), lanyxplus::port(header), payload_length, transfer_time);

    switch (type) {
    case lanyxplus::Data:
        dissect_lanyxplus_cmdif(tvb, pinfo, type_tree, lanyxplus::kPayloadOffset, payload_length,
                                lanyxplus::port(header));
        break;
    case lanyxplus::Pause:
        add_sized_payload(type_tree, hf_lanyxplus_data_payload, tvb, lanyxplus::kPayloadOffset, payload_length);
        break;
    case lanyxplus::Management: dissect_management(tvb, pinfo, type_tree, payload_length); break;
    default: break;
    }
    return captured;
}
