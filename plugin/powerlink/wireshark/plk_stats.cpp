// "Zelmar/POWERLINK" (-z zel_epl,tree): the engine's frame counts per
// message type, the cycle time, the asynchronous slots, and with analyzer
// time stamps per-port and per-node latencies. Reads the engine only.
#include "plk_stats.h"

#include <epan/prefs.h>
#include <epan/prefs-int.h>
#include <glib.h>

#include <cstdio>

#include "flowlens.h"
#include "plk_analyzer.h"
#include "protocol.h"

namespace {

enum unit_index {
    UNIT_AVERAGE,
    UNIT_PACKET_INTERVAL,
    UNIT_SOA_TO_SOC,
    UNIT_ASYNC_IDLE,
    UNIT_PRES_TO_PREQ,
    UNIT_PREQ_POSITION,
    UNIT_PRES_LATENCY,
    UNIT_ASND_LATENCY,
    UNIT_COUNT
};

const char *const label_formats[UNIT_COUNT] = {
    "Average in %s",      "Packet Interval in %s", "SoA -> SoC in %s",   "Async idle in %s",
    "PRes -> PReq in %s", "PReq Pos in %s",        "PRes latency in %s", "ASnd latency in %s",
};

constexpr int PORTS = 2;
constexpr size_t LABEL_SIZE = 64;
constexpr size_t NODE_LABEL_SIZE = 7;  // "MN 240" / "CN 001" and the terminator

// Divisors from nanoseconds: 1 until the first tap reset, then 1000 (us).
uint64_t divisors[UNIT_COUNT] = {1, 1, 1, 1, 1, 1, 1, 1};

int count_node = -1;
int cycle_node = -1;
int async_node = -1;
int plk_asnd_pivot = -1;
int other_protocols_pivot = -1;
int total_slots_pivot = -1;
int high_resolution_node = -1;
int port_pivots[PORTS] = {-1, -1};

// The eleven last-value cells.
uint64_t last_powerlink_frames = 0;
uint64_t last_packet_interval_sum[PORTS];
uint64_t last_soa_to_soc_sum[PORTS];
uint64_t last_async_idle_sum[PORTS];
uint64_t last_pres_to_preq_count[PORTS];
uint64_t last_pres_to_preq_sum[PORTS];

struct node_slot {
    int pivot;
    // The pivot's name, kept in the slot itself: the statistics tree copies
    // it, and a slot outlives every file, so it must not point into memory of
    // a file that is gone.
    char label[NODE_LABEL_SIZE];
    uint64_t last_preq_position;
    uint64_t last_pres_latency;
    uint64_t last_asnd_latency;
};
node_slot node_slots[PORTS][FLOWLENS_NODES];

const char *unit_label(unit_index unit) { return divisors[unit] == 1000 ? "us" : "ns"; }

int as_int(uint64_t value) { return int(gint32(value)); }

void set(stats_tree *st, const char *name, int parent, uint64_t value) {
    stats_tree_manip_node_int(MN_SET, st, name, parent, FALSE, as_int(value));
}

void average(stats_tree *st, const char *name, int parent, uint64_t value) {
    stats_tree_manip_node_int(MN_AVERAGE, st, name, parent, FALSE, as_int(value));
}

void clear_node_slots(void) {
    for (auto &port : node_slots)
        for (node_slot &slot : port) {
            slot.pivot = -1;
            slot.last_preq_position = slot.last_pres_latency = slot.last_asnd_latency = 0;
        }
}

void count_part(stats_tree *st, const flowlens_instance *in) {
    const flowlens_network *network = flowlens_port_network(in, 0);
    if (network == NULL) return;
    const flowlens_frame_counters *counts = &network->counts;
    const uint64_t frames = plk_last_processed_frame();
    set(st, "Count", 0, frames);
    set(st, "SoC", count_node, counts->soc);
    set(st, "PReq", count_node, counts->preq);
    set(st, "PRes", count_node, counts->pres);
    set(st, "SoA", count_node, counts->soa);
    set(st, "AInv", count_node, counts->ainv);
    set(st, "ASnd", count_node, counts->asnd);
    set(st, "Other", count_node, frames - counts->powerlink);
}

void cycle_part(stats_tree *st, const flowlens_instance *in, char labels[][LABEL_SIZE]) {
    const flowlens_network *network = flowlens_port_network(in, 0);
    if (network == NULL) return;
    const flowlens_timing &cycle = network->cycle_time;
    if (network->nominal_cycle_time != 0) set(st, "Nominal", cycle_node, network->nominal_cycle_time);
    if (cycle.count != 0 && network->counts.powerlink != last_powerlink_frames)
        average(st, labels[UNIT_AVERAGE], cycle_node, cycle.sum / cycle.count / divisors[UNIT_AVERAGE]);
    last_powerlink_frames = network->counts.powerlink;
}

void async_part(stats_tree *st, const flowlens_instance *in) {
    const flowlens_network *network = flowlens_port_network(in, 0);
    if (network == NULL) return;
    const flowlens_slot_counters *slots = &network->slots;
    set(st, "Free Slots", async_node, slots->free_slots);
    set(st, "PLK - ASnd", async_node, slots->asnd_from_mn + slots->asnd_from_cn);
    set(st, "PLK - CN", plk_asnd_pivot, slots->asnd_from_cn);
    set(st, "PLK - MN", plk_asnd_pivot, slots->asnd_from_mn);
    set(st, "Other Protocols", async_node, slots->other_from_mn + slots->other_from_cn);
    set(st, "Other - CN", other_protocols_pivot, slots->other_from_cn);
    set(st, "Other - MN", other_protocols_pivot, slots->other_from_mn);
    set(st, "Total Slots", async_node, slots->soa_slots + slots->ainv_slots);
    set(st, "AInv Slots", total_slots_pivot, slots->ainv_slots);
    set(st, "SoA Slots", total_slots_pivot, slots->soa_slots);
    set(st, "Misplaced Frames", async_node, slots->misplaced.count);
    set(st, "SDO Abort Codes", async_node, slots->sdo_abort.count);
}

// A timing accumulator's growth since the last call, as one sample.
void interval_sample(stats_tree *st, const char *label, int parent, uint64_t sum, uint64_t *last, uint64_t divisor) {
    if (sum > *last) average(st, label, parent, (sum - *last) / divisor);
    *last = sum;
}

void node_part(stats_tree *st, const flowlens_instance *in, int p, char labels[][LABEL_SIZE]) {
    const flowlens_network *network = flowlens_port_network(in, unsigned(p));
    if (network == NULL) return;
    const flowlens_node *nodes = network->nodes;
    for (int i = 0; i < FLOWLENS_NODES; ++i) {
        const flowlens_node &n = nodes[i];
        node_slot &slot = node_slots[p][i];
        if (slot.pivot < 0 && n.frames != 0 &&
            (n.preq_position.count != 0 || n.pres_latency.count != 0 || n.asnd_latency.count != 0)) {
            g_snprintf(slot.label, sizeof slot.label, "%s %03d", (i == 0 || i == FLOWLENS_MN_NODE) ? "MN" : "CN", i);
            slot.pivot = stats_tree_create_pivot(st, slot.label, port_pivots[p]);
        }
        // Node 0's timings are the MN's own PRes position, shown under the MN.
        node_slot &target = node_slots[p][i == 0 ? FLOWLENS_MN_NODE : i];
        if (target.pivot < 0) continue;
        set(st, target.label, port_pivots[p], n.frames);
        const struct {
            const flowlens_timing &timing;
            uint64_t &last;
            unit_index unit;
        } samples[] = {{n.preq_position, target.last_preq_position, UNIT_PREQ_POSITION},
                       {n.pres_latency, target.last_pres_latency, UNIT_PRES_LATENCY},
                       {n.asnd_latency, target.last_asnd_latency, UNIT_ASND_LATENCY}};
        for (const auto &s : samples) {
            if (s.timing.sum <= s.last || s.timing.count == 0) continue;
            average(st, labels[s.unit], target.pivot, s.timing.sum / s.timing.count / divisors[s.unit]);
            s.last = s.timing.sum;
        }
    }
}

void high_resolution_part(stats_tree *st, const flowlens_instance *in, int p, uint64_t *running_total,
                          char labels[][LABEL_SIZE]) {
    const flowlens_network *network = flowlens_port_network(in, unsigned(p));
    if (network == NULL) return;
    *running_total += network->counts.powerlink;
    set(st, p == 0 ? "Port 1" : "Port 2", 0, network->counts.powerlink);
    set(st, "High Resolution", 0, *running_total);
    const int pivot = port_pivots[p];
    const flowlens_timing *interval = &network->packet_interval;
    if (interval->count > 0 && interval->sum != 0) {
        average(st, labels[UNIT_PACKET_INTERVAL], pivot,
                (interval->sum - last_packet_interval_sum[p]) / divisors[UNIT_PACKET_INTERVAL]);
        last_packet_interval_sum[p] = interval->sum;
    }
    interval_sample(st, labels[UNIT_SOA_TO_SOC], pivot, network->soa_to_soc.sum, &last_soa_to_soc_sum[p],
                    divisors[UNIT_SOA_TO_SOC]);
    interval_sample(st, labels[UNIT_ASYNC_IDLE], pivot, network->async_idle.sum, &last_async_idle_sum[p],
                    divisors[UNIT_ASYNC_IDLE]);
    const flowlens_timing &t = network->pres_to_preq;
    if (t.count > last_pres_to_preq_count[p]) {
        average(st, labels[UNIT_PRES_TO_PREQ], pivot, (t.sum - last_pres_to_preq_sum[p]) / divisors[UNIT_PRES_TO_PREQ]);
        last_pres_to_preq_count[p] = t.count;
        last_pres_to_preq_sum[p] = t.sum;
    }
    node_part(st, in, p, labels);
}

}  // namespace

