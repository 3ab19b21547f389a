#include "sdo_text.h"

#include "abort_codes.h"
#include "nmt_names.h"
#include "od_names.h"
#include "sdo_tracking.h"
#include "text_writer.h"

namespace {

// Sub-records and entries listed in one text; the rest is shown as "...".
constexpr unsigned LISTED_ENTRIES = 5;
constexpr uint32_t READ_MULTIPLE_ENTRY = 4;  // index, sub-index, padding
constexpr uint32_t WRITE_RESULT_SIZE = 8;    // per object of a WriteMultiple response
constexpr uint32_t WRITE_RESULT_FLAGS = 3;
constexpr uint32_t MAPPING_INDEX = 20;  // PDO mapping entry written expedited
constexpr uint32_t MAPPING_SUB = 22;
constexpr uint32_t MAPPING_OFFSET = 24;
constexpr uint32_t MAPPING_LENGTH = 26;
constexpr uint16_t OBJECT_NMT_RESET_COMMAND = 0x1F9E;
constexpr uint32_t ABORT_CODE_SIZE = 4;
// An advance of this many sequence steps (4 per step in the send byte) is
// more than a sender may have outstanding.
constexpr int8_t INVALID_ADVANCE = 5;

void append(flowlens_instance *in, const char *text) { flowlens_text_append(&in->text.writer, "%s", text); }

char receive_letter(uint8_t state) { return "nicr"[state & SDO_STATE_MASK]; }
char send_letter(uint8_t state) { return "nica"[state & SDO_STATE_MASK]; }

// Sequence-layer frames with a fixed meaning end the text.
const char *connection_text(char receive, char send) {
    if (receive == 'n' && send == 'i') return "  Initialization Request";
    if (receive == 'n' && send == 'n') return "  Close Connection";
    if (receive == 'r' && send == 'c') return "  Retransmission Request";
    if (receive == 'i' && send == 'i') return "  Initialization Response";
    if (receive == 'i' && send == 'c') return "  Initialization Complete";
    return nullptr;
}

bool is_mapping_object(uint16_t index) { return (index & 0xFF00) == 0x1600 || (index & 0xFF00) == 0x1A00; }

// Value of a sub-record inside a list: like the value text, without brackets.
void list_value(flowlens_instance *in, const flowlens_bytes &p, uint32_t offset, uint32_t length) {
    switch (length) {
    case 1: return flowlens_text_append(&in->text.writer, "0x%02X", p.u8(offset));
    case 2: return flowlens_text_append(&in->text.writer, "0x%04X", p.le16(offset));
    case 4: return flowlens_text_append(&in->text.writer, "0x%08X", p.le32(offset));
    default: return flowlens_text_append(&in->text.writer, "0x%02X,0x%02X,...", p.u8(offset), p.u8(offset + 1));
    }
}

// Counts the sub-records of a list; false (with "Protocol Error)") when the
// offsets do not add up.
bool count_subrecords(flowlens_instance *in, const flowlens_bytes &p, unsigned *count, bool *cut) {
    sdo_subrecord_iterator it;
    sdo_subrecord record;
    sdo_subrecords_begin(&it, p.data, p.size);
    *count = 0;
    while (sdo_subrecords_next(&it, &record)) *count += 1;
    if (!it.valid) {
        append(in, "Protocol Error)");
        flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_IRREGULAR);
        return false;
    }
    *cut = it.cut;
    return true;
}

// "%d Objects:" and up to five sub-records; aborted ones (ReadMultiple
// responses) as "=Abort".
void subrecord_list(flowlens_instance *in, const flowlens_bytes &p, bool show_aborts) {
    unsigned count = 0;
    bool cut = false;
    if (!count_subrecords(in, p, &count, &cut)) return;
    flowlens_text_append(&in->text.writer, "%s%u Objects:", cut ? ">" : "", count);
    sdo_subrecord_iterator it;
    sdo_subrecord record;
    sdo_subrecords_begin(&it, p.data, p.size);
    for (unsigned listed = 0; listed < LISTED_ENTRIES && sdo_subrecords_next(&it, &record); ++listed) {
        if (show_aborts && (record.flags & SDO_SUBRECORD_ABORT)) {
            flowlens_text_append(&in->text.writer, "[0x%04X/%d=Abort]", record.index, record.sub_index);
            flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_ERROR);
            continue;
        }
        flowlens_text_append(&in->text.writer, "[0x%04X/%d/%u=", record.index, record.sub_index, record.data_length);
        list_value(in, p, record.data_offset, record.data_length);
        append(in, "] ");
    }
    if (count > LISTED_ENTRIES) append(in, "...");
    append(in, ")");
}

