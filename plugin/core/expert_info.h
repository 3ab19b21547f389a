// The plug-in's one way into Wireshark's expert information: a numeric
// severity picks the expert field, the text becomes the entry's summary.
#pragma once

#include "protocol.h"

// Severity: 0 informational (zel.info), 1 warning (zel.minor), 2 major error
// (zel.major), 3 severe error (zel.severe). Missing arguments or another
// severity add nothing; the packet's dissection goes on. The text is shown
// as it is (a "%" in it is no format).
ZELANALYZER_API void zelanalyzer_expert_info(packet_info *pinfo, proto_item *tree, unsigned int severity,
                                             const char *msg);

// The same entry for a dissection without a protocol tree: it reaches
// Wireshark's expert information (tshark -z expert) without a tree item.
void zelanalyzer_expert_tap_info(packet_info *pinfo, unsigned int severity, const char *msg);
