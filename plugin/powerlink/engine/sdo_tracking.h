// SDO tracking of the flowlens engine: follows the SDO connections (ASnd
// service 5 over Ethernet or UDP port 3819) and their sequence layer, keeps a
// history of sequence advances for the frame texts, recognises connection
// set-up and tear-down, firmware downloads and aborts, and learns device
// identity from SDO reads.
//
// The tracker knows nothing of networks and nodes: what it learns about the
// sender (identity read from 0x1018/2, an answer to the maker's module object)
// is handed back in the result and applied by the caller.
//
// The history and the connection table are allocated once with the tracker;
// the only allocation while frames are analysed is a new connection entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_classes.h"

// Wire layout of an SDO frame, offsets from the start of the POWERLINK header.
enum : uint32_t {
    SDO_OFFSET_SERVICE = 3,
    SDO_OFFSET_RECEIVE = 4,  // receive sequence (bits 2-7) and state (bits 0-1)
    SDO_OFFSET_SEND = 5,     // send sequence (bits 2-7) and state (bits 0-1)
    SDO_OFFSET_COMMAND = 8,  // start of the command layer
    SDO_OFFSET_TRANSACTION = 9,
    SDO_OFFSET_FLAGS = 10,  // bit 7 response, bit 6 abort, bits 4-5 segmentation
    SDO_OFFSET_COMMAND_ID = 11,
    SDO_OFFSET_SEGMENT_SIZE = 12,  // 16-bit
    SDO_OFFSET_DATA = 16,          // expedited index / response data / abort code / sub-records
    SDO_OFFSET_EXPEDITED_INDEX = 16,
    SDO_OFFSET_EXPEDITED_SUB = 18,
    SDO_OFFSET_EXPEDITED_DATA = 20,
    SDO_OFFSET_INITIATE_SIZE = 16,  // 32-bit data size
    SDO_OFFSET_INITIATE_INDEX = 20,
    SDO_OFFSET_INITIATE_SUB = 22,
    SDO_OFFSET_INITIATE_DATA = 24,
    SDO_OFFSET_WRITE_MULTIPLE_ABORT = 20,  // abort code of an aborted WriteMultipleParameterByIndex
    // The sequence layer ends at offset 8. Frames that carry only the
    // sequence layer (initialisation, acknowledge, close) are 8 bytes over UDP,
    // and the connection states depend on them, so the tracking takes every
    // frame that holds both sequence bytes; command-layer reads are bounded.
    SDO_MIN_TRACKED_LENGTH = 6,
};

enum : uint8_t {
    SDO_STATE_MASK = 0x03,
    SDO_SEQUENCE_MASK = 0xFC,
    SDO_FLAG_RESPONSE = 0x80,
    SDO_FLAG_ABORT = 0x40,
    SDO_SEGMENTATION_MASK = 0x30,
    SDO_SEGMENTATION_EXPEDITED = 0x00,
    SDO_SEGMENTATION_INITIATE = 0x10,
    SDO_SEGMENTATION_SEGMENT = 0x20,
    SDO_SEGMENTATION_COMPLETE = 0x30,
};

// Command ids of the command layer.
enum : uint8_t {
    SDO_COMMAND_NIL = 0x00,
    SDO_COMMAND_WRITE_BY_INDEX = 0x01,
    SDO_COMMAND_READ_BY_INDEX = 0x02,
    SDO_COMMAND_WRITE_MULTIPLE = 0x31,
    SDO_COMMAND_READ_MULTIPLE = 0x32,
};

// Connection states.
enum : uint32_t {
    SDO_CONNECTION_CLOSED = 0,
    SDO_CONNECTION_INIT_REQUESTED = 1,
    SDO_CONNECTION_OPEN = 2,
};

// One SDO connection between two peers; both directions share the entry.
// Direction A is the sender of the frame that created it.
struct sdo_connection {
    uint8_t last_send_sequence_a;  // send byte with the state bits cleared
    uint8_t last_send_sequence_b;
    uint32_t address_a;  // IP source address in UDP mode, else 0
    uint16_t port_a;     // UDP source port in UDP mode, else source node id
    uint32_t address_b;
    uint16_t port_b;
    uint8_t command_id;     // of the last request
    uint16_t object_index;  // of the last request
    uint8_t object_sub_index;
    uint8_t firmware_download;  // a firmware download is running
    uint8_t maker_device;       // a response came from a maker MAC address
    uint32_t frames;            // frames of the connection
    uint32_t data_frames;       // frames that carried new data
    uint32_t state;             // SDO_CONNECTION_*
    sdo_connection *next;       // chain of the bucket
};

// One entry of the history ring: the frame and its send-sequence advance
// ((new - previous) mod 256 of the send byte; 0 for sequence-layer frames).
struct sdo_history_entry {
    uint64_t frame_number;
    uint8_t advance;
};

#define FLOWLENS_SDO_HISTORY_SIZE 1048576u
#define FLOWLENS_SDO_BUCKETS 65536u

// The SDO frame as the classification hands it to the tracking.
struct flowlens_sdo_frame {
    const uint8_t *epl;        // POWERLINK header (EPL offset 0)
    uint32_t epl_length;       // bytes readable from epl (within the captured length)
    uint8_t udp_mode;          // ASnd over UDP port 3819
    uint8_t source_node;       // EPL offset 2, or last byte of the IP source address
    uint8_t destination_node;  // EPL offset 1, or last byte of the IP destination address
    uint32_t ip_source;        // UDP mode only, host order (a.b.c.d = a << 24 ...)
    uint32_t ip_destination;
    uint16_t udp_source_port;
    uint16_t udp_destination_port;
    const uint8_t *source_mac;  // 6 bytes
};