void write_by_index_text(flowlens_instance *in, const flowlens_bytes &p, const flowlens_node *server, uint8_t flags,
                         uint32_t z) {
    if (flags & SDO_FLAG_RESPONSE) return append(in, "  <- WriteByIndex()");
    if (flags & SDO_FLAG_ABORT) return;
    const uint8_t segmentation = flags & SDO_SEGMENTATION_MASK;
    if (segmentation == SDO_SEGMENTATION_INITIATE) {
        if (p.size < 23) return append(in, flowlens_text_sliced);
        const uint16_t index = p.le16(SDO_OFFSET_INITIATE_INDEX);
        const uint8_t sub = p.u8(SDO_OFFSET_INITIATE_SUB);
        flowlens_text_append(&in->text.writer, "  -> WriteByIndex(0x%04x/%d, SS:%u, DS=%u)%s", index, sub, z,
                             p.le32(SDO_OFFSET_INITIATE_SIZE), od_object_name(server, index, sub));
        return;
    }
    if (segmentation != SDO_SEGMENTATION_EXPEDITED)
        return flowlens_text_append(&in->text.writer, "  -> WriteByIndex(SS:%u)", z);
    if (p.size < 19) return append(in, flowlens_text_sliced);
    const uint16_t index = p.le16(SDO_OFFSET_EXPEDITED_INDEX);
    const uint8_t sub = p.u8(SDO_OFFSET_EXPEDITED_SUB);
    flowlens_text_append(&in->text.writer, "  -> WriteByIndex(0x%04x/%d, SS:%u)%s", index, sub, z,
                         od_object_name(server, index, sub));
    if (is_mapping_object(index) && sub > 0) {
        if (p.size < 22) return;
        flowlens_text_append(&in->text.writer, " [0x%04X/%d/%d/%d]", p.le16(MAPPING_INDEX), p.u8(MAPPING_SUB),
                             p.le16(MAPPING_OFFSET), p.le16(MAPPING_LENGTH));
    } else if (index == OBJECT_NMT_RESET_COMMAND) {
        if (p.size < 21) return;
        const uint8_t command = p.u8(SDO_OFFSET_EXPEDITED_DATA);
        if (const char *name = nmt_command_name(command))
            flowlens_text_append(&in->text.writer, " [%s]", name);
        else
            flowlens_sdo_value_text(in, p, SDO_OFFSET_EXPEDITED_DATA, 1);
    } else {
        flowlens_sdo_value_text(in, p, SDO_OFFSET_EXPEDITED_DATA, z >= 4 ? z - 4 : 0);
    }
}

void read_by_index_text(flowlens_instance *in, const flowlens_bytes &p, const flowlens_node *server, uint8_t flags,
                        uint32_t z) {
    const bool abort = flags & SDO_FLAG_ABORT;
    if (flags & SDO_FLAG_RESPONSE) {
        if (abort) return append(in, "  <- ReadByIndex()");
        flowlens_text_append(&in->text.writer, "  <- ReadByIndex(SS:%u)", z);
        return flowlens_sdo_value_text(in, p, SDO_OFFSET_DATA, z);
    }
    if (abort) return append(in, "  -> ReadByIndex()");
    const uint16_t index = p.le16(SDO_OFFSET_EXPEDITED_INDEX);
    const uint8_t sub = p.u8(SDO_OFFSET_EXPEDITED_SUB);
    flowlens_text_append(&in->text.writer, "  -> ReadByIndex(0x%04x/%d)%s", index, sub,
                         od_object_name(server, index, sub));
}

void write_multiple_text(flowlens_instance *in, const flowlens_bytes &p, uint8_t flags, uint32_t z) {
    if (flags & SDO_FLAG_RESPONSE) {
        if (flags & SDO_FLAG_ABORT) return append(in, "  <- WriteMultipleParameter()");
        append(in, "  <- WriteMultipleParameter(");
        const uint32_t records = z == 0 ? 0 : (z - 1) / WRITE_RESULT_SIZE + 1;
        unsigned aborts = 0;
        for (uint32_t i = 0; i < records; ++i) {
            const uint32_t at = SDO_OFFSET_DATA + i * WRITE_RESULT_SIZE;
            if (!p.has(at + WRITE_RESULT_FLAGS, 1)) break;
            if (p.u8(at + WRITE_RESULT_FLAGS) & 0x80) ++aborts;
        }
        if (aborts == 0) return append(in, "No Abort Codes)");
        flowlens_text_append(&in->text.writer, "%u abort codes, see Decode View)", aborts);
        return flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_ERROR);
    }
    if (flags & SDO_FLAG_ABORT) return;
    // Only an unsegmented request holds the whole list; later segments of a
    // segmented one are shown by their size.
    if ((flags & SDO_SEGMENTATION_MASK) != SDO_SEGMENTATION_EXPEDITED)
        return flowlens_text_append(&in->text.writer, "  -> WriteMultipleParameter(SS:%u)", z);
    append(in, "  -> WriteMultipleParameter(");
    if (p.size < SDO_OFFSET_DATA) return append(in, flowlens_text_sliced);
    subrecord_list(in, p, false);
}

