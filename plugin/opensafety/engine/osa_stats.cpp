/* Sample windows, delta trackers and the wrap-around delta. */
#include "osa_stats.h"

#include <cmath>

void osa_sample_window::init(uint16_t cap) {
    values.reset(cap ? new float[cap]() : nullptr);
    capacity = cap;
    count = 0;
    start = 0;
}

void osa_sample_window::push(float v) {
    if (capacity == 0) return;
    values[(start + count) % capacity] = v;
    if (count < capacity)
        ++count;
    else
        start = static_cast<uint16_t>((start + 1) % capacity);
}

float osa_sample_window::at(uint16_t i) const {
    if (i >= count || capacity == 0) return 0.0f;
    return values[(start + i) % capacity];
}

void osa_sample_window::clear() {
    values.reset();
    capacity = 0;
    count = 0;
    start = 0;
}

const osa_delta_sample &osa_delta_tracker::push(uint32_t frame, uint64_t delta) {
    window.push(static_cast<float>(delta));

    /* Running mean and M2 over the window in window order. */
    double mean = 0.0, m2 = 0.0;
    for (uint16_t i = 0; i < window.count; ++i) {
        const double x = window.at(i);
        const double old_mean = mean;
        mean += (x - mean) / (i + 1);
        m2 += (x - mean) * (x - old_mean);
    }
    const double deviation = window.count ? std::sqrt(m2 / window.count) : 0.0;

    osa_delta_sample s;
    s.frame = frame;
    s.delta = delta;
    s.deviation = static_cast<float>(deviation);
    s.mean = static_cast<float>(mean);
    series.push_front(s);
    return series.front();
}

void osa_delta_tracker::add_marker(uint32_t frame, uint64_t delta) {
    osa_delta_sample s;
    s.frame = frame;
    s.delta = delta;
    series.push_front(s);
}

static unsigned bit_length(uint64_t v) {
    unsigned n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

uint64_t osa_wrap_delta(uint64_t old_value, uint64_t new_value, uint64_t modulus) {
    if (new_value > old_value) return new_value - old_value;

    /* A wrapped counter has fewer significant bits than the old value: shift
     * both forward until the old one has wrapped as well. */
    if (modulus != 0) {
        for (int i = 0; i < 10 && bit_length(old_value) > bit_length(new_value); ++i) {
            old_value = (old_value + 1000) % modulus;
            new_value = (new_value + 1000) % modulus;
        }
    }
    if (bit_length(old_value) > bit_length(new_value)) return 0;
    const uint64_t d = new_value - old_value;
    return d <= 0x7FFF ? d : 0;
}
