/* Collection internals shared between the collection's source files. */
#pragma once

#include <cstdint>

/* Appends a UDID tail (bytes 3-5) to the learned candidates unless present
 * or the list is full (the first tails learned stay). */
void osa_learn_udid_tail(uint32_t tail);

/* True when the last successful recovery read a 40-bit-counter SPDO, whose
 * sub-frame 2 address bytes carry counter bits instead of the address. */
bool osa_last_detection_counter40();

/* True when the last successful recovery was an 11-byte frame matched by a
 * learned tail rather than solved from the frame alone. */
bool osa_last_detection_from_tail();
