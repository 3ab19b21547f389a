// Extended info text of one frame: source and destination node, frame type,
// flags, sizes, NMT states and commands and service details of POWERLINK V2
// and V1 frames, POWERLINK ASnd over UDP, Modbus/TCP, the ET2000 probe
// trailer and, with analyzer time stamps, the capture port.
//
// The text is built on every dissection after the first pass. It reads the
// engine and changes only the cells it keeps for deltas (SoC and NetTime
// values, ET2000 time, the Modbus request ring, the last text frame).
#ifndef FLOWLENS_FRAME_TEXT_H
#define FLOWLENS_FRAME_TEXT_H

#include <cstddef>
#include <cstdarg>
#include <cstdint>

#include "flowlens.h"

// Size of the buffer the caller hands over (the plug-in allocates it per
// packet). A text never exceeds FLOWLENS_TEXT_LIMIT characters.
#define FLOWLENS_TEXT_BUFFER_SIZE 2049
#define FLOWLENS_TEXT_LIMIT 999

// Marks written over the first character of a text.
enum : char {
    FLOWLENS_MARK_IRREGULAR = '*',  // protocol irregularity
    FLOWLENS_MARK_ERROR = '#',
    FLOWLENS_MARK_SDO_ABORT = '!',  // SDO sequence layer aborted
};

// Builds the text of a frame into buffer (FLOWLENS_TEXT_BUFFER_SIZE bytes).
// Does nothing when the instance, the record, its data or the buffer is
// missing.
void flowlens_frame_text(flowlens_instance *instance, const flowlens_packet_info *packet, char *buffer);

// Name of an NMT state byte ("OPERATIONAL", ..., "Unknown").
const char *nmt_state_name(uint8_t state);

// --- The text writer shared by the frame, SDO and Modbus texts ------------
// Appends within a 1000-byte window from the text start (so at most 999
// characters), always terminated.
void flowlens_text_append(flowlens_instance *instance, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Overwrites the first character of the text.
void flowlens_text_mark(flowlens_instance *instance, char mark);
size_t flowlens_text_length(const flowlens_instance *instance);
// Cuts the text back to length characters (no-op when it is shorter).
void flowlens_text_cut(flowlens_instance *instance, size_t length);

// Appended where a frame ends before the bytes a text needs.
extern const char *const flowlens_text_sliced;  // "(packet sliced, no more information)"

#endif