void plk_register_stats_tree(void) {
    plk_set_reset_hook(plk_stats_reset_cells);
    stats_tree_register_plugin("eth", "zel_epl", "Zelmar/POWERLINK", TL_REQUIRES_PROTO_TREE, epl_gen_stats_tree_packet,
                               epl_stats_tree_init, NULL);
    // The cycle samples' command-line form beside the tree's ("zel_epl,tree").
    plk_register_cycles_ui();
}

void plk_stats_reset_cells(void) {
    for (uint64_t &d : divisors) d = 1000;
    last_powerlink_frames = 0;
    for (int p = 0; p < PORTS; ++p) {
        last_packet_interval_sum[p] = last_soa_to_soc_sum[p] = last_async_idle_sum[p] = 0;
        last_pres_to_preq_count[p] = last_pres_to_preq_sum[p] = 0;
    }
}

void epl_stats_tree_init(stats_tree *st) {
    count_node = stats_tree_create_node(st, "Count", 0, STAT_DT_INT, TRUE);
    cycle_node = stats_tree_create_node(st, "Cycle Time", 0, STAT_DT_INT, TRUE);
    async_node = stats_tree_create_node(st, "Async", 0, STAT_DT_INT, TRUE);
    plk_asnd_pivot = stats_tree_create_pivot(st, "PLK - ASnd", async_node);
    other_protocols_pivot = stats_tree_create_pivot(st, "Other Protocols", async_node);
    total_slots_pivot = stats_tree_create_pivot(st, "Total Slots", async_node);
    high_resolution_node = stats_tree_create_node(st, "High Resolution", 0, STAT_DT_INT, TRUE);
    port_pivots[0] = stats_tree_create_pivot(st, "Port 1", high_resolution_node);
    port_pivots[1] = stats_tree_create_pivot(st, "Port 2", high_resolution_node);
    plk_set_last_processed_frame(0);
    last_powerlink_frames = 0;
    for (int p = 0; p < PORTS; ++p) {
        last_packet_interval_sum[p] = last_soa_to_soc_sum[p] = last_async_idle_sum[p] = 0;
        last_pres_to_preq_count[p] = last_pres_to_preq_sum[p] = 0;
    }
    clear_node_slots();
    g_log(NULL, G_LOG_LEVEL_DEBUG, "Stats tree initialized");
}

tap_packet_status epl_gen_stats_tree_packet(stats_tree *st, packet_info *, epan_dissect_t *, const void *,
                                            tap_flags_t) {
    const flowlens_instance *in = plk_analyzer_instance();
    if (in == NULL) return TAP_PACKET_DONT_REDRAW;
    char labels[UNIT_COUNT][LABEL_SIZE];
    for (int u = 0; u < UNIT_COUNT; ++u) g_snprintf(labels[u], LABEL_SIZE, label_formats[u], unit_label(unit_index(u)));

    uint64_t running_total = 0;
    for (int p = 0; p < PORTS; ++p) {
        if (p == 0) {
            count_part(st, in);
            cycle_part(st, in, labels);
            async_part(st, in);
        }
        module_t *module = zelanalyzer_prefs_module();
        pref_t *timemode = module != NULL ? prefs_find_preference(module, "timemode") : NULL;
        if (timemode == NULL) {
            g_log(NULL, G_LOG_LEVEL_DEBUG, "Could not access settings in epl_gen_stats_tree_packet");
            continue;
        }
        if (!prefs_get_bool_value(timemode, pref_current)) break;
        high_resolution_part(st, in, p, &running_total, labels);
    }
    return TAP_PACKET_DONT_REDRAW;
}
