// Payload classification of one frame for the cycle analysis: reads the
// POWERLINK payload (over Ethernet, or ASnd over UDP port 3819), updates the
// per-node records it describes (mapping versions, NMT states, flags, identity,
// SDO tracking, analyzer dump continuity) and answers the frame's class bits.
#pragma once

#include "flowlens.h"
#include "flowlens_frame.h"

enum class flowlens_payload_mode { ethernet, udp };

#define FLOWLENS_DECODER_MESSAGE_SIZE 200

// Room for the classification's informational text. The caller owns it (one
// on its stack per frame): the result below only points into it, so the
// ~200-byte text is not copied for every frame although almost no frame has
// one, and nothing is allocated per frame.
struct flowlens_message_buffer {
    char text[FLOWLENS_DECODER_MESSAGE_SIZE];
};

// The classification of one frame, returned by value.
struct flowlens_classification {
    frame_class cls;
    uint32_t abort_code;  // with FLOWLENS_CLASS_SDO_ABORT (0 when the frame carried none)
    const char *message;  // informational text in the caller's buffer, NULL for none
};

// frame: the captured bytes of the whole Ethernet frame. The caller sends the
// informational text (if any) once.
flowlens_classification flowlens_classify_payload(flowlens_instance *instance, flowlens_network *network,
                                                  flowlens_bytes frame, flowlens_payload_mode mode,
                                                  flowlens_message_buffer *message);

// Tracks one SDO frame with the instance's tracker (frame number: the
// instance's current frame) the way the classification does: ORs its class
// bits and abort code into *result, writes its text into *message, and
// applies what it learned about the sender to source (may be NULL).
void flowlens_sdo_track(flowlens_instance *instance, const flowlens_sdo_frame *frame, flowlens_node *source,
                        flowlens_classification *result, flowlens_message_buffer *message);
