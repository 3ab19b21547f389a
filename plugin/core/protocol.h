// The plug-in's protocol ("Zelmar Analyzer", filter name "zelanalyzer") and
// what hangs off it that every part of the plug-in reads: the preference
// module, the tap ids and the expert fields. Registration creates them in its
// fixed order through the functions below; dissectors, the POWERLINK
// analysis and the openSAFETY collection only read them, so none of them
// depends on the registration.
#pragma once

#include <epan/expert.h>
#include <epan/packet.h>
#include <epan/prefs.h>

#define ZELANALYZER_API extern "C" __attribute__((visibility("default")))

// The protocol id; -1 until registered. Shared by every part of the plug-in,
// the POWERLINK analysis too.
ZELANALYZER_API int proto_zelanalyzer;

// The plug-in's preference module (NULL before registration). The POWERLINK
// analysis looks its options up here.
ZELANALYZER_API module_t *zelanalyzer_prefs_module(void);

// Tap ids: "zellyk" gets one lyk_tap_info per Lanyx report; "zelepl" is
// registered for the POWERLINK analysis and not queued by any part yet.
extern int zelanalyzer_lyk_tap;
extern int zelanalyzer_epl_tap;

// Expert fields zel.severe, zel.major, zel.minor, zel.info.
extern expert_field ei_zel_severe;
extern expert_field ei_zel_major;
extern expert_field ei_zel_minor;
extern expert_field ei_zel_info;

// Registration steps, called once each by proto_register_zelanalyzer in
// this order, with the field, dissector and menu steps in between.
void zelanalyzer_register_protocol(void);       // the protocol id
void zelanalyzer_register_preferences(void);    // the preference module (no apply callback)
void zelanalyzer_register_taps(void);           // "zellyk", then "zelepl"
void zelanalyzer_register_expert_fields(void);  // the four expert fields
