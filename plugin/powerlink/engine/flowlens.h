// flowlens: the POWERLINK cycle analysis engine.
//
// One flowlens_instance is fed every Ethernet frame of a capture in frame
// order (flowlens_process_packet). It follows the POWERLINK cycle of up to two
// networks (one per analyzer port), counts and times every frame class per
// network and per node, recognises deviations from the expected cycle and
// reports them through one event callback. Frame texts and statistics only
// read the instance (directly or through flowlens_port_network); only
// the per-frame analysis changes it.
//
// Plain records, zero-filled on creation, 0 / -1 results; no Wireshark, no Qt.
// Nothing is allocated per frame except a new SDO connection entry the first
// time a connection is seen (sdo_tracking), the sample lists' amortised
// growth up to their caps and an informational text the first time it is
// seen (cycle_samples).
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_classes.h"
#include "sdo_tracking.h"
#include "text_state.h"

// ---------------------------------------------------------------------------
// Per-frame input record
// ---------------------------------------------------------------------------

// Handed to the engine for every frame; the caller reuses one record.
struct flowlens_packet_info {
    uint8_t port;              // analyzer port 0 or 1 (a larger value is taken as 1)
    uint64_t frame_number;     // capture frame number (1, 2, ...)
    uint64_t time;             // capture time stamp, ns since 1970
    uint32_t packet_flags;     // pcapng epb_flags word written by the capture engine
    const uint8_t *data;       // captured bytes
    uint16_t length;           // reported length, without a valid FCS
    uint16_t captured_length;  // bytes available at data
};

// Packet flags word (pcapng epb_flags) as the capture engine writes it.
enum : uint32_t {
    FLOWLENS_FLAG_DIRECTION_MASK = 0x00000003u,  // 1 = port 01, 2 = port 02
    FLOWLENS_FLAG_DIGITAL_INPUTS = 0x000F0000u,  // bits 16-19
    FLOWLENS_FLAG_FRAME_CUT = 1u << 20,
    FLOWLENS_FLAG_TRIGGER = 1u << 21,
    FLOWLENS_FLAG_FRAMES_LOST = 1u << 22,
    FLOWLENS_FLAG_CRC_ERROR = 1u << 24,
    FLOWLENS_FLAG_OVERSIZE = 1u << 25,
    FLOWLENS_FLAG_RUNT = 1u << 26,
    FLOWLENS_FLAG_ALIGNMENT = 1u << 28,  // not evaluated
    FLOWLENS_FLAG_PREAMBLE = 1u << 30,   // not evaluated
    FLOWLENS_FLAG_NOISE = 1u << 31,
};

// ---------------------------------------------------------------------------
// Accumulators and events
// ---------------------------------------------------------------------------

// Timing accumulator, nanoseconds. min starts at UINT64_MAX, max at 0.
struct flowlens_timing {
    uint64_t count;
    uint64_t sum;
    uint64_t min;
    uint64_t max;
    uint64_t min_frame;
    uint64_t max_frame;
};
void flowlens_timing_clear(flowlens_timing *t);  // count/sum/max 0, min all ones
void flowlens_timing_add(flowlens_timing *t, uint64_t value, uint64_t frame_number);

// Signed variant for the offset between the SoCs of two networks.
struct flowlens_signed_timing {
    uint64_t count;
    int64_t sum;
    int64_t min;  // starts at INT64_MAX
    int64_t max;  // starts at INT64_MIN
    uint64_t min_frame;
    uint64_t max_frame;
};

// One entry of a network's report table.
struct flowlens_event {
    uint64_t count;
    uint64_t first_frame;
    uint64_t last_frame;
    const char *text;
    uint16_t limit;  // 0 = no limit
};

