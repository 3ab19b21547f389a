// The zelanalyzer plug-in's Wireshark side: the registration entry points
// and the analyzer-frame dissectors that registration hangs on POWERLINK.
// The protocol they all belong to, with its preference module, taps and
// expert fields, is in protocol.h.
//
// Wireshark reports bounds errors by longjmp (its TRY/THROW), so the
// dissectors keep only trivially destructible locals: no C++ object with a
// destructor may live in a frame that a tvb accessor can unwind.
#pragma once

#include <epan/packet.h>

#include "protocol.h"

// Registration entry points, called once by Wireshark at start-up.
void proto_register_zelanalyzer(void);
void proto_reg_handoff_zelanalyzer(void);

// Dissectors hung on "epl.asnd".
int dissect_lyk_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *data);
int dissect_ta5521raw_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *data);
int dissect_lanyxplus_analyzer(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *data);

// Resolves the dissector that Lanyx data areas go to; called at hand-off.
void lyk_analyzer_resolve_payload_dissector(void);

// Lanyx+ data frame payload: the command interface on ports 0, 4, 8 and 12,
// plain payload elsewhere. Returns the subtree the payload went into.
proto_tree *dissect_lanyxplus_cmdif(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, int offset, int payload_length,
                                    uint32_t port);
