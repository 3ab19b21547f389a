#include "sdo_tracking.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_catalogue.h"

namespace {

// Bounded little-endian reads: every read checks the captured length, a
// value beyond it reads as 0.
struct sdo_bytes {
    const uint8_t *p;
    uint32_t n;

    bool has(uint32_t offset, uint32_t size) const { return offset <= n && size <= n - offset; }
    uint8_t u8(uint32_t offset) const { return has(offset, 1) ? p[offset] : 0; }
    uint16_t u16(uint32_t offset) const { return has(offset, 2) ? uint16_t(p[offset] | (p[offset + 1] << 8)) : 0; }
    uint32_t u32(uint32_t offset) const {
        if (!has(offset, 4)) return 0;
        return uint32_t(p[offset]) | (uint32_t(p[offset + 1]) << 8) | (uint32_t(p[offset + 2]) << 16) |
               (uint32_t(p[offset + 3]) << 24);
    }
};

// Objects whose segmented write is a firmware download.
constexpr uint16_t OBJECT_PROGRAM_DATA = 0x1F50;   // PDL_DownloadProgData_ADOM, sub 1
constexpr uint16_t OBJECT_SLOT_1_CONFIG = 0x20C0;  // IF_SlotConfig_1_IF1_REC
constexpr uint16_t OBJECT_SLOT_2_CONFIG = 0x20C8;  // IF_SlotConfig_2_IF1_REC
constexpr uint8_t SUB_SLOT_FIRMWARE = 35;          // IF_Firmware_DOM
constexpr uint16_t OBJECT_IDENTITY = 0x1018;       // NMT_IdentityObject_REC
constexpr uint8_t SUB_PRODUCT_CODE = 2;
constexpr uint16_t OBJECT_MODULE_CONFIG_ALL = 0x21FF;  // answered only by the maker's bus controllers

// Records of a WriteMultipleParameterByIndex response: index, sub-index, a
// byte with the abort flag (bit 7), 32-bit abort code.
constexpr uint32_t WRITE_RESULT_SIZE = 8;
constexpr uint32_t WRITE_RESULT_FLAGS = 3;
constexpr uint32_t WRITE_RESULT_CODE = 4;

uint16_t bucket_of(uint8_t node_1, uint8_t node_2) {
    return node_1 < node_2 ? uint16_t(node_1 * 256 + node_2) : uint16_t(node_2 * 256 + node_1);
}

void set_message(sdo_track_result *result, const char *format, ...) __attribute__((format(printf, 2, 3)));
void set_message(sdo_track_result *result, const char *format, ...) {
    if (result->message == nullptr || result->message_size == 0) return;
    va_list args;
    va_start(args, format);
    vsnprintf(result->message, result->message_size, format, args);
    va_end(args);
}

void history_add(sdo_tracker *tracker, uint64_t frame_number, uint8_t advance) {
    sdo_history_entry &entry = tracker->history[tracker->history_count % FLOWLENS_SDO_HISTORY_SIZE];
    entry.frame_number = frame_number;
    entry.advance = advance;
    tracker->history_count += 1;
}

// The peer addressing of a frame: IP address and UDP port in UDP mode, node
// id (and address 0) over Ethernet.
struct sdo_peers {
    uint32_t source_address, destination_address;
    uint16_t source_port, destination_port;
};

sdo_peers peers_of(const flowlens_sdo_frame *frame) {
    if (frame->udp_mode)
        return {frame->ip_source, frame->ip_destination, frame->udp_source_port, frame->udp_destination_port};
    return {0, 0, frame->source_node, frame->destination_node};
}

enum class direction { none, a, b };

direction match(const sdo_connection *c, uint32_t src_address, uint16_t src_port, uint32_t dst_address,
                uint16_t dst_port) {
    if (c->address_a == src_address && c->port_a == src_port && c->address_b == dst_address && c->port_b == dst_port)
        return direction::a;
    if (c->address_a == dst_address && c->port_a == dst_port && c->address_b == src_address && c->port_b == src_port)
        return direction::b;
    return direction::none;
}

// Finds the frame's connection and moves it to the front of its bucket, so
// that the tail is always the least recently used one.
sdo_connection *find_connection(sdo_connection **bucket, const sdo_peers &peers, direction *dir) {
    sdo_connection *previous = nullptr;
    for (sdo_connection *c = *bucket; c != nullptr; previous = c, c = c->next) {
        const direction d =
            match(c, peers.source_address, peers.source_port, peers.destination_address, peers.destination_port);
        if (d == direction::none) continue;
        if (previous != nullptr) {
            previous->next = c->next;
            c->next = *bucket;
            *bucket = c;
        }
        *dir = d;
        return c;
    }
    return nullptr;
}

// A new zero-filled entry at the head of the bucket. A bucket full of
// connections (many UDP peers whose addresses end in the same two bytes)
// gives up its least recently used entry instead of growing without bound.
sdo_connection *new_connection(sdo_tracker *tracker, uint16_t bucket_index) {
    sdo_connection **bucket = &tracker->connections[bucket_index];
    size_t length = 0;
    sdo_connection *before_tail = nullptr;
    for (sdo_connection *c = *bucket; c != nullptr && c->next != nullptr; c = c->next) {
        before_tail = c;
        ++length;
    }
    sdo_connection *entry;
    if (*bucket != nullptr && length + 1 >= SDO_BUCKET_CHAIN_LIMIT) {
        if (before_tail == nullptr) {  // cannot happen with a limit above 1
            entry = *bucket;
            *bucket = nullptr;
        } else {
            entry = before_tail->next;
            before_tail->next = nullptr;
        }
        memset(entry, 0, sizeof *entry);
    } else {
        entry = static_cast<sdo_connection *>(calloc(1, sizeof(sdo_connection)));
        if (entry == nullptr) return nullptr;
        // Buckets only empty again at a clear, so each is listed once.
        if (*bucket == nullptr) tracker->used_buckets[tracker->used_count++] = bucket_index;
    }
    entry->next = *bucket;
    *bucket = entry;
    return entry;
}

bool is_firmware_object(const sdo_connection *c, uint16_t index, uint8_t sub, int *slot) {
    *slot = 0;
    if (index == OBJECT_PROGRAM_DATA && sub == 1) return true;
    if (!c->maker_device || sub != SUB_SLOT_FIRMWARE) return false;
    if (index == OBJECT_SLOT_1_CONFIG) *slot = 1;
    if (index == OBJECT_SLOT_2_CONFIG) *slot = 2;
    return *slot != 0;
}

// "<text><peer>[.SS<slot>]": the node id over Ethernet, the IP address in
// UDP mode, " ??" when the peer is not known.
void firmware_message(sdo_track_result *result, const char *text, bool udp_mode, uint8_t node, uint32_t address,
                      int slot) {
    char peer[160];
    if (udp_mode && address != 0)
        snprintf(peer, sizeof peer, " %s%u.%u.%u.%u", text, (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                 (address >> 8) & 0xFF, address & 0xFF);
    else if (!udp_mode && node != 0)
        snprintf(peer, sizeof peer, "%s%d", text, node);
    else
        snprintf(peer, sizeof peer, "%s ??", text);
    if (slot != 0)
        set_message(result, "%s.SS%d", peer, slot);
    else
        set_message(result, "%s", peer);
}

void note_abort(sdo_track_result *result, uint32_t code) {
    result->cls |= FLOWLENS_CLASS_SDO_ABORT;
    result->abort_code = code;
}

// Aborted sub-records of a ReadMultipleParameterByIndex response; the abort
// code is the sub-record's data. A list whose offsets do not add up is
// ignored as a whole.
void read_multiple_aborts(sdo_track_result *result, const sdo_bytes &b) {
    sdo_subrecord_iterator it;
    sdo_subrecords_begin(&it, b.p, b.n);
    sdo_subrecord record;
    bool aborted = false;
    uint32_t code = 0;
    while (sdo_subrecords_next(&it, &record)) {
        if ((record.flags & SDO_SUBRECORD_ABORT) && record.data_length >= 4 && b.has(record.data_offset, 4)) {
            aborted = true;
            code = b.u32(record.data_offset);
        }
    }
    if (it.valid && aborted) note_abort(result, code);
}

// Aborted objects of a WriteMultipleParameterByIndex response: 8-byte
// records within the segment and the frame.
void write_multiple_aborts(sdo_track_result *result, const sdo_bytes &b) {
    const uint32_t segment_end = SDO_OFFSET_DATA + b.u16(SDO_OFFSET_SEGMENT_SIZE);
    for (uint32_t record = SDO_OFFSET_DATA;
         record + WRITE_RESULT_SIZE <= segment_end && b.has(record, WRITE_RESULT_SIZE); record += WRITE_RESULT_SIZE) {
        const uint32_t code = b.u32(record + WRITE_RESULT_CODE);
        if ((b.u8(record + WRITE_RESULT_FLAGS) & 0x80) && code != 0) note_abort(result, code);
    }
}

void track_request(sdo_connection *c, sdo_track_result *result, const flowlens_sdo_frame *frame, const sdo_bytes &b) {
    const uint8_t command = b.u8(SDO_OFFSET_COMMAND_ID);
    const uint8_t segmentation = b.u8(SDO_OFFSET_FLAGS) & SDO_SEGMENTATION_MASK;
    c->command_id = command;
    switch (command) {
    case SDO_COMMAND_READ_BY_INDEX:
        c->object_index = b.u16(SDO_OFFSET_EXPEDITED_INDEX);
        c->object_sub_index = b.u8(SDO_OFFSET_EXPEDITED_SUB);
        c->firmware_download = 0;
        break;
    case SDO_COMMAND_WRITE_BY_INDEX:
        if (segmentation == SDO_SEGMENTATION_EXPEDITED) {
            c->object_index = b.u16(SDO_OFFSET_EXPEDITED_INDEX);
            c->object_sub_index = b.u8(SDO_OFFSET_EXPEDITED_SUB);
        } else if (segmentation == SDO_SEGMENTATION_INITIATE) {
            c->object_index = b.u16(SDO_OFFSET_INITIATE_INDEX);
            c->object_sub_index = b.u8(SDO_OFFSET_INITIATE_SUB);
            int slot;
            if (is_firmware_object(c, c->object_index, c->object_sub_index, &slot)) {
                c->firmware_download = 1;
                firmware_message(result, "Firmware Download Start CN", frame->udp_mode, frame->destination_node,
                                 frame->ip_destination, slot);
            }
        }
        // Segments carry no object: they continue the transfer the initiate
        // frame opened, so its object stays the connection's.
        break;
    default:
        c->object_index = 0;
        c->object_sub_index = 0;
        break;
    }
}

void track_response(sdo_connection *c, const sdo_tracker *tracker, sdo_track_result *result,
                    const flowlens_sdo_frame *frame, const sdo_bytes &b) {
    const uint8_t command = b.u8(SDO_OFFSET_COMMAND_ID);
    const bool expedited = (b.u8(SDO_OFFSET_FLAGS) & SDO_SEGMENTATION_MASK) == SDO_SEGMENTATION_EXPEDITED;
    if (mac_is_maker(frame->source_mac)) c->maker_device = 1;

    // What the sender tells about itself goes back to the caller, which owns
    // the node records.
    if (command == SDO_COMMAND_READ_BY_INDEX && c->command_id == SDO_COMMAND_READ_BY_INDEX && c->maker_device) {
        if (c->object_index == OBJECT_MODULE_CONFIG_ALL && c->object_sub_index > 0) result->maker_objects = 1;
        // The product code is the expedited response's data.
        if (c->object_index == OBJECT_IDENTITY && c->object_sub_index == SUB_PRODUCT_CODE && expedited &&
            b.has(SDO_OFFSET_DATA, 4)) {
            result->identity_read = 1;
            result->product_code = b.u32(SDO_OFFSET_DATA);
        }
    }
    // Aborted objects matter for every device, not only the maker's. Only an
    // expedited response holds the whole sub-record list from its first data
    // byte; segmented ones are left alone.
    if (command == SDO_COMMAND_READ_MULTIPLE && c->command_id == SDO_COMMAND_READ_MULTIPLE && expedited)
        read_multiple_aborts(result, b);
    if (command == SDO_COMMAND_WRITE_MULTIPLE && c->command_id == SDO_COMMAND_WRITE_MULTIPLE)
        write_multiple_aborts(result, b);

    int slot;
    const uint8_t segmentation = tracker->current.segmentation;
    if (c->command_id == SDO_COMMAND_WRITE_BY_INDEX && c->firmware_download &&
        is_firmware_object(c, c->object_index, c->object_sub_index, &slot) &&
        (segmentation == SDO_SEGMENTATION_EXPEDITED || segmentation == SDO_SEGMENTATION_COMPLETE)) {
        c->firmware_download = 0;
        firmware_message(result, "Firmware Download Completed CN", frame->udp_mode, frame->source_node,
                         frame->ip_source, slot);
    }
}

}  // namespace

int flowlens_sdo_alloc(sdo_tracker *tracker) {
    if (tracker == nullptr) return -1;
    tracker->history = static_cast<sdo_history_entry *>(calloc(FLOWLENS_SDO_HISTORY_SIZE, sizeof(sdo_history_entry)));
    tracker->connections = static_cast<sdo_connection **>(calloc(FLOWLENS_SDO_BUCKETS, sizeof(sdo_connection *)));
    tracker->used_buckets = static_cast<uint16_t *>(calloc(FLOWLENS_SDO_BUCKETS, sizeof(uint16_t)));
    tracker->history_count = 0;
    tracker->used_count = 0;
    if (tracker->history == nullptr || tracker->connections == nullptr || tracker->used_buckets == nullptr) {
        free(tracker->history);
        free(tracker->connections);
        free(tracker->used_buckets);
        tracker->history = nullptr;
        tracker->connections = nullptr;
        tracker->used_buckets = nullptr;
        return -1;
    }
    return 0;
}

void flowlens_sdo_clear(sdo_tracker *tracker) {
    if (tracker == nullptr) return;
    // Only the buckets that received a connection since the last clear: a
    // reset (every start, every network-mode change) stays cheap.
    if (tracker->connections != nullptr) {
        for (uint32_t k = 0; k < tracker->used_count; ++k) {
            sdo_connection **bucket = &tracker->connections[tracker->used_buckets[k]];
            sdo_connection *c = *bucket;
            while (c != nullptr) {
                sdo_connection *next = c->next;
                free(c);
                c = next;
            }
            *bucket = nullptr;
        }
    }
    tracker->used_count = 0;
    tracker->history_count = 0;
}

void flowlens_sdo_release(sdo_tracker *tracker) {
    if (tracker == nullptr) return;
    flowlens_sdo_clear(tracker);
    free(tracker->history);
    free(tracker->connections);
    free(tracker->used_buckets);
    tracker->history = nullptr;
    tracker->connections = nullptr;
    tracker->used_buckets = nullptr;
}

void sdo_track(sdo_tracker *tracker, const flowlens_sdo_frame *frame, uint64_t frame_number, sdo_track_result *result) {
    if (tracker == nullptr || frame == nullptr || frame->epl == nullptr || result == nullptr) return;
    result->cls |= FLOWLENS_CLASS_SDO;
    const sdo_bytes b{frame->epl, frame->epl_length};
    tracker->current.source_node = frame->source_node;
    tracker->current.destination_node = frame->destination_node;
    tracker->current.command_flags = b.u8(SDO_OFFSET_FLAGS);
    tracker->current.payload_end = frame->epl + frame->epl_length;
    if (b.n < SDO_MIN_TRACKED_LENGTH || tracker->history == nullptr || tracker->connections == nullptr) return;

    const uint8_t receive_state = b.u8(SDO_OFFSET_RECEIVE) & SDO_STATE_MASK;
    const uint8_t send_state = b.u8(SDO_OFFSET_SEND) & SDO_STATE_MASK;
    const uint8_t send_sequence = b.u8(SDO_OFFSET_SEND) & SDO_SEQUENCE_MASK;
    const sdo_peers peers = peers_of(frame);
    const uint16_t bucket_index = bucket_of(frame->source_node, frame->destination_node);
    sdo_connection **bucket = &tracker->connections[bucket_index];

    direction dir = direction::none;
    sdo_connection *c = find_connection(bucket, peers, &dir);
    if (c == nullptr) {
        c = new_connection(tracker, bucket_index);
        if (c == nullptr) return;
        c->address_a = peers.source_address;
        c->port_a = peers.source_port;
        c->address_b = peers.destination_address;
        c->port_b = peers.destination_port;
        c->last_send_sequence_a = send_sequence;
        c->last_send_sequence_b = b.u8(SDO_OFFSET_RECEIVE) & SDO_SEQUENCE_MASK;
        c->state = receive_state != 0 ? SDO_CONNECTION_OPEN
                   : send_state == 1  ? SDO_CONNECTION_INIT_REQUESTED
                                      : SDO_CONNECTION_CLOSED;
        c->frames = 1;  // the creating frame is one of the connection's frames
        return;
    }

    c->frames += 1;
    uint8_t &last_sequence = dir == direction::a ? c->last_send_sequence_a : c->last_send_sequence_b;
    if (receive_state == 1 && send_state == 2) {
        c->state = SDO_CONNECTION_OPEN;
    } else if (send_state < 2) {
        // Sequence-layer frame (initialisation or close): no command layer.
        history_add(tracker, frame_number, 0);
        last_sequence = send_sequence;
        if (receive_state == 0) {
            if (send_state == 1) {
                if (c->state == SDO_CONNECTION_OPEN)
                    set_message(result, "Initialization Request on open connection (%d -> %d)", frame->source_node,
                                frame->destination_node);
                else if (c->state == SDO_CONNECTION_INIT_REQUESTED)
                    set_message(result, "Initialization Request Retry (%d -> %d)", frame->source_node,
                                frame->destination_node);
                c->state = SDO_CONNECTION_INIT_REQUESTED;
            } else {
                if (c->state != SDO_CONNECTION_OPEN)
                    set_message(result, "Close on inactive connection (%d -> %d)", frame->source_node,
                                frame->destination_node);
                c->state = SDO_CONNECTION_CLOSED;
            }
        }
        return;
    }

    if (send_sequence == last_sequence) return;  // no new data: an acknowledge
    tracker->current.segmentation = b.u8(SDO_OFFSET_FLAGS) & SDO_SEGMENTATION_MASK;
    c->data_frames += 1;
    history_add(tracker, frame_number, uint8_t(send_sequence - last_sequence));
    last_sequence = send_sequence;

    const uint8_t flags = b.u8(SDO_OFFSET_FLAGS);
    if (flags & SDO_FLAG_ABORT) {
        // WriteMultipleParameterByIndex carries its abort code behind a 4-byte field.
        const uint32_t offset = b.u8(SDO_OFFSET_COMMAND_ID) == SDO_COMMAND_WRITE_MULTIPLE
                                    ? uint32_t(SDO_OFFSET_WRITE_MULTIPLE_ABORT)
                                    : uint32_t(SDO_OFFSET_DATA);
        note_abort(result, b.u32(offset));
        return;
    }
    if (flags & SDO_FLAG_RESPONSE)
        track_response(c, tracker, result, frame, b);
    else
        track_request(c, result, frame, b);
}

void sdo_subrecords_begin(sdo_subrecord_iterator *it, const uint8_t *epl, uint32_t length) {
    const sdo_bytes b{epl, epl != nullptr ? length : 0};
    it->epl = epl;
    it->length = b.n;
    it->segment_end = SDO_OFFSET_DATA + b.u16(SDO_OFFSET_SEGMENT_SIZE);
    it->position = SDO_OFFSET_DATA;
    it->done = false;
    it->valid = true;
    it->cut = false;
}

bool sdo_subrecords_next(sdo_subrecord_iterator *it, sdo_subrecord *out) {
    if (it->done) return false;
    const sdo_bytes b{it->epl, it->length};
    const uint32_t at = it->position;
    it->done = true;
    if (at + SDO_SUBRECORD_HEADER > it->segment_end) {  // no room for the header
        it->valid = false;
        return false;
    }
    if (!b.has(at, SDO_SUBRECORD_HEADER)) {
        it->cut = true;
        return false;
    }
    const uint32_t next = b.u32(at);
    uint32_t data_end = it->segment_end;
    if (next != 0) {
        const uint32_t next_at = SDO_OFFSET_COMMAND + next;
        if (next > it->segment_end || next_at < at + SDO_SUBRECORD_HEADER ||
            next_at + SDO_SUBRECORD_HEADER > it->segment_end) {
            it->valid = false;
            return false;
        }
        data_end = next_at;
        it->position = next_at;
        it->done = false;
    }
    out->offset = at;
    out->index = b.u16(at + 4);
    out->sub_index = b.u8(at + 6);
    out->flags = b.u8(at + 7);
    out->data_offset = at + SDO_SUBRECORD_HEADER;
    const uint32_t room = data_end - out->data_offset;
    const uint32_t padding = out->flags & SDO_SUBRECORD_PADDING_MASK;
    out->data_length = padding <= room ? room - padding : 0;
    return true;
}

sdo_history_result sdo_history_find(const sdo_tracker *tracker, uint64_t frame_number, uint8_t *advance) {
    if (tracker == nullptr || tracker->history == nullptr) return SDO_HISTORY_OFF;
    const uint64_t count = tracker->history_count;
    if (count == 0) return SDO_HISTORY_TOO_SMALL;
    const uint64_t kept = count < FLOWLENS_SDO_HISTORY_SIZE ? count : FLOWLENS_SDO_HISTORY_SIZE;
    const sdo_history_entry *ring = tracker->history;
    auto at = [ring](uint64_t i) -> const sdo_history_entry & { return ring[i % FLOWLENS_SDO_HISTORY_SIZE]; };
    uint64_t low = count - kept, high = count;
    if (at(low).frame_number > frame_number) return SDO_HISTORY_TOO_SMALL;
    while (low < high) {  // first kept entry with a frame number >= frame_number
        const uint64_t mid = low + (high - low) / 2;
        if (at(mid).frame_number < frame_number)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == count || at(low).frame_number != frame_number) return SDO_HISTORY_NOT_FOUND;
    if (advance != nullptr) *advance = at(low).advance;
    return SDO_HISTORY_FOUND;
}

const sdo_connection *sdo_connection_find(const sdo_tracker *tracker, uint8_t node_1, uint32_t address_1,
                                          uint16_t port_1, uint8_t node_2, uint32_t address_2, uint16_t port_2) {
    if (tracker == nullptr || tracker->connections == nullptr) return nullptr;
    for (const sdo_connection *c = tracker->connections[bucket_of(node_1, node_2)]; c != nullptr; c = c->next) {
        if (match(c, address_1, port_1, address_2, port_2) != direction::none) return c;
    }
    return nullptr;
}

size_t sdo_connection_count(const sdo_tracker *tracker) {
    if (tracker == nullptr || tracker->connections == nullptr) return 0;
    size_t count = 0;
    for (uint32_t i = 0; i < FLOWLENS_SDO_BUCKETS; ++i)
        for (const sdo_connection *c = tracker->connections[i]; c != nullptr; c = c->next) ++count;
    return count;
}