// SDO state of the frame being tracked.
struct sdo_frame_state {
    uint8_t source_node;
    uint8_t destination_node;
    uint8_t command_flags;  // EPL offset 10
    uint8_t segmentation;   // EPL offset 10 & 0x30 of the last frame with new data
    const uint8_t *payload_end;
};

// SDO tracker: history ring, connection table and the current frame's state.
struct sdo_tracker {
    sdo_history_entry *history;  // ring of FLOWLENS_SDO_HISTORY_SIZE entries
    uint64_t history_count;
    sdo_connection **connections;  // FLOWLENS_SDO_BUCKETS chains
    uint16_t *used_buckets;        // buckets given a connection since the last clear
    uint32_t used_count;
    sdo_frame_state current;
};

// What one tracked frame adds to the frame's classification. The caller
// clears cls and abort_code for each frame and points message at its own
// buffer; the tracking only ORs and sets.
struct sdo_track_result {
    frame_class cls;        // ORed: FLOWLENS_CLASS_SDO, and FLOWLENS_CLASS_SDO_ABORT on aborts
    uint32_t abort_code;    // set with FLOWLENS_CLASS_SDO_ABORT
    uint8_t maker_objects;  // the sender answered a read of the maker's module configuration
    uint8_t identity_read;  // the sender (a maker device) answered its product code:
    uint32_t product_code;  //   the caller sets its identity (maker vendor id, this code)
    char *message;          // informational text, written only when there is one
    size_t message_size;
};

// History ring and connection table, allocated once (on failure all stay
// NULL and the tracking is off), cleared at every reset of the engine.
int flowlens_sdo_alloc(sdo_tracker *tracker);
void flowlens_sdo_clear(sdo_tracker *tracker);
void flowlens_sdo_release(sdo_tracker *tracker);

// Tracks one SDO frame (at least SDO_MIN_TRACKED_LENGTH POWERLINK bytes, so
// the caller may hand over every SDO frame) with the capture frame number
// frame_number: ORs FLOWLENS_CLASS_SDO and, on aborts,
// FLOWLENS_CLASS_SDO_ABORT into result->cls, sets result->abort_code and the
// identity fields, and writes an informational text into result->message.
// Does nothing more than the class bit when the tracking is off (allocation
// failed) or the frame is too short.
void sdo_track(sdo_tracker *tracker, const flowlens_sdo_frame *frame, uint64_t frame_number, sdo_track_result *result);

// Answer of the history search for one frame.
enum sdo_history_result {
    SDO_HISTORY_OFF,        // no history (allocation failed)
    SDO_HISTORY_TOO_SMALL,  // empty, or the frame is older than the oldest kept entry
    SDO_HISTORY_NOT_FOUND,  // the frame added no entry: a pure acknowledge
    SDO_HISTORY_FOUND,      // *advance holds the frame's advance
};

// Looks a frame up in the history (bisection over the kept entries; frames
// are added in frame order). Reads the tracker only.
sdo_history_result sdo_history_find(const sdo_tracker *tracker, uint64_t frame_number, uint8_t *advance);

// Sub-record list of a multiple-parameter frame (WriteMultiple requests and
// ReadMultiple responses), from EPL offset 16: each sub-record has a 32-bit
// offset of the next one (relative to the command layer at offset 8; 0 =
// last), 16-bit index, sub-index, a byte with the padding (bits 0-1) and the
// abort flag (bit 7), then its data. The list adds up when each next offset
// advances by at least a header and the next header lies within the segment.
struct sdo_subrecord {
    uint32_t offset;  // EPL offset of the header
    uint16_t index;
    uint8_t sub_index;
    uint8_t flags;         // padding bits 0-1, abort bit 7
    uint32_t data_offset;  // EPL offset of the data
    uint32_t data_length;  // data bytes the list gives it (the frame may hold fewer)
};

enum : uint8_t {
    SDO_SUBRECORD_HEADER = 8,
    SDO_SUBRECORD_PADDING_MASK = 0x03,
    SDO_SUBRECORD_ABORT = 0x80,
};

struct sdo_subrecord_iterator {
    const uint8_t *epl;
    uint32_t length;       // readable bytes
    uint32_t segment_end;  // EPL offset where the segment ends (16 + segment size)
    uint32_t position;     // EPL offset of the next header
    bool done;
    bool valid;  // false: the offsets do not add up
    bool cut;    // the frame ends before the list does
};

void sdo_subrecords_begin(sdo_subrecord_iterator *it, const uint8_t *epl, uint32_t length);
// Next sub-record; false at the end of the list (then valid and cut tell how
// it ended).
bool sdo_subrecords_next(sdo_subrecord_iterator *it, sdo_subrecord *out);

// Connection of two peers, as the tracking keys them; NULL when unknown.
// (Addresses and ports as in flowlens_sdo_frame; both orders find it.)
const sdo_connection *sdo_connection_find(const sdo_tracker *tracker, uint8_t node_1, uint32_t address_1,
                                          uint16_t port_1, uint8_t node_2, uint32_t address_2, uint16_t port_2);

// Number of connection entries in the table (tests and statistics).
size_t sdo_connection_count(const sdo_tracker *tracker);

// Longest chain the table keeps per bucket: beyond it the least recently
// used connection of the bucket is recycled.
#define SDO_BUCKET_CHAIN_LIMIT 16
