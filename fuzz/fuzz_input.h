// Reading a fuzz input as a sequence of small fields, and the check that
// turns a broken invariant into a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                       \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)

// Fields taken from the front of the input; past its end every field reads 0
// and every chunk is empty.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t left() const { return size_ - pos_; }

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }

    // Up to `max` bytes; `length` receives how many there were.
    const uint8_t *chunk(size_t max, size_t *length) {
        const size_t n = max < left() ? max : left();
        const uint8_t *p = data_ + pos_;
        pos_ += n;
        *length = n;
        return p;
    }
    // A chunk whose length is the next 16-bit field (cut to what is left).
    const uint8_t *sizedChunk(size_t *length) { return chunk(u16(), length); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};
