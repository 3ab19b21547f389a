// "Zelmar/Lanyx" statistics tree over the "zellyk" tap (tshark -z zel_lyk,tree).
#pragma once

#include <epan/stats_tree.h>

void lyk_stats_tree_init(stats_tree *st);
tap_packet_status lyk_stats_tree_packet(stats_tree *st, packet_info *pinfo, epan_dissect_t *edt, const void *data,
                                        tap_flags_t flags);
