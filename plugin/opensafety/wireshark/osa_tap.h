/* Wireshark side of the openSAFETY network analysis: the "opensafety" tap
 * listener that feeds the collection and the "Zelmar/openSAFETY" statistics
 * tree. The collection's records are read through osa_collection.h. */
#pragma once

#include "osa_collection.h"

/* Registers the collection's tap listener, then the statistics tree. Called
 * at the end of the plug-in's protocol registration. Returns 0, or -1 when
 * Wireshark refused the listener (the statistics tree is registered anyway). */
int osa_register_opensafety(void);

/* Node name buffer size of the statistics tree (names are cut at 127 characters). */
constexpr unsigned osa_stats_name_size = 128;
