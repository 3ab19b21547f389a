/* The node and connection tables and the per-frame collection. */
#include "osa_collection.h"
#include "osa_frame.h"
#include "osa_internal.h"
#include "osa_udid.h"

#include <algorithm>
#include <cmath>

using namespace osa_frame;

namespace {

struct osa_state {
    osa_node_map nodes;
    /* One connection per producer SADR: a node seen with two SDNs shares it. */
    std::map<uint32_t, std::unique_ptr<osa_connection>> connections;
    uint32_t first_frame = 0;
    uint32_t last_frame = 0;
    std::vector<uint32_t> candidates;
};

std::unique_ptr<osa_state> g_state;
const std::vector<uint32_t> g_no_candidates;

constexpr uint64_t modulus_16bit = 0xFFFF;          // the counter repeats after 65535 steps
constexpr uint64_t modulus_40bit = 0xFFFFFFFFFULL;  // 2^36 - 1
constexpr double sync_error_threshold = 1000.0;
constexpr double sync_failure_threshold = 4000.0;

/* The dissector also reports its UDID as valid when it has none configured
 * (all zero) and a data-only SPDO happens to show the 40-bit flag under it;
 * an all-zero UDID is never an SCM's. */
bool record_udid_valid(const osa_frame_record *rec) {
    if (!rec->udid_valid) return false;
    for (uint8_t b : rec->scm_udid)
        if (b != 0) return true;
    return false;
}

bool frame_has(const osa_frame_record *rec, std::size_t n) { return rec->frame && n <= rec->frame_avail; }

/* A record that carries nothing yet: created for this frame only. Partner
 * links are only ever set, in pairs, so a record without partner is pointed
 * at by nobody. */
bool is_blank(const osa_node *n) {
    return n->snmt_count == 0 && n->ssdo_count == 0 && n->spdo_count == 0 && !n->partner && !n->is_virtual &&
           !n->sdn_known;
}

/* After a recovered UDID names another SADR than the frame's sender, the
 * frame continues with that SADR's record. The UDID and SDN go along; the
 * sender's record leaves the table only if this frame created it, so every
 * SADR keeps exactly one record and nothing refers to a removed one. */
osa_node *rekey_node(osa_node *from, uint32_t sadr) {
    osa_node *to = osa_get_node(sadr);
    if (!to || to == from) return from;
    if (!to->udid_valid) {
        std::copy(std::begin(from->scm_udid), std::end(from->scm_udid), to->scm_udid);
        to->udid_valid = 1;
        if (!to->sdn_known || to->sdn == 0) to->sdn = from->sdn;
    }
    if (is_blank(from)) {
        g_state->connections.erase(from->sadr);
        g_state->nodes.erase(from->sadr);  // `from` is gone from here on
    }
    return to;
}

void add_log(osa_connection *conn, uint32_t frame, uint32_t kind, uint64_t value) {
    osa_log_entry e;
    e.frame = frame;
    e.kind = kind;
    e.value = value;
    conn->log.push_front(e);
}

/* Whole part of a deviation, held at the ends of the range: a window that
 * mixes huge deltas (unexplained counter jumps) with a 0 delta has a
 * deviation beyond 32 bits, and converting that as is is undefined. */
uint32_t saturate_u32(double v) {
    if (!(v > 0.0))  // also NaN
        return 0;
    if (v >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(v);
}

/* Sync-error check of one counter delta against the previous one: a fast
 * growth of the counter deviation between two SPDOs means cycles were lost. */
void classify_sync(osa_connection *conn, uint32_t frame, uint64_t cd, const osa_delta_sample &s) {
    const double dev = s.deviation;
    const uint32_t dev_int = saturate_u32(dev);
    if (conn->last_sync_frame != 0 && conn->last_sync_frame != frame) {
        const int64_t ddev = static_cast<int64_t>(conn->last_sync_deviation) - static_cast<int64_t>(dev_int);
        const int32_t dframe = static_cast<int32_t>(conn->last_sync_frame - frame);
        const double x = (static_cast<double>(ddev) / static_cast<double>(dframe)) * dev;
        if (x > sync_error_threshold) {
            const uint64_t missing = osa_cycles_missing(conn->counter_delta.window, cd);
            conn->sync_errors.add_marker(frame, cd);
            if (x > sync_failure_threshold) {
                conn->failure_count += 1;
                if (frame != 0) add_log(conn, frame, OSA_LOG_WILL_FAIL, missing);
            } else {
                conn->netsync_count += 1;
                if (frame != 0) add_log(conn, frame, OSA_LOG_MAY_COMPENSATE, missing);
            }
        }
    }
    conn->last_sync_frame = frame;
    conn->last_sync_deviation = dev_int;
}

/* The UDID that unscrambles the frame's sub-frame 2: the one recovered for
 * the node, else the dissector's; NULL when neither is known. */
const uint8_t *frame_udid(const osa_node *node, const osa_frame_record *rec) {
    if (node->udid_valid) return node->scm_udid;
    return record_udid_valid(rec) ? rec->scm_udid : nullptr;
}

/* Whether an SPDO counts 40 bits, read from the frame itself. Only data-only
 * SPDOs do, and they set both 40-bit flags in sub-frame 2's TR byte. The
 * dissector's own flag reads that byte still scrambled when it does not know
 * the UDID (a UDID byte 4 with bits 0xC0 flags every 16-bit SPDO), so it is
 * used only without frame bytes. With no UDID at all, counter bits in
 * sub-frame 2's ID byte (scrambled with our prefix) tell a 40-bit counter. */
bool spdo_counts_40bit(const osa_node *node, const osa_frame_record *rec) {
    const std::size_t f2 = rec->subframe2;
    if (f2 <= pos_data || !frame_has(rec, f2 + f2_tr + 1)) return rec->spdo_40bit;
    if ((rec->frame[pos_id] & 0xF8) != spdo_data_only) return false;
    if (const uint8_t *udid = frame_udid(node, rec)) {
        const uint8_t flags = tr_40bit_available | tr_40bit_used;
        return ((rec->frame[f2 + f2_tr] ^ udid[f2_tr]) & flags) == flags;
    }
    return ((rec->frame[f2 + f2_id] ^ osa_udid_prefix[1] ^ rec->frame[pos_id]) & 0xFC) != 0;
}

/* Counter bits 16-39 of a 40-bit SPDO, unscrambled: they travel in sub-frame
 * 2's address byte (folded with sub-frame 1's address and domain 1), its ID
 * byte (folded with sub-frame 1's ID) and its target-address byte. */
uint64_t counter40_high_bits(const osa_frame_record *rec, const uint8_t *udid) {
    const uint8_t *f = rec->frame;
    const std::size_t f2 = rec->subframe2;
    const uint64_t b16 = static_cast<uint8_t>(f[f2 + f2_adr] ^ udid[f2_adr] ^ f[pos_adr] ^ 0x01);
    const uint64_t b24 = static_cast<uint8_t>(f[f2 + f2_id] ^ udid[f2_id] ^ f[pos_id]);
    const uint64_t b32 = static_cast<uint8_t>(f[f2 + f2_tadr] ^ udid[f2_tadr]);
    return b32 << 32 | b24 << 24 | b16 << 16;
}

void update_connection(osa_node *node, const osa_frame_record *rec) {
    const bool counter40 = spdo_counts_40bit(node, rec);
    uint16_t counter16 = rec->spdo_counter16;
    uint64_t counter40_value = rec->spdo_counter40;
    const std::size_t f2 = rec->subframe2;
    if (!record_udid_valid(rec) && f2 > pos_data && frame_has(rec, f2 + f2_ct_hi + 1)) {
        /* The dissector had no UDID: it only knew the low byte. The high byte
         * is unscrambled with the UDID this collection recovered. */
        const uint8_t key = node->udid_valid ? node->scm_udid[f2_ct_hi] : rec->scm_udid[f2_ct_hi];
        counter16 = static_cast<uint16_t>((rec->frame[f2 + f2_ct_hi] ^ key) << 8 | rec->frame[pos_ct]);
        /* The dissector could not read a 40-bit counter either: the rest of
         * it comes from the frame as well. */
        if (counter40 && node->udid_valid && frame_has(rec, f2 + f2_tr + 1))
            counter40_value = counter40_high_bits(rec, node->scm_udid) | counter16;
    }

    osa_connection *conn = osa_get_connection(node);
    if (!conn) return;

    const uint32_t frame = rec->frame_number;
    if (g_state->first_frame != 0 && frame >= g_state->first_frame)
        g_state->last_frame = frame;
    else
        g_state->first_frame = g_state->last_frame = frame;

    const uint64_t modulus = counter40 ? modulus_40bit : modulus_16bit;
    if (conn->frame_delta.last != 0)
        conn->frame_delta.push(frame, osa_wrap_delta(conn->frame_delta.last, frame, modulus));
    conn->frame_delta.last = frame;

    const uint64_t ctr = counter40 ? counter40_value : counter16;
    if (conn->counter_delta.last != 0) {
        const uint64_t cd = osa_wrap_delta(conn->counter_delta.last, ctr, modulus);
        const osa_delta_sample &s = conn->counter_delta.push(frame, cd);
        classify_sync(conn, frame, cd, s);
    }
    /* The whole counter: 40-bit counters run past 2^32. */
    conn->counter_delta.last = ctr;

    const uint32_t valid = rec->spdo_conn_valid ? 1 : 0;
    if (frame != 0 && valid != conn->valid_state) {
        conn->valid_state = valid;
        add_log(conn, frame, OSA_LOG_VALID_CHANGED, valid);
    }
}

void handle_snmt(osa_node *node, const osa_frame_record *rec) {
    node->snmt_count += 1;
    if (!rec->is_request && rec->has_payload) {
        if (rec->snmt_ext_id == snmt_ext_status_op)
            node->operational = 1;
        else if (rec->snmt_ext_id == snmt_ext_status_pre_op)
            node->operational = 0;
    }
    if (!node->sdn_known) {
        osa_derive_sdn(node, rec);
        node->sdn_known = 1;
    }
}

/* True when the node of `sadr` exists and already holds this UDID. */
bool holds_udid(uint32_t sadr, const uint8_t (&udid)[6]) {
    const auto it = g_state->nodes.find(sadr);
    return it != g_state->nodes.end() && it->second->udid_valid &&
           std::equal(std::begin(udid), std::end(udid), it->second->scm_udid);
}

osa_node *learn_udid(osa_node *node, const osa_frame_record *rec) {
    if (node->udid_valid) return node;
    if (record_udid_valid(rec)) {
        std::copy(std::begin(rec->scm_udid), std::end(rec->scm_udid), node->scm_udid);
        node->udid_valid = 1;
        /* SPDO records carry no SDN (0): keep what SNMT traffic told. */
        if (rec->sdn != 0) node->sdn = rec->sdn;
        return node;
    }
    if (rec->kind == 1 || rec->frame_len < min_frame) return node;
    const osa_node before = *node;
    if (osa_detect_udid(node, rec) != 0 || osa_last_detection_counter40()) return node;
    const uint32_t sadr = osa_decode_address(rec, node, 0);
    if (sadr == 0 || sadr == node->sadr) return node;
    if (osa_last_detection_from_tail() && !holds_udid(sadr, node->scm_udid)) {
        /* A learned tail that fits an 11-byte frame is a 14-bit check at
         * best: it may move the frame to another SADR only when that node
         * already holds the same UDID. Otherwise the match is not taken. */
        *node = before;
        return node;
    }
    return rekey_node(node, sadr);
}

}  // namespace

/* The counter is a time base: one regular step per cycle, and a gap only
 * makes a step longer, so the smallest step of the recent window is the
 * regular one. */
uint64_t osa_cycles_missing(const osa_sample_window &window, uint64_t cd) {
    float step = 0.0f;
    for (uint16_t i = 0; i < window.count; ++i) {
        const float v = window.at(i);
        if (v > 0.0f && (step == 0.0f || v < step)) step = v;
    }
    if (step <= 0.0f) return 0;
    const double steps = std::floor(static_cast<double>(cd) / step + 0.5);
    return steps > 1.0 && steps < 1.8e19 ? static_cast<uint64_t>(steps) - 1 : 0;
}

void osa_learn_udid_tail(uint32_t tail) {
    if (!g_state) return;
    auto &c = g_state->candidates;
    if (c.size() < osa_max_udid_tails && std::find(c.begin(), c.end(), tail) == c.end()) c.push_back(tail);
}

int osa_detect_udid(osa_node *node, const osa_frame_record *rec) {
    uint32_t tail = 0;
    if (osa_recover_udid(node, rec, osa_udid_candidates(), &tail) != 0) return -1;
    osa_learn_udid_tail(tail);
    return 0;
}

void osa_tap_reset() {
    if (!g_state) {
        g_state = std::make_unique<osa_state>();
        return;
    }
    g_state->candidates.clear();
    g_state->first_frame = 0;
    g_state->last_frame = 0;
    g_state->connections.clear();
    g_state->nodes.clear();
}

void osa_tap_destroy() { g_state.reset(); }

const osa_node_map *osa_node_table() { return g_state ? &g_state->nodes : nullptr; }

osa_node *osa_get_node(uint32_t sadr) {
    if (!g_state) return nullptr;
    auto &slot = g_state->nodes[sadr];
    if (!slot) {
        slot = std::make_unique<osa_node>();
        slot->sadr = sadr;
    }
    return slot.get();
}

osa_connection *osa_get_connection(const osa_node *node) {
    if (!g_state || !node || node->sadr == 0 || node->sdn == 0) return nullptr;
    auto &slot = g_state->connections[node->sadr];
    if (!slot) slot = std::make_unique<osa_connection>();
    return slot.get();
}

const osa_connection *osa_find_connection(uint32_t sadr) {
    if (!g_state) return nullptr;
    auto it = g_state->connections.find(sadr);
    return it == g_state->connections.end() ? nullptr : it->second.get();
}

uint32_t osa_first_frame() { return g_state ? g_state->first_frame : 0; }

uint32_t osa_last_frame() { return g_state ? g_state->last_frame : 0; }

const std::vector<uint32_t> &osa_udid_candidates() { return g_state ? g_state->candidates : g_no_candidates; }

void osa_derive_sdn(osa_node *node, const osa_frame_record *rec) {
    if (!node || !rec || node->sdn_known == 1) return;
    const std::size_t f2 = rec->subframe2;
    if (f2 == 0 || !frame_has(rec, f2 + f2_id + 1)) return;
    /* SNMT frames are not scrambled: they run before the UDID is assigned. */
    const bool scrambled = rec->msg_type != type_snmt;
    const uint8_t k0 = scrambled ? node->scm_udid[0] : 0;
    const uint8_t k1 = scrambled ? node->scm_udid[1] : 0;
    /* Sub-frame 2 must repeat the ID: otherwise (40-bit counters, a wrong
     * UDID) its address bytes do not hold ADR xor SDN. */
    if (((rec->frame[f2 + f2_id] ^ k1) & 0xFC) != (rec->frame[pos_id] & 0xFC)) return;
    const unsigned lo = rec->frame[pos_adr] ^ rec->frame[f2 + f2_adr] ^ k0;
    const unsigned hi = (rec->frame[pos_id] ^ rec->frame[f2 + f2_id] ^ k1) & 0x03;
    node->sdn = static_cast<uint16_t>(hi << 8 | lo);
}

uint32_t osa_decode_address(const osa_frame_record *rec, const osa_node *node, unsigned k) {
    if (!rec || !node || k + 1 >= sizeof node->scm_udid) return 0;
    const std::size_t p = rec->subframe2 + k;
    if (!frame_has(rec, p + 2)) return 0;
    unsigned lo = rec->frame[p] ^ node->scm_udid[k];
    unsigned hi = (rec->frame[p + 1] ^ node->scm_udid[k + 1]) & 0x03;
    if (k == 0) {
        lo ^= node->sdn & 0xFF;
        hi ^= (node->sdn >> 8) & 0x03;
    }
    return lo + 256 * hi;
}

void osa_link_nodes(uint32_t a, uint32_t b) {
    if (a == b || a == 0 || b == 0 || !g_state) return;
    uint32_t low = a, high = b;
    if (a != 1 && b != 1) {
        low = std::min(a, b);
        high = std::max(a, b);
    }
    osa_node *nl = osa_get_node(low);
    osa_node *nh = osa_get_node(high);
    if (!nl || !nh || nl == nh) return;
    nl->partner = nh;
    nh->partner = nl;

    /* Node 1 is the SCM; any other pair is a node and its additional address. */
    if (low != 1 && high != 1) nh->is_virtual = 1;
    /* The address with SNMT or SSDO traffic is the node's main address. */
    if (nh->is_virtual && (nh->snmt_count > 0 || nh->ssdo_count > 0)) {
        nl->is_virtual = 1;
        nh->is_virtual = 0;
    }

    auto copy_identity = [](const osa_node *src, osa_node *dst) {
        std::copy(std::begin(src->scm_udid), std::end(src->scm_udid), dst->scm_udid);
        dst->sdn = src->sdn;
        dst->udid_valid = 1;
        dst->sdn_known = 1;
    };
    if (nl->sdn_known && nl->udid_valid && !nh->udid_valid)
        copy_identity(nl, nh);
    else if (nh->sdn_known && nh->udid_valid && !nl->udid_valid)
        copy_identity(nh, nl);
}

osa_tap_result osa_tap_packet(const osa_frame_record *rec) {
    if (!rec || rec->sender == 0) return OSA_TAP_FAILED;
    // Made on first use as well: Wireshark does not reset its taps before
    // the first live capture after it starts.
    if (!g_state) g_state = std::make_unique<osa_state>();

    osa_node *node = osa_get_node(rec->sender);
    if (rec->msg_type == type_snmt) {
        handle_snmt(node, rec);
    } else {
        node = learn_udid(node, rec);
        if (node->udid_valid && rec->sdn == 0) osa_derive_sdn(node, rec);
    }

    if (rec->msg_type == type_spdo) update_connection(node, rec);

    if (rec->msg_type == type_ssdo || rec->msg_type == type_slim_ssdo) node->ssdo_count += 1;

    if (rec->msg_type == type_spdo) {
        node->spdo_count += 1;
        node->operational = 1;
        if (node->udid_valid && rec->has_payload && rec->spdo_partner != 0) {
            const uint32_t partner = record_udid_valid(rec) ? rec->spdo_partner : osa_decode_address(rec, node, 3);
            osa_link_nodes(node->sadr, partner);
        }
    }
    return OSA_TAP_DONT_REDRAW;
}

void osa_tap_draw() {
    if (!g_state) return;
    for (auto &entry : g_state->nodes)
        if (entry.first <= osa_max_connection_sadr) osa_get_connection(entry.second.get());
}
