// The zelanalyzer plug-in's Wireshark side: the one protocol that owns every
// field, subtree, expert field, dissector, tap and menu of the plug-in, and
// the entry points the other parts of the plug-in share.
//
// Wireshark reports bounds errors by longjmp (its TRY/THROW), so the
// dissectors keep only trivially destructible locals: no C++ object with a
// destructor may live in a frame that a tvb accessor can unwind.
#pragma once

#include <epan/packet.h>
#include <epan/prefs.h>

#define ZELANALYZER_API extern "C" __attribute__((visibility("default")))

// The protocol id ("Zelmar Analyzer", filter name "zelanalyzer"); -1 until
// registered. Shared by every part of the plug-in, the POWERLINK analysis too.
ZELANALYZER_API int proto_zelanalyzer;

// Registration entry points, called once by Wireshark at start-up.
void proto_register_zelanalyzer(void);
void proto_reg_handoff_zelanalyzer(void);

// The plug-in's preference module (NULL before registration). The POWERLINK
// analysis looks its options up here.
ZELANALYZER_API module_t* zelanalyzer_prefs_module(void);

// Tap ids: "zellyk" gets one lyk_tap_info per Lanyx report; "zelepl" is
// registered for the POWERLINK analysis and not queued by any part yet.
extern int zelanalyzer_lyk_tap;
extern int zelanalyzer_epl_tap;

// Dissectors hung on "epl.asnd".
int dissect_lyk_analyzer(tvbuff_t* tvb, packet_info* pinfo, proto_tree* tree, void* data);
int dissect_ta5521raw_analyzer(tvbuff_t* tvb, packet_info* pinfo, proto_tree* tree, void* data);
int dissect_lanyxplus_analyzer(tvbuff_t* tvb, packet_info* pinfo, proto_tree* tree, void* data);

// Resolves the dissector that Lanyx data areas go to; called at hand-off.
void lyk_analyzer_resolve_payload_dissector(void);

// Lanyx+ data frame payload: the command interface on ports 0, 4, 8 and 12,
// plain payload elsewhere. Returns the subtree the payload went into.
proto_tree* dissect_lanyxplus_cmdif(tvbuff_t* tvb, packet_info* pinfo, proto_tree* tree, int offset,
                                    int payload_length, uint32_t port);
