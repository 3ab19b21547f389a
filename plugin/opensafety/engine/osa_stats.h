/* Sample windows, delta trackers and the wrap-around delta of the openSAFETY
 * collection. */
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

/* Fixed-capacity ring of the most recent samples. */
struct osa_sample_window {
    uint16_t capacity = 0;
    uint16_t count = 0;
    uint16_t start = 0;
    std::unique_ptr<float[]> values;

    void init(uint16_t cap);
    void push(float v);
    float at(uint16_t i) const;  // 0 beyond count
    void clear();
};

struct osa_delta_sample {
    uint32_t frame = 0;
    uint64_t delta = 0;
    float deviation = 0;  // population standard deviation of the window after the push
    float mean = 0;       // window mean after the push
};

struct osa_delta_tracker {
    static constexpr uint16_t window_size = 5;

    osa_sample_window window;
    std::deque<osa_delta_sample> series;  // newest first (chunked storage, no allocation per sample)
    uint64_t last = 0;                    // last frame number / counter; 0 = none yet

    osa_delta_tracker() { window.init(window_size); }
    /* Appends delta to the window and prepends a sample; returns the sample. */
    const osa_delta_sample &push(uint32_t frame, uint64_t delta);
    /* Adds a sample to the series only (sync-error markers). */
    void add_marker(uint32_t frame, uint64_t delta);
};

/* Counter/frame difference with wrap-around; 0 when the jump is unexplained. */
uint64_t osa_wrap_delta(uint64_t old_value, uint64_t new_value, uint64_t modulus);