// Report table of every network, in this order.
enum flowlens_event_id {
    FLOWLENS_EV_LOSS_OF_SOA = 0,
    FLOWLENS_EV_LOSS_OF_SOC,
    FLOWLENS_EV_LOSS_OF_PRES,
    FLOWLENS_EV_UNEXPECTED_PREQ,
    FLOWLENS_EV_UNEXPECTED_PRES,
    FLOWLENS_EV_UNEXPECTED_SOA,
    FLOWLENS_EV_UNEXPECTED_SOC,
    FLOWLENS_EV_UNEXPECTED_AINV,
    FLOWLENS_EV_DUPLICATES,
    FLOWLENS_EV_CAPTURE_DROPPED,
    FLOWLENS_EV_ASYNC_EXPECTED,
    FLOWLENS_EV_FALLBACK_REDUCED,
    FLOWLENS_EV_FRAME_TOO_SHORT,
    FLOWLENS_EV_CRC,
    FLOWLENS_EV_FRAME_FORMAT,
    FLOWLENS_EV_RUNT,
    FLOWLENS_EV_OVERSIZE,
    FLOWLENS_EV_TWO_NETWORKS_EQUAL,
    FLOWLENS_EV_TWO_NETWORKS_DIFFERENT,
    FLOWLENS_EV_SOC_MAC_CHANGED,
    FLOWLENS_EV_STATUS_RESPONSE_SHORT,
    FLOWLENS_EV_INVALID_NMT_STATE,
    FLOWLENS_EV_FLS_SLS_CHANGED,
    FLOWLENS_EV_INVITE_WITHOUT_REQUEST,
    FLOWLENS_EV_FRAMES_LOST,
    FLOWLENS_EV_SOURCE_MAC_CHANGED,
    FLOWLENS_EV_DESTINATION_MAC_INVALID,
    FLOWLENS_EV_DEVIATION_5,
    FLOWLENS_EV_DEVIATION_10,
    FLOWLENS_EV_COUNT  // 29
};

// Texts and limits of the report table (index = flowlens_event_id), and of the
// two events kept in their own fields.
extern const char *const flowlens_event_texts[FLOWLENS_EV_COUNT];
extern const uint16_t flowlens_event_limits[FLOWLENS_EV_COUNT];
extern const char *const flowlens_sdo_abort_text;  // "SDO Abort"
extern const char *const flowlens_misplaced_text;  // "Misplaced Async Frame"

// ---------------------------------------------------------------------------
// Nodes and networks
// ---------------------------------------------------------------------------

#define FLOWLENS_NODES 256
#define FLOWLENS_MN_NODE 240
#define FLOWLENS_PREV_BYTES 32
#define FLOWLENS_DUMP_SOURCES 16

// One POWERLINK node of a network, indexed by node id.
struct flowlens_node {
    uint64_t frames;  // POWERLINK frames sent (by source node id)
    uint64_t pres;    // PRes sent
    uint64_t asnd;    // ASnd other than StatusResponse
    uint64_t status_response;
    uint64_t ident_response;
    const char *device_name;  // model name from the device catalogue, NULL if unknown
    uint32_t vendor_id;
    uint32_t product_code;
    uint16_t extension_word;        // IdentResponse word at EPL offset 46 (maker bus controllers)
    uint16_t revision_word;         // IdentResponse word at EPL offset 38 (maker bus controllers)
    flowlens_timing preq_position;  // SoC -> PReq to this node (node 0: SoC -> MN's own PRes)
    flowlens_timing pres_latency;   // PReq -> this node's PRes
    flowlens_timing asnd_latency;   // SoA -> this node's ASnd (first frame after the SoA)
    uint16_t last_pres_flags;       // EPL bytes 4-5 of the last PRes
    uint16_t last_asnd_flags;       // EPL bytes 4-5 of the last Ident/StatusResponse
    uint8_t frame_too_short;        // latch while the PRes is shorter than its size field
    uint8_t preq_mapping_version;   // of the PReq frames polling this node
    uint8_t pres_mapping_version;
    uint8_t nmt_state;
    uint8_t object_names_maker;  // maker bus controller: manufacturer objects get names
    uint8_t object_names_slots;  // node with interface slots: slot objects get names
    uint8_t mac_known;
    uint8_t mac[6];
};

// Frame counters of a network (read by the statistics).
struct flowlens_frame_counters {
    uint64_t powerlink;  // EtherType 0x88AB / 0x3E3F with at least 18 captured bytes
    uint64_t soc;
    uint64_t preq;
    uint64_t pres;
    uint64_t soa;  // also V1 EndCyclic and V1 AsyncInvite
    uint64_t ainv;
    uint64_t asnd;
};

