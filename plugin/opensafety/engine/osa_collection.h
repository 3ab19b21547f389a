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

#include "osa_records.h"
#include "osa_stats.h"

/* Most UDID tails kept for 11-byte frames. A network has one SCM per safety
 * domain, so a handful is plenty; the cap keeps crafted traffic from making
 * every short frame match some tail (each tail passes a random frame with a
 * chance of 1 in 16384) and from making the tail search quadratic. */
constexpr std::size_t osa_max_udid_tails = 16;

/* Highest SADR that gets a connection record from the draw step. */
constexpr uint32_t osa_max_connection_sadr = 766;

enum osa_log_kind : uint32_t {
    OSA_LOG_VALID_CHANGED = 0,   // value: new connection-valid flag
    OSA_LOG_MAY_COMPENSATE = 1,  // value: missing cycles
    OSA_LOG_WILL_FAIL = 2,       // value: missing cycles
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
    std::deque<osa_log_entry> log;  // newest first
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

/* Recovers UDID bytes 3-5 (and the SDN) of the node from the frame
 * (osa_udid.h) with the learned tails, and learns the node's tail.
 * Returns 0 on success, -1 on failure. */
int osa_detect_udid(osa_node *node, const osa_frame_record *rec);
