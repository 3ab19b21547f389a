// The "Zelmar/POWERLINK" statistics tree: counts, cycle times, asynchronous
// slots and, in high-resolution time mode, per-port timings, read from the
// analysis engine of the hook (plk_analyzer.h).
#pragma once

#include <epan/packet.h>
#include <epan/stats_tree.h>
#include <epan/tap.h>

#include "ws_compat.h"

// Registers the tree ("-z zel_epl,tree") and the cycle samples' command-line
// form beside it ("-z zel_epl,cycles"), and hooks the cells' reset into the
// analysis' tap reset. Called from the plug-in's registration.
void plk_register_stats_tree(void);

// Statistics tree callbacks and the cells a tap reset clears.
void epl_stats_tree_init(stats_tree *st);
tap_packet_status epl_gen_stats_tree_packet(stats_tree *st, packet_info *pinfo, epan_dissect_t *edt, const void *data,
                                            tap_flags_t flags);
void plk_stats_reset_cells(void);