// Asynchronous slot accounting of a network (read by the statistics).
struct flowlens_slot_counters {
    uint64_t soa_slots;
    uint64_t ainv_slots;
    uint64_t free_slots;    // SoCs that closed a slot with no frame in it
    uint64_t asnd_from_mn;  // POWERLINK ASnd in a slot, sender = SoC MAC
    uint64_t asnd_from_cn;
    uint64_t other_from_mn;  // non-POWERLINK frames in a slot
    uint64_t other_from_cn;
    flowlens_event sdo_abort;  // "SDO Abort"
    flowlens_event misplaced;  // "Misplaced Async Frame"
};

// Cycle phase of a network.
enum : uint32_t {
    FLOWLENS_PHASE_UNKNOWN = 0,
    FLOWLENS_PHASE_ISOCHRONOUS = 1,  // after SoC or PRes
    FLOWLENS_PHASE_WAIT_PRES = 2,    // after PReq
    FLOWLENS_PHASE_ASYNC = 3,        // after SoA or AInv
};

struct flowlens_dump_source {
    uint64_t count;  // dumps seen from this analyzer source
    uint16_t next_expected;
};

struct flowlens_network {
    flowlens_frame_counters counts;
    uint16_t async_in_slot;  // frames counted in the current asynchronous slot
    uint16_t async_in_slot_max;
    flowlens_event events[FLOWLENS_EV_COUNT];
    uint64_t last_soc_time;
    uint64_t last_preq_time;
    uint64_t last_soa_time;
    uint8_t soa_seen;  // an SoA since the last SoC
    uint8_t soc_lost;  // a PReq came in the asynchronous phase
    uint8_t warm_up;
    uint8_t relative_time_established;
    uint8_t relative_time_count;
    uint32_t phase;
    uint32_t nominal_cycle_time;   // us, between the time values of the last two SoCs
    uint32_t last_soc_time_value;  // us, low 32 bits of RelativeTime (V1: NetTime)
    uint16_t pres_previous_cycle;
    uint16_t pres_this_cycle;
    uint16_t preq_previous_cycle;  // PReqs of the MN, multiplexed ones not counted
    uint16_t preq_this_cycle;
    uint8_t last_preq_target;  // 255 after the MN's own PRes
    uint64_t last_preq_frame;  // frame number of the last PReq
    flowlens_node nodes[FLOWLENS_NODES];
    flowlens_timing cycle_time;  // SoC to SoC, outliers excluded
    uint64_t cycle_outliers;
    uint64_t cycle_outlier_frame;
    flowlens_timing soa_to_soc;       // high resolution only
    flowlens_timing async_idle;       // high resolution only
    flowlens_timing packet_interval;  // high resolution only, per port index
    uint64_t port_last_frame_time;    // per port index, for packet_interval
    flowlens_timing pres_to_preq;
    flowlens_slot_counters slots;
    // previous frame of this network (duplicate and idle detection)
    uint64_t prev_time;
    uint16_t prev_length;
    uint16_t prev_captured;  // bytes stored in prev_bytes
    uint8_t prev_bytes[FLOWLENS_PREV_BYTES];
    uint32_t prev_flags;
    frame_class prev_class;
    frame_class all_classes;
    int32_t duplicates_in_a_row;
    uint8_t pres_missing_reported;
    uint8_t soc_mac[6];  // first byte 0xFF: none
    uint8_t soc_port;
    uint8_t soa_byte9;
    uint8_t mn_invite_noted;
    uint8_t soc_text_time_valid;  // for the SoC "(+%u)" delta of the frame text
    uint32_t soc_text_time_value;
    flowlens_dump_source dumps[FLOWLENS_DUMP_SOURCES];
    uint64_t soa_streak;
    uint64_t socs_with_time_in_a_row;
};

// ---------------------------------------------------------------------------
// Instance
// ---------------------------------------------------------------------------

// Event callback: (context, value, severity, text, excess).
// severity 2 = report-table event, 0 = informational message. text is valid
// only during the call. excess = how far the event's count exceeds its report
// limit (0 within the limit or when unlimited).
typedef void (*flowlens_event_callback)(void *context, uint64_t value, uint8_t severity, const char *text,
                                        uint64_t excess);

