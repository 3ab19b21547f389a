// Payload classification of one frame for the cycle analysis: reads the
// POWERLINK payload (over Ethernet, or ASnd over UDP port 3819), updates the
// per-node records it describes (mapping versions, NMT states, flags, identity,
// SDO tracking, analyzer dump continuity) and answers the frame's class bits.
#pragma once

#include "flowlens.h"
#include "flowlens_frame.h"

enum class flowlens_payload_mode { ethernet, udp };

// frame: the captured bytes of the whole Ethernet frame. Sends the
// classification's informational text (if any) once at its end.
frame_class flowlens_classify_payload(flowlens_instance *instance, flowlens_network *network,
                                      flowlens_bytes frame, flowlens_payload_mode mode);
