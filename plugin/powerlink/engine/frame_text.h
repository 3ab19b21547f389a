// Extended info text of one frame: source and destination node, frame type,
// flags, sizes, NMT states and commands and service details of POWERLINK V2
// and V1 frames, POWERLINK ASnd over UDP, Modbus/TCP, the ET2000 probe
// trailer and, with analyzer time stamps, the capture port.
//
// The text is built on every dissection after the first pass. It reads the
// engine and changes only the cells it keeps for deltas (SoC and NetTime
// values, ET2000 time, the Modbus request ring, the last text frame).
#pragma once

#include <cstddef>
#include <cstdarg>
#include <cstdint>

#include "flowlens.h"
#include "text_writer.h"

// Size of the buffer the caller hands over (the plug-in allocates it per
// packet). A text never exceeds FLOWLENS_TEXT_LIMIT characters (text_writer.h).
#define FLOWLENS_TEXT_BUFFER_SIZE 2049

// Builds the text of a frame into buffer (FLOWLENS_TEXT_BUFFER_SIZE bytes).
// Does nothing when the instance, the record, its data or the buffer is
// missing.
void flowlens_frame_text(flowlens_instance *instance, const flowlens_packet_info *packet, char *buffer);

// Name of an NMT state byte ("OPERATIONAL", ..., "Unknown").
const char *nmt_state_name(uint8_t state);
