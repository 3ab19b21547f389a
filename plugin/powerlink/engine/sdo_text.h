// SDO part of the extended info text (ASnd service 5): the sequence layer
// with its connection letters, acknowledges and retransmissions from the SDO
// history, and the command layer with object names, values, multiple-
// parameter lists and aborts.
#pragma once

#include <cstdint>

#include "flowlens.h"
#include "flowlens_frame.h"

// p: the POWERLINK bytes of the frame (EPL offset 0 on), bounded to the
// frame. server: node record whose object names a request shows (the
// destination of the frame), may be NULL. Appends to the frame text being
// built and may mark it.
void flowlens_sdo_text(flowlens_instance *instance, flowlens_bytes p, const flowlens_node *server);

// Value of z data bytes at offset of p: " []", " [0x12]", " [0x1234]",
// " [0x12345678]" or " [0x12,0x34,...]".
void flowlens_sdo_value_text(flowlens_instance *instance, flowlens_bytes p, uint32_t offset, uint32_t z);
