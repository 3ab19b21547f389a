// "ta5521raw_analyzer": a Q40TA5521 dump frame (ASnd 163) as it reaches
// Wireshark: the dump header and every packed subframe as raw fields. The
// packed frames' contents are the capture engine's business, not decoded
// here.
#include "analyzer_frames.h"
#include "fields.h"
#include "protocol.h"
#include "ws_compat.h"
#include "zelanalyzer.h"

namespace {

namespace df = dumpframe;

// The buffer starts at the dump header; the format counts from the frame start.
constexpr int in_payload(uint32_t frame_offset) { return static_cast<int>(df::payloadOffset(frame_offset)); }

void add_dump_header(proto_tree *tree, tvbuff_t *tvb) {
    struct Field {
        int *hf;
        int offset;
        int length;
    };
    const Field header[] = {
        {&hf_ta5521_dump_size, in_payload(df::kDumpSizeOffset), 2},
        {&hf_ta5521_dump_count, in_payload(df::kDumpCountOffset), 1},
        {&hf_ta5521_capture_id, in_payload(df::kCaptureIdOffset), 1},
        {&hf_ta5521_dump_total, in_payload(df::kDumpTotalOffset), 2},
        {&hf_ta5521_dump_lost, in_payload(df::kDumpLostOffset), 2},
        {&hf_ta5521_unique_id, in_payload(df::kUniqueIdOffset), 2},
        {&hf_ta5521_ts_high, in_payload(df::kTsHighOffset), 4},
        {&hf_ta5521_phy_info, in_payload(df::kPhyInfoOffset), 1},
        {&hf_ta5521_protocol_version, in_payload(df::kProtocolVersionOffset), 1},
        {&hf_ta5521_reserved, in_payload(df::kReservedOffset), 2},
    };
    for (const Field &field : header)
        proto_tree_add_item(tree, *field.hf, tvb, field.offset, field.length, ENC_LITTLE_ENDIAN);
}

void add_subframe(proto_tree *tree, tvbuff_t *tvb, int offset, int data_length, unsigned number) {
    proto_tree *subframe = proto_tree_add_subtree_format(tree, tvb, offset, df::kRecordHeadLength + data_length,
                                                         ett_ta5521_frame, NULL, "%s %d", "Packed frame", number);
    proto_tree_add_item(subframe, hf_ta5521_frm_timestamp, tvb, offset + df::kRecordTimestampOffset, 4,
                        ENC_LITTLE_ENDIAN);
    proto_tree_add_item(subframe, hf_ta5521_frm_size, tvb, offset + df::kRecordSizeOffset, 2, ENC_LITTLE_ENDIAN);
    proto_tree_add_item(subframe, hf_ta5521_frm_flags, tvb, offset + df::kRecordFlagsOffset, 2, ENC_LITTLE_ENDIAN);
    proto_tree_add_item(subframe, hf_ta5521_frm_data, tvb, offset + df::kRecordHeadLength, data_length, ENC_NA);
}

}  // namespace

int dissect_ta5521raw_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *) {
    col_set_str(pinfo->cinfo, COL_PROTOCOL, "Zelmar Q40TA5521");
    col_clear(pinfo->cinfo, COL_INFO);

    const guint captured = tvb_captured_length(tvb);
    if (proto_zelanalyzer == -1) return captured;
    if (captured < static_cast<guint>(df::kHeaderLength)) return captured;

    proto_item *frame_item = proto_tree_add_item(tree, proto_zelanalyzer, tvb, 0, -1, ENC_NA);
    proto_item_append_text(frame_item, ": %s", "Q40TA5521");
    proto_tree *frame_tree = proto_item_add_subtree(frame_item, ett_ta5521_frame);

    const uint16_t dump_size = tvb_get_letohs(tvb, in_payload(df::kDumpSizeOffset));
    const uint8_t dump_count = zel_tvb_get_uint8(tvb, in_payload(df::kDumpCountOffset));
    add_dump_header(frame_tree, tvb);
    col_append_fstr(pinfo->cinfo, COL_INFO, "EPL ASnd(Q40TA5521) - %2d Subframes", dump_count);

    // Subframes that do not fit in the captured bytes end the list quietly;
    // the info column keeps the count the header announced. The subframe
    // header is checked before its size field is read.
    uint32_t offset = df::payloadOffset(df::kFirstRecordOffset);
    for (unsigned number = 1; number <= dump_count; ++number) {
        if (offset + df::kRecordHeadLength > captured) break;
        const uint16_t size_field = tvb_get_letohs(tvb, offset + df::kRecordSizeOffset);
        const uint32_t data_length = df::recordCapacity(dump_size, size_field, df::DumpSizeReading::kDissector);
        if (offset + data_length + df::kRecordHeadLength > captured) break;
        add_subframe(frame_tree, tvb, static_cast<int>(offset), static_cast<int>(data_length), number);
        offset += df::recordSpan(dump_size, size_field, df::DumpSizeReading::kDissector);
    }
    return captured;
}
