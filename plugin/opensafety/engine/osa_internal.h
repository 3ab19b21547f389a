/* Collection internals shared between the collection's source files. */
#pragma once

#include <cstdint>

/* Appends a UDID tail (bytes 3-5) to the learned candidates unless present
 * or the list is full (the first tails learned stay). */
void osa_learn_udid_tail(uint32_t tail);
