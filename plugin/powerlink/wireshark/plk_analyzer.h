// The flowlens engine inside Wireshark: a heuristic on "eth" that never
// claims a frame but hands every frame to the engine once, in frame order,
// keeps the engine's messages and the frame's extended text with the frame,
// and on every dissection of it (any pass, any order, with or without a
// protocol tree) adds those messages as expert items and writes the text into
// the "Expert Info" column; a tap listener on "eth" whose reset restarts the
// analysis; the "Zelmar/POWERLINK" statistics tree.
#pragma once

#include <epan/packet.h>
#include <epan/tap.h>

#include <cstdint>

#include "ws_compat.h"

struct flowlens_instance;
struct flowlens_packet_info;

// Registration (called from the plug-in's registration, in its order; the
// statistics tree's is in plk_stats.h).
void plk_register_tap_listener(void);  // tap listener on "eth"
void plk_register_cycles_ui(void);     // -z zel_epl,cycles[,csv] (plk_cycles.cpp)
void plk_register_heuristic(void);     // "zel_plk_analyzer" on "eth"

// The heuristic: never claims a frame (it is left to the other dissectors).
zel_heur_result dissect_plk_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *data);
// Creates the engine on first use, then restarts the analysis.
void plk_tap_reset(void *tapdata);
// Called by every tap reset of an existing engine before the analysis
// restarts (the statistics tree clears its cells there); NULL: none.
void plk_set_reset_hook(void (*hook)(void));

// Engine entry points guarding the single instance.
void set_options(void);
void process_packet(flowlens_packet_info *packet, packet_info *pinfo, proto_tree *tree);
void reset_capture(void);
void start_capture(void);
// Writes a frame's text into the column and keeps other dissectors from
// overwriting it.
void write_ext_info(const char *text, packet_info *pinfo, int column);
// Engine messages ("Powerlink: Packet #0000042 - <message>") become expert
// items of the frame being analysed.
void _event_callback(void *context, uint64_t value, uint8_t severity, const char *text, uint64_t excess);

// What the statistics tree reads.
flowlens_instance *plk_analyzer_instance(void);
uint64_t plk_last_processed_frame(void);
void plk_set_last_processed_frame(uint64_t frame);
