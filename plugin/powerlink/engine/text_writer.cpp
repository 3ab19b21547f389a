#include "text_writer.h"

#include <cstdarg>
#include <cstdio>

const char *const flowlens_text_sliced = "(packet sliced, no more information)";

namespace {

// Window of one text: 999 characters and the terminator.
constexpr size_t TEXT_WINDOW = FLOWLENS_TEXT_LIMIT + 1;

}  // namespace

void flowlens_text_append(flowlens_text_writer *writer, const char *format, ...) {
    const size_t used = size_t(writer->pos - writer->start);
    if (used >= TEXT_WINDOW - 1) return;
    const size_t room = TEXT_WINDOW - used;
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(writer->pos, room, format, args);
    va_end(args);
    if (written < 0) {
        *writer->pos = '\0';
        return;
    }
    writer->pos += size_t(written) < room ? size_t(written) : room - 1;
}

void flowlens_text_mark(flowlens_text_writer *writer, char mark) {
    if (writer->pos == writer->start) {
        *writer->pos++ = mark;
        *writer->pos = '\0';
        return;
    }
    writer->start[0] = mark;
}

size_t flowlens_text_length(const flowlens_text_writer *writer) { return size_t(writer->pos - writer->start); }

void flowlens_text_cut(flowlens_text_writer *writer, size_t length) {
    if (flowlens_text_length(writer) <= length) return;
    writer->pos = writer->start + length;
    *writer->pos = '\0';
}
