/* openSAFETY network collection: nodes, SPDO connections, frame and counter
 * delta statistics, network-synchronisation errors, validity logs and the
 * recovery of SCM UDID and SDN from the frames themselves.
 *
 * The collection knows nothing of Wireshark: the plug-in's tap adapter fills
 * an osa_frame_record from the dissector's tap record and hands it to
 * osa_tap_packet. All functions run on one thread (Wireshark's dissection and
 * GUI thread); the windows read the records in place between tap runs.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

/* SCM UDID bytes 0 to 2 assumed by the UDID recovery: Zelmar's OUI. */
constexpr uint8_t osa_udid_prefix[3] = {0x02, 0xD7, 0xA5};

/* Most UDID tails kept for 11-byte frames. A network has one SCM per safety
 * domain, so a handful is plenty; the cap keeps crafted traffic from making
 * every short frame match some tail (each tail passes a random frame with a
 * chance of 1 in 16384) and from making the tail search quadratic. */
constexpr std::size_t osa_max_udid_tails = 16;

/* Highest SADR that gets a connection record from the draw step. */
constexpr uint32_t osa_max_connection_sadr = 766;

/* Fixed-capacity ring of the most recent samples. */
struct osa_sample_window {
    uint16_t capacity = 0;
    uint16_t count = 0;
    uint16_t start = 0;
    std::unique_ptr<float[]> values;

    void init(uint16_t cap);
    void push(float v);
    float at(uint16_t i) const;  // 0 beyond count
    void clear();
};

struct osa_delta_sample {
    uint32_t frame = 0;
    uint64_t delta = 0;
    float deviation = 0;  // population standard deviation of the window after the push
    float mean = 0;       // window mean after the push
};

struct osa_delta_tracker {
    static constexpr uint16_t window_size = 5;

    osa_sample_window window;
    std::deque<osa_delta_sample> series;  // newest first (chunked storage, no allocation per sample)
    uint64_t last = 0;                   // last frame number / counter; 0 = none yet

    osa_delta_tracker() { window.init(window_size); }
    /* Appends delta to the window and prepends a sample; returns the sample. */
    const osa_delta_sample &push(uint32_t frame, uint64_t delta);
    /* Adds a sample to the series only (sync-error markers). */
    void add_marker(uint32_t frame, uint64_t delta);
};

enum osa_log_kind : uint32_t {
    OSA_LOG_VALID_CHANGED = 0,  // value: new connection-valid flag
    OSA_LOG_MAY_COMPENSATE = 1, // value: missing cycles
    OSA_LOG_WILL_FAIL = 2,      // value: missing cycles
};

struct osa_log_entry {
    uint32_t frame = 0;
    uint32_t kind = 0;
    uint64_t value = 0;
};

struct osa_connection {
    osa_delta_tracker frame_delta;
    osa_delta_tracker counter_delta;
    osa_delta_tracker sync_errors;
    osa_delta_tracker timeguard;  // kept for the windows; never filled
    uint32_t last_sync_frame = 0;
    uint32_t last_sync_deviation = 0;
    uint32_t valid_state = 0;
    uint64_t netsync_count = 0;
    uint64_t failure_count = 0;
    std::deque<osa_log_entry> log;       // newest first
};

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
    uint32_t kind = 0;              // 1 = malformed: never used for UDID recovery
    uint16_t subframe2 = 0;         // offset of sub-frame 2 in `frame`
    uint32_t frame_len = 0;         // total length of both sub-frames
    const uint8_t *frame = nullptr; // the openSAFETY frame (may be shorter than frame_len)
    uint32_t frame_avail = 0;       // bytes readable at `frame`
    uint16_t sender = 0;            // sender SADR; 0 = no node
    uint16_t sdn = 0;               // sender SDN; 0 = unknown
    bool is_request = false;
    uint8_t msg_id = 0;
    uint8_t msg_type = 0;
    uint8_t scm_udid[6] = {0, 0, 0, 0, 0, 0};
    bool udid_valid = false;
    uint32_t frame_number = 0;      // number of the packet in the capture

    bool has_payload = false;
    uint8_t snmt_ext_id = 0;        // SNMT: extended service ID
    uint16_t spdo_partner = 0;      // SPDO: time-sync partner address
    bool spdo_conn_valid = false;
    bool spdo_40bit = false;
    uint16_t spdo_counter16 = 0;
    uint64_t spdo_counter40 = 0;
};

enum osa_tap_result { OSA_TAP_DONT_REDRAW = 0, OSA_TAP_FAILED = 2 };

/* Node table: one record per SADR, in SADR order. */
using osa_node_map = std::map<uint32_t, std::unique_ptr<osa_node>>;

/* ---- module interface (one collection per process, like the tap) ---- */

void osa_tap_reset();
osa_tap_result osa_tap_packet(const osa_frame_record *rec);
void osa_tap_draw();

/* NULL before the first reset. */
const osa_node_map *osa_node_table();
/* Creates the record if missing; NULL before the first reset. */
osa_node *osa_get_node(uint32_t sadr);
/* Creates the record if missing; NULL without tables or for SADR/SDN 0. */
osa_connection *osa_get_connection(const osa_node *node);
/* Looks up without creating; NULL when the SADR has no connection record. */
const osa_connection *osa_find_connection(uint32_t sadr);
uint32_t osa_first_frame();
uint32_t osa_last_frame();
/* Learned UDID tails (bytes 3-5), in learning order, at most osa_max_udid_tails. */
const std::vector<uint32_t> &osa_udid_candidates();
/* Drops the tables entirely (back to the state before the first reset). */
void osa_tap_destroy();

/* ---- algorithms, exposed for tests ---- */

/* Counter/frame difference with wrap-around; 0 when the jump is unexplained. */
uint64_t osa_wrap_delta(uint64_t old_value, uint64_t new_value, uint64_t modulus);

/* Cycles lost before an SPDO whose counter advanced by cd, judged against
 * the regular step in the counter-delta window. */
uint64_t osa_cycles_missing(const osa_sample_window &window, uint64_t cd);

/* SDN from the frame: ADR xor the address field of sub-frame 2, unscrambled
 * with the node's UDID byte 0 unless the frame is an SNMT. */
void osa_derive_sdn(osa_node *node, const osa_frame_record *rec);

/* 10-bit address stored at sub-frame 2 offset k, decoded with the node's UDID
 * (and SDN for k = 0). */
uint32_t osa_decode_address(const osa_frame_record *rec, const osa_node *node, unsigned k);

/* Time-sync pairing of addresses a and b, with the virtual-address rules. */
void osa_link_nodes(uint32_t a, uint32_t b);

/* Recovers UDID bytes 3-5 (and the SDN) of the node from the frame.
 * Returns 0 on success, -1 on failure. */
int osa_detect_udid(osa_node *node, const osa_frame_record *rec);
