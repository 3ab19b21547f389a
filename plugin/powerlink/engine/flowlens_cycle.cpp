// Per-frame analysis of the flowlens engine: network of the frame, capture
// duplicates, capture error flags, classification, the POWERLINK cycle phase
// by phase, time measurements and the asynchronous slot accounting.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "abort_codes.h"
#include "cycle_samples.h"
#include "flowlens.h"
#include "flowlens_classify.h"
#include "flowlens_frame.h"

using namespace flowlens_layout;

namespace {

// Nanoseconds on the wire at 100 Mbit/s: per byte, and the inter-frame gap.
constexpr int64_t NS_PER_BYTE = 80;
constexpr int64_t INTER_FRAME_GAP_NS = 960;
// Cycles longer than 18/10 of the running average are outliers.
constexpr uint64_t OUTLIER_FACTOR_TENTHS = 18;
// Deviation of measured to nominal cycle time, per mille.
constexpr int64_t DEVIATION_5_PERMILLE = 50;
constexpr int64_t DEVIATION_10_PERMILLE = 100;
// Consecutive V2 SoAs above which identical frames are not taken as duplicates.
constexpr uint64_t SOA_STREAK_DUPLICATE_LIMIT = 5;
constexpr char MISSING_PRES_TIMEOUT[] = " (Response Timeout for CN %d too low ?)";
constexpr char MISSING_PRES[] = " (PRes from CN %d missing)";
constexpr char MAC_FORMAT[] = "%02X:%02X:%02X:%02X:%02X:%02X";
constexpr size_t MULTIPLE_ASND_TEXT_SIZE = 100;
constexpr char MULTIPLE_ASND[] = "Multiple ASnd (%d Slots)";

// Everything the steps of one frame share.
struct frame_context {
    flowlens_instance *instance;
    flowlens_network *network;
    const flowlens_packet_info *packet;
    flowlens_bytes frame;
    uint8_t port;
    uint64_t now;
    frame_class cls;
    uint32_t abort_code;  // of an SDO abort found by the payload classification
    uint64_t soa_streak;  // value read from network 0 at the start of the frame
    bool v2;
    uint8_t source_mac[6];  // all zero when the frame is too short to carry one
};

// Adds the time from an earlier stamp to now. When the stamps run backwards
// (a capture merged out of order) there is no sample: a wrapped difference
// would poison sums and maxima, a zero the minima.
void add_elapsed(flowlens_timing *t, uint64_t now, uint64_t earlier, uint64_t frame_number) {
    if (now >= earlier) flowlens_timing_add(t, now - earlier, frame_number);
}

bool high_resolution(const flowlens_instance *instance) {
    return instance->effective_timemode == FLOWLENS_TIMEMODE_HIGH_RESOLUTION;
}

// Bytes of a frame kept for the duplicate test (none without data).
uint32_t stored_prefix(const flowlens_packet_info *packet) {
    if (packet->data == nullptr) return 0;
    return packet->captured_length < FLOWLENS_PREV_BYTES ? packet->captured_length : FLOWLENS_PREV_BYTES;
}

bool same_prefix(const flowlens_network &network, const flowlens_packet_info *packet) {
    uint32_t n = stored_prefix(packet);
    return network.prev_captured == n && (n == 0 || std::memcmp(network.prev_bytes, packet->data, n) == 0);
}

flowlens_event *event(frame_context &c, flowlens_event_id id) { return &c.network->events[id]; }

unsigned network_index(const frame_context &c) { return c.network == &c.instance->networks[1] ? 1 : 0; }

void report(frame_context &c, flowlens_event_id id) { flowlens_report(c.instance, event(c, id), nullptr); }

// Reports an event; while a PReq waits for its PRes the report names the node
// whose PRes is missing (or suspects a too short response timeout when the
// wait was shorter than that node's fastest answer so far).
void report_with_missing_pres(frame_context &c, flowlens_event_id id) {
    flowlens_network *n = c.network;
    if (n->phase != FLOWLENS_PHASE_WAIT_PRES) {
        report(c, id);
        return;
    }
    n->pres_missing_reported = 1;
    uint8_t target = n->last_preq_target;
    const flowlens_node &node = n->nodes[target];
    bool waited = c.now >= n->prev_time;
    uint64_t dt = waited ? c.now - n->prev_time : 0;
    bool too_early = waited && ((node.pres_latency.count > 0 && dt < node.pres_latency.min) ||
                                (node.asnd_latency.count > 0 && dt < node.asnd_latency.min));
    flowlens_report(c.instance, event(c, id), too_early ? MISSING_PRES_TIMEOUT : MISSING_PRES, target);
}

const uint8_t *source_mac(const frame_context &c) { return c.source_mac; }
const uint8_t *destination_mac(const frame_context &c) { return c.frame.data + ETH_DESTINATION; }
uint8_t epl(const frame_context &c, uint32_t offset) { return c.frame.u8(ETH_HEADER + offset); }

// Engine reset caused by a change of the network mode inside a frame.
void switch_network_mode(frame_context &c, uint8_t mode, bool move_port1_frame) {
    flowlens_reset(c.instance);
    c.instance->network_mode = mode;
    if (move_port1_frame && c.port == 1) c.network = &c.instance->networks[1];
}

// ---------------------------------------------------------------------------
// Steps before the cycle
// ---------------------------------------------------------------------------

bool is_duplicate(frame_context &c) {
    const flowlens_network &n = *c.network;
    const flowlens_packet_info *p = c.packet;
    return n.prev_time == c.now && n.prev_length == p->length && n.prev_flags == p->packet_flags &&
           c.soa_streak < SOA_STREAK_DUPLICATE_LIMIT && n.duplicates_in_a_row >= 0 && same_prefix(n, p);
}

// Two-port bookkeeping (high resolution only): port switch time, detection of
// the same network on both ports, and the per-port packet interval.
void two_port_bookkeeping(frame_context &c) {
    flowlens_instance *inst = c.instance;
    if (c.port != inst->last_port) {
        flowlens_network &net0 = inst->networks[0];
        if (inst->last_port == 0) add_elapsed(&inst->port_switch, c.now, net0.prev_time, c.packet->frame_number);
        if (inst->network_mode == FLOWLENS_NETWORK_MODE_SINGLE && net0.prev_length == c.packet->length &&
            same_prefix(net0, c.packet)) {
            // This frame stays on network 0; later port-1 frames go to network 1.
            switch_network_mode(c, FLOWLENS_NETWORK_MODE_EQUAL, false);
            c.network = &inst->networks[0];
            flowlens_report(inst, &inst->networks[0].events[FLOWLENS_EV_TWO_NETWORKS_EQUAL], nullptr);
        }
    }
    flowlens_network &own = inst->networks[c.port];
    if (own.port_last_frame_time != 0)
        add_elapsed(&own.packet_interval, c.now, own.port_last_frame_time, c.packet->frame_number);
    own.port_last_frame_time = c.now;
}

void capture_error_flags(frame_context &c) {
    uint32_t flags = c.packet->packet_flags;
    if (flags & FLOWLENS_FLAG_FRAMES_LOST) {
        report(c, FLOWLENS_EV_CAPTURE_DROPPED);
        c.network->phase = FLOWLENS_PHASE_UNKNOWN;
    }
    if (flags & FLOWLENS_FLAG_CRC_ERROR) {
        report(c, FLOWLENS_EV_CRC);
        c.cls |= FLOWLENS_CLASS_CRC_ERROR;
    }
    if (flags & FLOWLENS_FLAG_NOISE) {
        report(c, FLOWLENS_EV_FRAME_FORMAT);
        c.cls |= FLOWLENS_CLASS_NOISE_ERROR;
    }
    if (flags & FLOWLENS_FLAG_RUNT) {
        report(c, FLOWLENS_EV_RUNT);
        c.cls |= FLOWLENS_CLASS_SHORT_FRAME;
    }
    if (flags & FLOWLENS_FLAG_OVERSIZE) {
        report(c, FLOWLENS_EV_OVERSIZE);
        c.cls |= FLOWLENS_CLASS_OVERSIZE;
    }
}

// Adds the payload classification to the frame's classes and sends its
// informational text.
void classify_payload(frame_context &c, flowlens_payload_mode mode) {
    flowlens_message_buffer message;
    const flowlens_classification result = flowlens_classify_payload(c.instance, c.network, c.frame, mode, &message);
    c.cls |= result.cls;
    c.abort_code = result.abort_code;
    if (result.message != nullptr) flowlens_inform(c.instance, result.message);
}

void classify_by_ethertype(frame_context &c) {
    if (c.frame.size < ETH_HEADER) {
        c.cls |= FLOWLENS_CLASS_NOT_POWERLINK;
        return;
    }
    switch (c.frame.be16(ETH_TYPE)) {
    case ETHERTYPE_IPV4:
        classify_payload(c, flowlens_payload_mode::udp);
        c.cls |= FLOWLENS_CLASS_NOT_POWERLINK;
        break;
    case ETHERTYPE_PLK_V1: c.cls |= FLOWLENS_CLASS_V1; break;
    case ETHERTYPE_PLK_V2:
        classify_payload(c, flowlens_payload_mode::ethernet);
        c.cls |= FLOWLENS_CLASS_V2;
        break;
    default: c.cls |= FLOWLENS_CLASS_NOT_POWERLINK; break;
    }
}

// ---------------------------------------------------------------------------
// Message types
// ---------------------------------------------------------------------------

uint32_t soc_time_value(const frame_context &c) {
    if (!c.v2) return c.frame.size >= MIN_V1_SOC_TIME ? c.frame.le32(ETH_HEADER + EPL_V1_SOC_NETTIME) : 0;
    return c.frame.size >= MIN_V2_SOC_TIME ? c.frame.le32(ETH_HEADER + EPL_SOC_RELATIVE_TIME) : 0;
}

void measure_cycle(frame_context &c, uint32_t delta) {
    flowlens_network *n = c.network;
    if (c.now < n->last_soc_time) return;  // stamps out of order: no cycle to measure
    uint64_t cycle = c.now - n->last_soc_time;
    uint64_t k = n->cycle_time.count;
    if (k > 0 && cycle > (n->cycle_time.sum * OUTLIER_FACTOR_TENTHS) / (k * 10)) {
        n->cycle_outliers += 1;
        n->cycle_outlier_frame = c.packet->frame_number;
        return;
    }
    flowlens_timing_add(&n->cycle_time, cycle, c.packet->frame_number);
    if (!high_resolution(c.instance) || delta == 0) return;
    int64_t nominal_ns = int64_t(delta) * 1000;
    int64_t difference = int64_t(cycle) - nominal_ns;
    if (difference < 0) difference = -difference;
    int64_t deviation = difference / int64_t(delta);
    if (deviation > DEVIATION_5_PERMILLE) report(c, FLOWLENS_EV_DEVIATION_5);
    if (deviation > DEVIATION_10_PERMILLE) report(c, FLOWLENS_EV_DEVIATION_10);
}

// Whether the cycle that just ended lost a PRes of the cycle before. A PRes
// that answers a PReq is judged against that PReq: when the MN polled fewer
// nodes, the answers of the nodes it left out are not lost, and a PReq left
// unanswered is named by the missing-PRes detail of the frame after it. What
// counts is the number of PRes beyond the PReqs (the MN's own PRes, CNs that
// answer without a PReq): fewer of them than in the cycle before is a loss.
bool pres_lost(const flowlens_network &n) {
    int unpolled_this = int(n.pres_this_cycle) - int(n.preq_this_cycle);
    int unpolled_previous = int(n.pres_previous_cycle) - int(n.preq_previous_cycle);
    return unpolled_this < unpolled_previous;
}

// An informational message of its own (not through flowlens_inform: its
// text carries no trailing blank).
void note_multiple_asnd(frame_context &c) {
    flowlens_instance *inst = c.instance;
    char message[MULTIPLE_ASND_TEXT_SIZE];
    std::snprintf(message, sizeof message, MULTIPLE_ASND, int(c.network->async_in_slot));
    if (inst->samples != nullptr) inst->samples->add_message(network_index(c), c.packet->frame_number, 0, message);
    if (inst->callback == nullptr) return;
    char text[MULTIPLE_ASND_TEXT_SIZE + 32];
    std::snprintf(text, sizeof text, "Powerlink: Packet #%07llu - %s",
                  static_cast<unsigned long long>(c.packet->frame_number), message);
    inst->callback(inst->callback_context, 0, 0, text, 0);
}

// The SoC as a cycle sample: the time since the network's previous SoC (none
// for its first SoC, or when the stamps ran backwards).
void sample_soc(frame_context &c) {
    flowlens_cycle_samples *samples = c.instance->samples;
    if (samples == nullptr) return;
    const flowlens_network *n = c.network;
    uint64_t cycle = n->counts.soc > 1 && c.now >= n->last_soc_time ? c.now - n->last_soc_time : 0;
    samples->add_cycle(network_index(c), c.packet->frame_number, c.now, cycle, n->nominal_cycle_time);
}

// An SoC in the isochronous phase is unexpected; every SoC is counted and
// must go to the SoC multicast address (V2).
void count_soc(frame_context &c, bool warm) {
    flowlens_network *n = c.network;
    if ((n->phase == FLOWLENS_PHASE_ISOCHRONOUS || n->phase == FLOWLENS_PHASE_WAIT_PRES) && !warm)
        report_with_missing_pres(c, FLOWLENS_EV_UNEXPECTED_SOC);
    n->counts.soc += 1;
    c.cls |= FLOWLENS_CLASS_CYCLIC;
    if (c.v2 && !c.frame.equals(ETH_DESTINATION, MAC_SOC, MAC_SIZE))
        report_with_missing_pres(c, FLOWLENS_EV_DESTINATION_MAC_INVALID);
}

// The cycle the SoC closes: its measured time (delta, 0 when the clock
// stepped back), a missing SoA or PRes, and the PReq/PRes counts carried over
// into the new cycle.
void close_cycle(frame_context &c, bool warm, uint32_t cycle_time) {
    flowlens_network *n = c.network;
    if (n->counts.soc > 1 && n->phase != FLOWLENS_PHASE_UNKNOWN) {
        if (!warm) {
            measure_cycle(c, cycle_time);
            if (!n->soa_seen) {
                report(c, FLOWLENS_EV_LOSS_OF_SOA);
                c.cls |= FLOWLENS_CLASS_SOA_LOSS;
            }
            if (pres_lost(*n) && !n->pres_missing_reported) report(c, FLOWLENS_EV_LOSS_OF_PRES);
        }
        n->pres_previous_cycle = n->pres_this_cycle;
        n->preq_previous_cycle = n->preq_this_cycle;
    } else {
        n->pres_previous_cycle = 0;
        n->preq_previous_cycle = 0;
    }
    n->pres_missing_reported = 0;
    n->pres_this_cycle = 0;
    n->preq_this_cycle = 0;
}

// Another sender than the previous SoC's, on the same port or after an SoA
// that announced a change: a redundancy switch-over.
void check_soc_mac(frame_context &c) {
    const flowlens_network *n = c.network;
    if (n->soc_mac[0] != 0xFF && std::memcmp(n->soc_mac, source_mac(c), MAC_SIZE) != 0 &&
        (n->soc_port == c.port || (n->soa_byte9 & 1) != 0)) {
        report(c, FLOWLENS_EV_SOC_MAC_CHANGED);
        c.cls |= FLOWLENS_CLASS_SOC_MAC_CHANGED;
    }
}

// A time step between the SoCs other than the nominal cycle time becomes the
// new nominal cycle time; a longer one, once the time values are reliable,
// means SoCs were lost.
void update_nominal_cycle_time(frame_context &c, uint32_t delta, bool time_went_back) {
    flowlens_network *n = c.network;
    if (delta == n->nominal_cycle_time || n->phase == FLOWLENS_PHASE_UNKNOWN ||
        (c.cls & FLOWLENS_CLASS_SOC_MAC_CHANGED) || time_went_back)
        return;
    if (n->counts.soc > 2 && n->relative_time_established && delta > n->nominal_cycle_time &&
        n->socs_with_time_in_a_row > 2) {
        flowlens_report(c.instance, event(c, FLOWLENS_EV_LOSS_OF_SOC), "  (Unexpected change = %d us)", int(delta));
        c.cls |= FLOWLENS_CLASS_SOC_LOSS;
    }
    n->nominal_cycle_time = delta;
}

// Cycle measurement from the SoC's RelativeTime (V1: NetTime) against the
// previous SoC's.
void measure_soc_cycle(frame_context &c, bool warm) {
    flowlens_network *n = c.network;
    uint32_t value = soc_time_value(c);
    if (value != 0)
        n->socs_with_time_in_a_row += 1;
    else
        n->socs_with_time_in_a_row = 0;
    uint32_t delta = value - n->last_soc_time_value;  // modulo 2^32 across a wrap
    // A RelativeTime that went back (a gap in the capture, an MN restart) is
    // a clock step, not a huge cycle: it is no loss of SoCs, no nominal cycle
    // time and no cycle to compare with.
    bool time_went_back = int32_t(delta) < 0;
    if (value != 0 && !warm) {
        if (n->relative_time_count < 2) n->relative_time_count += 1;
        if (n->relative_time_count == 2) n->relative_time_established = 1;
    }
    close_cycle(c, warm, time_went_back ? 0 : delta);
    n->last_soc_time_value = value;
    check_soc_mac(c);
    update_nominal_cycle_time(c, delta, time_went_back);
}

// Two networks: the offset between this SoC and the other network's nearer
// one (negative when network 1 leads).
void time_network_offset(frame_context &c) {
    flowlens_instance *inst = c.instance;
    const flowlens_network *n = c.network;
    if (inst->network_mode == FLOWLENS_NETWORK_MODE_SINGLE || n->counts.soc <= 1) return;
    const flowlens_network &other = inst->networks[n == &inst->networks[0] ? 1 : 0];
    int64_t o = int64_t(other.last_soc_time);
    int64_t d = int64_t(c.now) - o;
    int64_t e = o - int64_t(n->last_soc_time);
    if (d >= e) return;
    int64_t offset = (n == &inst->networks[0]) ? -d : d;
    flowlens_signed_timing &t = inst->network_offset;
    t.count += 1;
    t.sum += offset;
    if (offset < t.min) {
        t.min = offset;
        t.min_frame = c.packet->frame_number;
    }
    if (offset > t.max) {
        t.max = offset;
        t.max_frame = c.packet->frame_number;
    }
}

// High-resolution time stamps: SoA to SoC and the idle time before the SoC,
// the offset to a second network, and a second network recognised by another
// SoC sender (false: the frame belongs to the new network now).
bool time_soc_high_resolution(frame_context &c, bool warm) {
    flowlens_instance *inst = c.instance;
    flowlens_network *n = c.network;
    if (n->soa_seen && !warm) {
        add_elapsed(&n->soa_to_soc, c.now, n->last_soa_time, c.packet->frame_number);
        // Idle time on the wire before this SoC: the previous frame's
        // transmission and the inter-frame gap are not idle.
        int64_t idle = int64_t(c.now) - int64_t(int16_t(n->prev_length)) * NS_PER_BYTE - int64_t(n->prev_time) -
                       INTER_FRAME_GAP_NS;
        if (idle >= 0) flowlens_timing_add(&n->async_idle, uint64_t(idle), c.packet->frame_number);
    }
    time_network_offset(c);
    if (inst->network_mode != FLOWLENS_NETWORK_MODE_SINGLE) return true;
    if (inst->first_soc_mac[0] != 0xFF && !(c.cls & FLOWLENS_CLASS_SOC_MAC_CHANGED) &&
        std::memcmp(inst->first_soc_mac, source_mac(c), MAC_SIZE) != 0) {
        switch_network_mode(c, FLOWLENS_NETWORK_MODE_DIFFERENT, true);
        flowlens_report(inst, &inst->networks[0].events[FLOWLENS_EV_TWO_NETWORKS_DIFFERENT], nullptr);
        return false;
    }
    std::memcpy(inst->first_soc_mac, source_mac(c), MAC_SIZE);
    return true;
}

// The SoC closes the asynchronous slot of the previous cycle (free when
// nothing was sent in it) and starts the isochronous phase.
void close_slot(frame_context &c) {
    flowlens_network *n = c.network;
    if (n->soa_seen && n->async_in_slot == 0) n->slots.free_slots += 1;
    if (n->async_in_slot > n->async_in_slot_max) {
        n->async_in_slot_max = n->async_in_slot;
        if (n->async_in_slot > 1) note_multiple_asnd(c);
    }
    sample_soc(c);
    std::memcpy(n->soc_mac, source_mac(c), MAC_SIZE);
    n->last_soc_time = c.now;
    n->soa_seen = 0;
    n->soc_lost = 0;
    n->soc_port = c.port;
    c.instance->last_preq_flags = 0;
    n->phase = FLOWLENS_PHASE_ISOCHRONOUS;
}

// Returns early (false) when the frame revealed a second network: the analysis
// then continues directly with the common steps on the frame's new network.
bool handle_soc(frame_context &c) {
    bool warm = c.network->warm_up != 0;
    count_soc(c, warm);
    measure_soc_cycle(c, warm);
    if (high_resolution(c.instance) && !time_soc_high_resolution(c, warm)) return false;
    close_slot(c);
    return true;
}

void handle_preq(frame_context &c) {
    flowlens_network *n = c.network;
    c.cls |= FLOWLENS_CLASS_CYCLIC | FLOWLENS_CLASS_PREQ;
    if (n->phase == FLOWLENS_PHASE_ASYNC) {
        report(c, FLOWLENS_EV_LOSS_OF_SOC);
        n->soc_lost = 1;
        n->soa_seen = 0;
        n->pres_this_cycle = 0;
        n->preq_this_cycle = 0;
        n->last_soc_time_value += n->nominal_cycle_time;
        c.cls |= FLOWLENS_CLASS_SOC_LOSS;
    } else if (n->phase == FLOWLENS_PHASE_WAIT_PRES) {
        report_with_missing_pres(c, FLOWLENS_EV_UNEXPECTED_PREQ);
    }
    uint8_t target = epl(c, EPL_DESTINATION);
    const flowlens_node &node = n->nodes[target];
    if (node.mac_known && c.v2 && std::memcmp(node.mac, destination_mac(c), MAC_SIZE) != 0)
        report_with_missing_pres(c, FLOWLENS_EV_DESTINATION_MAC_INVALID);
    if (high_resolution(c.instance) && n->counts.soc > 0 && target >= 1 && target < FLOWLENS_MN_NODE && !n->soc_lost)
        add_elapsed(&n->nodes[target].preq_position, c.now, n->last_soc_time, c.packet->frame_number);
    c.instance->last_preq_flags = epl(c, EPL_FLAGS);
    // Multiplexed PReqs poll a node only every few cycles; like their PRes
    // they do not count.
    if (!(c.instance->last_preq_flags & FLAG_MULTIPLEXED) && n->preq_this_cycle < UINT16_MAX) n->preq_this_cycle += 1;
    n->last_preq_target = target;
    n->counts.preq += 1;
    n->last_preq_time = c.now;
    n->last_preq_frame = c.packet->frame_number;
    n->phase = FLOWLENS_PHASE_WAIT_PRES;
}

void handle_pres(frame_context &c) {
    flowlens_network *n = c.network;
    c.cls |= FLOWLENS_CLASS_CYCLIC | FLOWLENS_CLASS_PRES;
    uint8_t source = epl(c, EPL_SOURCE);
    if (c.cls & FLOWLENS_CLASS_INVALID_NMT_STATE) report(c, FLOWLENS_EV_INVALID_NMT_STATE);
    if (c.cls & FLOWLENS_CLASS_FLS_SLS_CHANGED) report(c, FLOWLENS_EV_FLS_SLS_CHANGED);
    if (c.v2 && !c.frame.equals(ETH_DESTINATION, MAC_PRES, MAC_SIZE))
        report_with_missing_pres(c, FLOWLENS_EV_DESTINATION_MAC_INVALID);
    if (n->phase == FLOWLENS_PHASE_WAIT_PRES && source != n->last_preq_target)
        report_with_missing_pres(c, FLOWLENS_EV_UNEXPECTED_PRES);
    else if (n->phase == FLOWLENS_PHASE_ASYNC)
        report(c, FLOWLENS_EV_UNEXPECTED_PRES);

    // Multiplexed PRes (own flag, or answering a multiplexed PReq) are not
    // expected every cycle, so they do not count towards PRes loss.
    bool multiplexed = (epl(c, EPL_FLAGS) & FLAG_MULTIPLEXED) != 0 ||
                       (source == n->last_preq_target && (c.instance->last_preq_flags & FLAG_MULTIPLEXED) != 0);
    if (!multiplexed && n->pres_this_cycle < UINT16_MAX) n->pres_this_cycle += 1;

    if (high_resolution(c.instance) && n->counts.soc > 0) {
        if (source == FLOWLENS_MN_NODE) {
            add_elapsed(&n->nodes[0].preq_position, c.now, n->last_soc_time, c.packet->frame_number);
            n->last_preq_time = c.now;
            n->last_preq_target = 255;
        } else if (source == n->last_preq_target || n->last_preq_target == 255) {
            add_elapsed(&n->nodes[source].pres_latency, c.now, n->last_preq_time, c.packet->frame_number);
        }
    }
    n->counts.pres += 1;
    n->phase = FLOWLENS_PHASE_ISOCHRONOUS;

    if (c.v2 && c.frame.size >= MIN_PRES_SIZE) {
        flowlens_node &node = n->nodes[source];
        int room = int(c.packet->length) - PRES_HEADER_AND_CRC;
        if (room < int(c.frame.le16(ETH_HEADER + EPL_PDO_SIZE))) {
            if (!node.frame_too_short) report(c, FLOWLENS_EV_FRAME_TOO_SHORT);
            node.frame_too_short = 1;
        } else {
            node.frame_too_short = 0;
        }
    }
}

// SoA, V1 EndCyclic and V1 AsyncInvite.
void handle_soa_common(frame_context &c, bool v1_async_invite) {
    flowlens_network *n = c.network;
    n->counts.soa += 1;
    n->async_in_slot = 0;
    if (n->counts.soc == 0) std::memcpy(n->soc_mac, source_mac(c), MAC_SIZE);
    c.cls |= FLOWLENS_CLASS_ASYNC_OPEN;
    if (v1_async_invite) return;
    if ((c.cls & FLOWLENS_CLASS_V2) && (c.cls & FLOWLENS_CLASS_SOA)) n->soa_streak = c.soa_streak + 1;
    if (!n->warm_up) {
        if (n->phase == FLOWLENS_PHASE_WAIT_PRES || n->phase == FLOWLENS_PHASE_ASYNC) {
            if (c.cls & FLOWLENS_CLASS_REDUCED_CYCLE) {
                n->soa_seen = 0;
                n->pres_missing_reported = 1;
                n->warm_up = 1;
                n->relative_time_established = 0;
                n->relative_time_count = 0;
                n->pres_previous_cycle = 0;
                n->pres_this_cycle = 0;
                n->preq_previous_cycle = 0;
                n->preq_this_cycle = 0;
                report_with_missing_pres(c, FLOWLENS_EV_FALLBACK_REDUCED);
            } else {
                report_with_missing_pres(c, FLOWLENS_EV_UNEXPECTED_SOA);
            }
        }
        if (n->counts.soa > 0 && n->counts.soc > 0 && n->soa_seen) {
            report(c, FLOWLENS_EV_LOSS_OF_SOC);
            c.cls |= FLOWLENS_CLASS_SOC_LOSS;
            n->pres_this_cycle = 0;
            n->preq_this_cycle = 0;
            n->pres_missing_reported = 1;
        }
    }
    n->last_soa_time = c.now;
    n->soa_seen = 1;
    n->phase = FLOWLENS_PHASE_ASYNC;
}

void handle_soa(frame_context &c) {
    c.network->soa_byte9 = epl(c, EPL_SOA_BYTE9);
    if (c.v2 && !c.frame.equals(ETH_DESTINATION, MAC_SOA, MAC_SIZE))
        report_with_missing_pres(c, FLOWLENS_EV_DESTINATION_MAC_INVALID);
    handle_soa_common(c, !c.v2);
}

void handle_ainv(frame_context &c) {
    flowlens_network *n = c.network;
    n->counts.ainv += 1;
    c.cls |= FLOWLENS_CLASS_ASYNC_OPEN | FLOWLENS_CLASS_AINV;
    if ((n->phase == FLOWLENS_PHASE_ISOCHRONOUS || n->phase == FLOWLENS_PHASE_WAIT_PRES) && !n->warm_up)
        report_with_missing_pres(c, FLOWLENS_EV_UNEXPECTED_AINV);
    n->phase = FLOWLENS_PHASE_ASYNC;
}

void handle_asnd(frame_context &c) {
    flowlens_network *n = c.network;
    n->counts.asnd += 1;
    c.cls |= FLOWLENS_CLASS_ASND;
    flowlens_node &node = n->nodes[epl(c, EPL_SOURCE)];
    if (c.cls & FLOWLENS_CLASS_STATUS_RESPONSE) {
        if (c.packet->length < STATUS_RESPONSE_MIN_LENGTH) report(c, FLOWLENS_EV_STATUS_RESPONSE_SHORT);
    } else {
        node.asnd += 1;
    }
    // The ASnd directly after the SoA measures the invited node's latency.
    if (high_resolution(c.instance) && n->counts.soa > 0 && n->prev_time == n->last_soa_time)
        add_elapsed(&node.asnd_latency, c.now, n->prev_time, c.packet->frame_number);
}

bool is_cn(uint8_t node) { return node >= 1 && node < FLOWLENS_MN_NODE; }

// While the network waits for a CN's PRes, the cycle frame that comes next
// either answers it (a response sample) or shows that the MN went on without
// it (a late answer). Other frames (ASnd, other protocols) leave it waiting.
void sample_response(frame_context &c, uint8_t message_type, uint8_t source) {
    flowlens_network *n = c.network;
    flowlens_cycle_samples *samples = c.instance->samples;
    uint8_t target = n->last_preq_target;
    if (samples == nullptr || n->phase != FLOWLENS_PHASE_WAIT_PRES || !is_cn(target)) return;
    switch (message_type) {
    case MTYP_PRES:
        if (source != target) break;
        if (c.now >= n->last_preq_time)
            samples->add_response(network_index(c), target, n->last_preq_frame, c.packet->frame_number, c.now,
                                  c.now - n->last_preq_time);
        return;
    case MTYP_SOC:
    case MTYP_PREQ:
    case MTYP_SOA:
    case MTYP_AINV:
    case MTYP_V1_END_CYCLIC: break;
    default: return;
    }
    samples->add_late(network_index(c), target);
}

void powerlink_cycle(frame_context &c) {
    flowlens_network *n = c.network;
    uint8_t source = epl(c, EPL_SOURCE);
    flowlens_node &node = n->nodes[source];
    sample_response(c, epl(c, EPL_MESSAGE_TYPE) & 0x7F, source);
    node.frames += 1;
    if (node.mac_known && std::memcmp(node.mac, source_mac(c), MAC_SIZE) != 0)
        report_with_missing_pres(c, FLOWLENS_EV_SOURCE_MAC_CHANGED);
    std::memcpy(node.mac, source_mac(c), MAC_SIZE);
    node.mac_known = 1;
    n->counts.powerlink += 1;

    switch (epl(c, EPL_MESSAGE_TYPE) & 0x7F) {
    case MTYP_SOC:
        handle_soc(c);  // a second network found by the SoC ends its steps early
        break;
    case MTYP_V1_END_CYCLIC: handle_soa_common(c, false); break;
    case MTYP_PREQ: handle_preq(c); break;
    case MTYP_PRES: handle_pres(c); break;
    case MTYP_SOA: handle_soa(c); break;
    case MTYP_ASND: handle_asnd(c); break;
    case MTYP_AINV: handle_ainv(c); break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// Steps after the message type
// ---------------------------------------------------------------------------

void report_async_expected(frame_context &c) {
    flowlens_network *n = c.network;
    if (n->prev_captured < MIN_INVITED_NODE) {
        report(c, FLOWLENS_EV_ASYNC_EXPECTED);
        return;
    }
    uint8_t invited = n->prev_bytes[ETH_HEADER + EPL_SOA_TARGET];
    if (invited >= FLOWLENS_MN_NODE) {
        // The MN inviting itself is noted once per reset.
        if (n->mn_invite_noted) return;
        n->mn_invite_noted = 1;
    }
    flowlens_report(c.instance, event(c, FLOWLENS_EV_ASYNC_EXPECTED), " from Node %3d", int(invited));
}

// Counts an asynchronous frame in the current slot. Only ASnd and other
// protocols' frames occupy the slot: the next SoA or SoC right behind an
// empty slot must leave it empty (free, and no "Multiple ASnd" for one frame).
void count_in_slot(frame_context &c) {
    flowlens_network *n = c.network;
    bool from_mn = std::memcmp(source_mac(c), n->soc_mac, MAC_SIZE) == 0;
    if (c.cls & FLOWLENS_CLASS_ASND) {
        if (from_mn)
            n->slots.asnd_from_mn += 1;
        else
            n->slots.asnd_from_cn += 1;
    } else if (c.cls & FLOWLENS_CLASS_NOT_POWERLINK) {
        if (from_mn)
            n->slots.other_from_mn += 1;
        else
            n->slots.other_from_cn += 1;
    } else {
        return;
    }
    if (n->counts.soa > 0 && n->async_in_slot < UINT16_MAX) n->async_in_slot += 1;
}

void report_misplaced(frame_context &c) {
    const uint8_t *m = source_mac(c);
    flowlens_event *misplaced = &c.network->slots.misplaced;
    if (c.cls & FLOWLENS_CLASS_ASND) {
        flowlens_report(c.instance, misplaced, " from Node %03d (MAC %02X:%02X:%02X:%02X:%02X:%02X)",
                        int(epl(c, EPL_SOURCE)), m[0], m[1], m[2], m[3], m[4], m[5]);
    } else if (c.frame.size >= MIN_MISPLACED_IP && c.frame.be16(ETH_TYPE) == ETHERTYPE_IPV4) {
        const uint8_t *ip = c.frame.data + FRAME_IP_SOURCE;
        flowlens_report(c.instance, misplaced, " (IP %d.%d.%d.%d) (MAC %02X:%02X:%02X:%02X:%02X:%02X)", ip[0], ip[1],
                        ip[2], ip[3], m[0], m[1], m[2], m[3], m[4], m[5]);
    } else {
        flowlens_report(c.instance, misplaced, " (MAC %02X:%02X:%02X:%02X:%02X:%02X)", m[0], m[1], m[2], m[3], m[4],
                        m[5]);
    }
}

void slot_accounting(frame_context &c) {
    flowlens_network *n = c.network;
    if (n->prev_class & FLOWLENS_CLASS_ASYNC_OPEN) {
        count_in_slot(c);
        return;
    }
    const frame_class async_kinds = FLOWLENS_CLASS_ASND | FLOWLENS_CLASS_NOT_POWERLINK;
    if ((n->all_classes & FLOWLENS_CLASS_CYCLIC) && (c.cls & async_kinds) && !(c.cls & FLOWLENS_CLASS_CRC_ERROR)) {
        if ((n->prev_class & async_kinds) && n->phase == FLOWLENS_PHASE_ASYNC) {
            count_in_slot(c);
        } else {
            c.cls |= FLOWLENS_CLASS_MISPLACED;
            report_misplaced(c);
        }
    }
}

void common_steps(frame_context &c) {
    flowlens_network *n = c.network;
    if (c.cls & FLOWLENS_CLASS_INVITE_WITHOUT_REQUEST) report(c, FLOWLENS_EV_INVITE_WITHOUT_REQUEST);
    if (c.cls & FLOWLENS_CLASS_DUMP_LOST) report(c, FLOWLENS_EV_FRAMES_LOST);
    if (c.cls & FLOWLENS_CLASS_CYCLIC) n->warm_up = 0;
    if (c.cls & FLOWLENS_CLASS_ASYNC_OPEN) {
        if (c.cls & FLOWLENS_CLASS_AINV)
            n->slots.ainv_slots += 1;
        else
            n->slots.soa_slots += 1;
    }
    if ((n->prev_class & FLOWLENS_CLASS_INVITATION) &&
        (c.cls & (FLOWLENS_CLASS_SOA | FLOWLENS_CLASS_AINV | FLOWLENS_CLASS_CYCLIC)))
        report_async_expected(c);
    if ((n->prev_class & FLOWLENS_CLASS_PRES) && (c.cls & FLOWLENS_CLASS_PREQ))
        add_elapsed(&n->pres_to_preq, c.now, n->prev_time, c.packet->frame_number);
    slot_accounting(c);

    // Frames with a CRC error are not kept as the previous frame: their
    // bytes cannot be trusted for duplicate or idle detection.
    if (!(c.packet->packet_flags & FLOWLENS_FLAG_CRC_ERROR)) {
        uint32_t stored = stored_prefix(c.packet);
        n->prev_time = c.now;
        n->prev_length = c.packet->length;
        n->prev_flags = c.packet->packet_flags;
        n->prev_captured = uint16_t(stored);
        // Nearly every frame fills the whole prefix: one fixed-size copy.
        if (stored == sizeof n->prev_bytes) {
            std::memcpy(n->prev_bytes, c.packet->data, sizeof n->prev_bytes);
        } else {
            std::memset(n->prev_bytes, 0, sizeof n->prev_bytes);
            if (stored != 0) std::memcpy(n->prev_bytes, c.packet->data, stored);
        }
    }
    n->all_classes |= c.cls;
    n->prev_class = c.cls;
}

}  // namespace

void flowlens_process_packet(flowlens_instance *instance, const flowlens_packet_info *packet) {
    if (instance == nullptr || packet == nullptr) return;
    frame_context c{};
    c.instance = instance;
    c.packet = packet;
    c.frame = flowlens_bytes{packet->data, packet->data ? packet->captured_length : 0u};
    c.now = packet->time;
    c.port = packet->port > 1 ? 1 : packet->port;
    if (c.frame.has(ETH_SOURCE, MAC_SIZE)) std::memcpy(c.source_mac, c.frame.data + ETH_SOURCE, MAC_SIZE);
    instance->current_frame_number = packet->frame_number;
    instance->current_time = packet->time;
    c.network = flowlens_network_of_port(instance, c.port);

    flowlens_network &net0 = instance->networks[0];
    c.soa_streak = net0.soa_streak;
    net0.soa_streak = 0;

    if (is_duplicate(c)) {
        if (c.network->duplicates_in_a_row == 0) report(c, FLOWLENS_EV_DUPLICATES);
        // Saturates: a run of two billion duplicates must not wrap the counter.
        if (c.network->duplicates_in_a_row < INT32_MAX) c.network->duplicates_in_a_row += 1;
        instance->duplicates += 1;
        return;
    }
    if (high_resolution(instance)) two_port_bookkeeping(c);
    instance->last_port = c.port;
    if (instance->effective_timemode == FLOWLENS_TIMEMODE_DETECT && c.now % 100 != 0)
        instance->effective_timemode = FLOWLENS_TIMEMODE_HIGH_RESOLUTION;

    c.network->duplicates_in_a_row = 0;
    if (packet->frame_number == 0 && instance->last_analysed_frame != UINT64_MAX) {
        instance->duplicates += 1;
        return;
    }
    instance->last_analysed_frame = packet->frame_number;

    capture_error_flags(c);
    classify_by_ethertype(c);
    c.v2 = (c.cls & FLOWLENS_CLASS_V2) != 0;

    if ((c.cls & FLOWLENS_CLASS_LANYX) && instance->network_mode != FLOWLENS_NETWORK_MODE_DIFFERENT)
        switch_network_mode(c, FLOWLENS_NETWORK_MODE_DIFFERENT, true);

    if (c.cls & FLOWLENS_CLASS_SDO_ABORT) {
        if (c.abort_code != 0)
            flowlens_report(instance, &c.network->slots.sdo_abort, " Code 0x%08X %s", c.abort_code,
                            abort_code_text(c.abort_code));
        else
            flowlens_report(instance, &c.network->slots.sdo_abort, nullptr);
    }

    if ((c.cls & (FLOWLENS_CLASS_V1 | FLOWLENS_CLASS_V2)) && c.frame.size >= MIN_CYCLE_FRAME) powerlink_cycle(c);
    common_steps(c);
}