void read_multiple_text(flowlens_instance *in, const flowlens_bytes &p, uint8_t flags, uint32_t z) {
    if (flags & SDO_FLAG_RESPONSE) {
        if (flags & SDO_FLAG_ABORT) return append(in, "  <- ReadMultipleParameter()");
        append(in, "  <- ReadMultipleParameter(");
        return subrecord_list(in, p, true);
    }
    if (flags & SDO_FLAG_ABORT) return;
    if ((flags & SDO_SEGMENTATION_MASK) != SDO_SEGMENTATION_EXPEDITED)
        return flowlens_text_append(&in->text.writer, "  -> ReadMultipleParameter(SS:%u)", z);
    const uint32_t entries = z / READ_MULTIPLE_ENTRY;
    flowlens_text_append(&in->text.writer, "  -> ReadMultipleParameter(%u Objects:", entries);
    for (uint32_t i = 0; i < entries && i < LISTED_ENTRIES; ++i) {
        const uint32_t at = SDO_OFFSET_DATA + i * READ_MULTIPLE_ENTRY;
        flowlens_text_append(&in->text.writer, "[0x%04X/%d]", p.le16(at), p.u8(at + 2));
    }
    if (entries > LISTED_ENTRIES) append(in, "...");
    append(in, ")");
}

}  // namespace

void flowlens_sdo_value_text(flowlens_instance *in, flowlens_bytes p, uint32_t offset, uint32_t z) {
    switch (z) {
    case 0: return append(in, " []");
    case 1: return flowlens_text_append(&in->text.writer, " [0x%02X]", p.u8(offset));
    case 2: return flowlens_text_append(&in->text.writer, " [0x%04X]", p.le16(offset));
    case 4: return flowlens_text_append(&in->text.writer, " [0x%08X]", p.le32(offset));
    default: return flowlens_text_append(&in->text.writer, " [0x%02X,0x%02X,...]", p.u8(offset), p.u8(offset + 1));
    }
}

void flowlens_sdo_text(flowlens_instance *in, flowlens_bytes p, const flowlens_node *server) {
    if (p.size < SDO_MIN_TRACKED_LENGTH) return append(in, flowlens_text_sliced);
    const uint8_t receive = p.u8(SDO_OFFSET_RECEIVE), send = p.u8(SDO_OFFSET_SEND);
    const char r = receive_letter(receive), s = send_letter(send);
    flowlens_text_append(&in->text.writer, "(SDO)  SL:%2d%c %2d%c", receive >> 2, r, send >> 2, s);
    if ((receive & SDO_STATE_MASK) == 3 || (send & SDO_STATE_MASK) == 3)
        flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_SDO_ABORT);
    if (const char *text = connection_text(r, s)) return append(in, text);

    uint8_t advance = 0;
    switch (sdo_history_find(&in->sdo, in->text.frame_number, &advance)) {
    case SDO_HISTORY_OFF: return;
    case SDO_HISTORY_TOO_SMALL:
        return append(in, " (The SDO history of Plugin is too small for analysis of this packet)");
    case SDO_HISTORY_NOT_FOUND: return append(in, " (ack)");
    case SDO_HISTORY_FOUND:
        if (advance == 0) return append(in, " (ack)");
        break;
    }

    if (p.size < SDO_OFFSET_SEGMENT_SIZE) return append(in, flowlens_text_sliced);
    const uint8_t command = p.u8(SDO_OFFSET_COMMAND_ID);
    const uint8_t flags = p.u8(SDO_OFFSET_FLAGS);
    const uint32_t z = p.le16(SDO_OFFSET_SEGMENT_SIZE);
    switch (command) {
    case SDO_COMMAND_NIL: append(in, "  -> NIL Command"); break;
    case SDO_COMMAND_WRITE_BY_INDEX: write_by_index_text(in, p, server, flags, z); break;
    case SDO_COMMAND_READ_BY_INDEX: read_by_index_text(in, p, server, flags, z); break;
    case SDO_COMMAND_WRITE_MULTIPLE: write_multiple_text(in, p, flags, z); break;
    case SDO_COMMAND_READ_MULTIPLE: read_multiple_text(in, p, flags, z); break;
    default:
        flowlens_text_append(&in->text.writer, "  -> Unknown command ID (%d) !", command);
        flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_IRREGULAR);
        break;
    }

    if (!(flags & SDO_FLAG_RESPONSE)) {
        if (int8_t(advance) >= INVALID_ADVANCE)
            append(in, " (INVALID SEQUENCE)");
        else if (int8_t(advance) < 0)
            append(in, " (Start of Retransmission)");
    }
    if (!(flags & SDO_FLAG_ABORT)) return;
    flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_ERROR);
    if (z != ABORT_CODE_SIZE) {
        if (command != SDO_COMMAND_WRITE_MULTIPLE)
            append(in, " (Protocol Error, Segment size for AbortCode must be 4 byte)");
        return;
    }
    const uint32_t code =
        p.le32(command == SDO_COMMAND_WRITE_MULTIPLE ? SDO_OFFSET_WRITE_MULTIPLE_ABORT : SDO_OFFSET_DATA);
    flowlens_text_append(&in->text.writer, " / ABORT 0x%08X %s", code, abort_code_text(code));
}
