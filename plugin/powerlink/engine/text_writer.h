// The writer of the frame texts (frame_text.h, sdo_text.h, modbus_text.h):
// appends to one text within a window of FLOWLENS_TEXT_LIMIT characters from
// its start, always terminated, and marks or cuts it.
#pragma once

#include <cstddef>

// A text never exceeds this many characters.
#define FLOWLENS_TEXT_LIMIT 999

// Marks written over the first character of a text.
enum : char {
    FLOWLENS_MARK_IRREGULAR = '*',  // protocol irregularity
    FLOWLENS_MARK_ERROR = '#',
    FLOWLENS_MARK_SDO_ABORT = '!',  // SDO sequence layer aborted
};

struct flowlens_text_writer {
    char *start;  // first character of the text
    char *pos;    // the terminator, where the next append writes
};

// Appends within a 1000-byte window from the text start (so at most 999
// characters), always terminated.
void flowlens_text_append(flowlens_text_writer *writer, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Overwrites the first character of the text.
void flowlens_text_mark(flowlens_text_writer *writer, char mark);
size_t flowlens_text_length(const flowlens_text_writer *writer);
// Cuts the text back to length characters (no-op when it is shorter).
void flowlens_text_cut(flowlens_text_writer *writer, size_t length);

// Appended where a frame ends before the bytes a text needs.
extern const char *const flowlens_text_sliced;  // "(packet sliced, no more information)"