enum : uint8_t {
    FLOWLENS_NETWORK_MODE_SINGLE = 0,     // one network
    FLOWLENS_NETWORK_MODE_EQUAL = 1,      // both ports carry the same network
    FLOWLENS_NETWORK_MODE_DIFFERENT = 2,  // two different networks
};

enum : uint8_t {
    FLOWLENS_TIMEMODE_DETECT = 0,
    FLOWLENS_TIMEMODE_HIGH_RESOLUTION = 2,
};

class flowlens_cycle_samples;  // cycle_samples.h

struct flowlens_instance {
    uint8_t portmarking;
    uint8_t timemode;
    uint8_t effective_timemode;
    uint64_t duplicates;
    flowlens_timing port_switch;            // last frame of port 0 -> next frame of port 1
    flowlens_signed_timing network_offset;  // between the SoCs of the two networks
    flowlens_network networks[2];
    uint8_t network_mode;
    flowlens_text_state text;      // the frame text being built and its delta cells
    sdo_tracker sdo;               // SDO connections, history and the current SDO frame
    uint64_t last_analysed_frame;  // starts at all ones
    uint8_t first_soc_mac[6];      // first byte 0xFF: none
    uint8_t last_port;             // starts at 0xFF
    uint8_t last_preq_flags;       // EPL byte 4 of the last PReq
    uint64_t current_frame_number;
    uint64_t current_time;
    flowlens_event_callback callback;
    void *callback_context;
    flowlens_cycle_samples *samples;  // cycle, response and event samples; NULL when not allocated
};

// Creates, initialises (SDO history and table included) and resets an
// instance; installs the callback. 0 on success, -1 when allocation fails.
int flowlens_create(flowlens_instance **out, flowlens_event_callback callback, void *context);
// Frees an instance (the plug-in never does; tests and tools do).
void flowlens_destroy(flowlens_instance *instance);
void flowlens_set_callback(flowlens_instance *instance, flowlens_event_callback callback, void *context);
void flowlens_set_portmarking(flowlens_instance *instance, uint8_t portmarking);
void flowlens_set_timemode(flowlens_instance *instance, uint8_t timemode);
// Start: warm-up and PRes counts of both networks, then reset.
void flowlens_start(flowlens_instance *instance);
// Reset: forgets every counter, event and SDO connection.
void flowlens_reset(flowlens_instance *instance);
// Analyses one frame (frames must arrive in frame order).
void flowlens_process_packet(flowlens_instance *instance, const flowlens_packet_info *packet);

// Raises a report-table event of a network (or one of its own-field events):
// counts it, formats "Powerlink: Packet #%07llu - <text><detail>" and calls the
// callback with severity 2 and the excess. detail_format may be NULL.
void flowlens_report(flowlens_instance *instance, flowlens_event *event, const char *detail_format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
// Sends an informational message "Powerlink: Packet #%07llu - <text> " with
// severity 0 and value 0.
void flowlens_inform(flowlens_instance *instance, const char *text);

// Network record of a frame's port under the current network mode.
flowlens_network *flowlens_network_of_port(flowlens_instance *instance, uint8_t port);
// Index (0 or 1) of the network of the frame being analysed.
unsigned flowlens_current_network_index(const flowlens_instance *instance);

// Sets a node's identity (IdentResponse or SDO read of 0x1018/2): when vendor
// or product code changed, clears the device name and both object-name flags,
// and takes name and capabilities from the device catalogue.
void flowlens_node_set_identity(flowlens_node *node, uint32_t vendor_id, uint32_t product_code);

// Network record of an analyzer port for the statistics: port 0 or 1 selects
// network record 0 or 1 whatever the network mode; NULL for a larger port or
// a missing instance.
const flowlens_network *flowlens_port_network(const flowlens_instance *instance, unsigned port);

// ---------------------------------------------------------------------------
// The instance's SDO tracker (sdo_tracking.h) is allocated at creation
// (flowlens_sdo_alloc; on failure its tables stay NULL and SDO tracking is
// off), cleared at every reset and released in flowlens_destroy. The payload
// classification (flowlens_classify.h) hands it every ASnd service 5 frame
// with at least 16 POWERLINK bytes and applies the identity it learns to the
// sending node.
// ---------------------------------------------------------------------------
